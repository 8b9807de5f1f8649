#include "ui/GridController.h"

#include "base/Clock.h"
#include "base/FolderWalk.h"
#include "base/Paths.h"
#include "base/SystemLog.h"
#include "guide/TGDFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

GridController::GridController(QObject *parent)
    : QObject(parent)
{
}

void GridController::loadPages()
{
    pages_.clear();
    currentDay_ = 0;
    folder_ = Paths::outputFolder();
    const int today = Clock::today().toString(QStringLiteral("yyyyMMdd")).toInt();
    for (const QString &relative : walkSorted(folder_)) {
        if (extensionOf(relative) != QLatin1String("html"))
            continue;
        const QString name = withoutExtension(relative);
        if (name != QLatin1String("xmltv") && today > tgd::leadingInt(name)) {
            const QString path = folder_ + QLatin1Char('/') + relative;
            systemLog(path);
            QFile::remove(path);
            continue;
        }
        pages_.append(relative);
    }
    if (pages_.isEmpty())
        return;
    Q_EMIT showUrl(pageUrl(0));
    Q_EMIT previousEnabled(false);
}

void GridController::nextDay()
{
    if (currentDay_ + 1 >= pages_.size())
        return;
    ++currentDay_;
    Q_EMIT showUrl(pageUrl(currentDay_));
    Q_EMIT previousEnabled(true);
    if (currentDay_ + 1 >= pages_.size())
        Q_EMIT nextEnabled(false);
}

void GridController::previousDay()
{
    if (currentDay_ <= 0 || pages_.isEmpty())
        return;
    --currentDay_;
    Q_EMIT showUrl(pageUrl(currentDay_));
    Q_EMIT nextEnabled(true);
    if (currentDay_ == 0)
        Q_EMIT previousEnabled(false);
}

void GridController::displayPage(int index)
{
    if (index < 0 || index >= pages_.size())
        return;
    currentDay_ = index;
    Q_EMIT showUrl(pageUrl(index));
}

void GridController::goToHour(const QString &buttonTitle)
{
    if (pages_.isEmpty())
        return;
    const int anchor = anchorForHour(tgd::leadingInt(buttonTitle));
    Q_EMIT showUrl(pageUrl(currentDay_).resolved(QUrl(QStringLiteral("#%1").arg(anchor))));
}

int GridController::anchorForHour(int hour)
{
    if (hour == 4 || hour == 5)
        return 5;
    return hour >= 22 ? hour - 22 : hour + 2;
}

QUrl GridController::pageUrl(int index) const
{
    QUrl url = QUrl::fromLocalFile(folder_ + QLatin1Char('/') + pages_.value(index));
    // Today's page opens at the hour now on air: the page's anchor n marks hour n - 2.
    const QDateTime now = Clock::now();
    if (tgd::leadingInt(withoutExtension(pages_.value(index)))
        == now.date().toString(QStringLiteral("yyyyMMdd")).toInt())
        url.setFragment(QString::number((now.time().hour() + 2) % 24));
    return url;
}

bool GridController::mayLoad(const QUrl &url, bool asPage) const
{
    if (!url.isLocalFile())
        return false;
    const QString folder = QDir::cleanPath(folder_.isEmpty() ? Paths::outputFolder() : folder_);
    const QString path = QDir::cleanPath(url.toLocalFile());
    if (!path.startsWith(folder + QLatin1Char('/')))
        return false;
    // A link inside the folder counts where it leads.
    const QString real = QFileInfo(path).canonicalFilePath();
    if (!real.isEmpty()
        && !real.startsWith(QFileInfo(folder).canonicalFilePath() + QLatin1Char('/')))
        return false;
    return !asPage || extensionOf(path) == QLatin1String("html");
}
