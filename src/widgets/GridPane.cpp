#include "widgets/GridPane.h"

#include "ui/GridController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

namespace
{

// The pages come from the output folder, which a guide provider fills: they may show the
// folder's pages and load its files, and nothing else.
class GridWebPage : public QWebEnginePage
{
public:
    GridWebPage(GridController *grid, QObject *parent)
        : QWebEnginePage(parent)
        , grid_(grid)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
    {
        return grid_->mayLoad(url, true);
    }

private:
    GridController *grid_;
};

class GridRequestFilter : public QWebEngineUrlRequestInterceptor
{
public:
    GridRequestFilter(GridController *grid, QObject *parent)
        : QWebEngineUrlRequestInterceptor(parent)
        , grid_(grid)
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (!grid_->mayLoad(info.requestUrl(), false))
            info.block(true);
    }

private:
    GridController *grid_;
};

} // namespace

GridPane::GridPane(GridController *grid, QWidget *parent)
    : QWidget(parent)
    , webView_(new QWebEngineView)
    , next_(new QPushButton(tr("Next day")))
    , previous_(new QPushButton(tr("Previous day")))
{
    webView_->setObjectName("gridView");
    auto *page = new GridWebPage(grid, webView_);
    page->setUrlRequestInterceptor(new GridRequestFilter(grid, page));
    // Local file access stays on, as the pages need their script and style sheet beside
    // them; the request filter keeps it to the output folder.
    QWebEngineSettings *web = page->settings();
    web->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    web->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    webView_->setPage(page);
    next_->setObjectName("nextDayButton");
    previous_->setObjectName("previousDayButton");
    // Nothing to step through until the pages are listed.
    next_->setEnabled(false);
    previous_->setEnabled(false);
    connect(next_, &QPushButton::clicked, grid, &GridController::nextDay);
    connect(previous_, &QPushButton::clicked, grid, &GridController::previousDay);
    connect(grid, &GridController::nextEnabled, next_, &QPushButton::setEnabled);
    connect(grid, &GridController::previousEnabled, previous_, &QPushButton::setEnabled);
    connect(grid, &GridController::showUrl, webView_,
        [this, grid](const QUrl &url) {
            webView_->setUrl(url);
            // The buttons follow the day shown, also when the day list chose it: a button
            // that can do nothing is not offered.
            previous_->setEnabled(grid->currentDay() > 0);
            next_->setEnabled(grid->currentDay() + 1 < grid->pages().size());
        });

    auto *bar = new QHBoxLayout;
    bar->setSpacing(2);
    bar->addWidget(previous_);
    bar->addWidget(next_);
    bar->addSpacing(12);
    bar->addWidget(new QLabel(tr("Hour:")));
    // The broadcast day runs from early morning to the small hours.
    for (int hour : { 6, 8, 10, 12, 14, 16, 18, 20, 22, 0, 2, 4 }) {
        auto *button = new QPushButton(QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0')));
        button->setObjectName(QStringLiteral("hour%1").arg(hour));
        button->setToolTip(tr("Go to %1:00").arg(button->text()));
        // Narrow, so that the window still fits a small screen.
        button->setMinimumWidth(fontMetrics().horizontalAdvance(button->text()) + 14);
        button->setMaximumWidth(button->minimumWidth() + 16);
        connect(button, &QPushButton::clicked, grid,
            [grid, button] { grid->goToHour(button->text()); });
        bar->addWidget(button);
        hours_.push_back(button);
    }
    bar->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(webView_, 1);
}
