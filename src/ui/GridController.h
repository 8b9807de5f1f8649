#pragma once

#include "ui/GridPages.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

// The grid preview pages of the output folder, one per guide day, shown one at a time.
// Widget-free: the window connects showUrl to its web view and the two button signals to
// its next-day and previous-day buttons, whose states at start are the window's. UI thread.
class GridController : public QObject, public GridPages
{
    Q_OBJECT
public:
    explicit GridController(QObject *parent = nullptr);

    // Rebuilds the page list from the output folder, in walk order: "xmltv.html" and the
    // pages of today and later days are listed, older pages (and pages whose name does
    // not start with a date) are deleted and their paths written to the system log. Shows
    // the first page and disables previous-day; an empty list changes nothing shown.
    void loadPages() override;
    // The two buttons' actions: one day on or back, with the buttons' states following.
    void nextDay();
    void previousDay();
    // Shows the page at `index` (the day list's selected row); out of range: nothing.
    void displayPage(int index);
    // Scrolls the current page to the hour at the start of the button's title.
    void goToHour(const QString &buttonTitle);
    // The page anchor for an hour: 4 and 5 → 5, 22 and later → h − 22, others h + 2.
    static int anchorForHour(int hour);

    // Page names relative to the output folder, with ".html".
    const QStringList &pages() const { return pages_; }
    int currentDay() const { return currentDay_; }
    // The file URL of the page at `index`.
    QUrl pageUrl(int index) const;
    // Whether the grid view may load `url`: a file inside the output folder, and to show
    // as the page (`asPage`) only one of its ".html" pages. Other files and every remote
    // URL are refused, so a page can neither read them nor lead the view away.
    bool mayLoad(const QUrl &url, bool asPage) const;

Q_SIGNALS:
    // Load this file URL (a page, or a page with an hour fragment) into the web view.
    void showUrl(const QUrl &url);
    void nextEnabled(bool enabled);
    void previousEnabled(bool enabled);

private:
    QString folder_;
    QStringList pages_;
    int currentDay_ = 0;
};
