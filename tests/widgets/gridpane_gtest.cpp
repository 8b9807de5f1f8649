// The grid view on pages a guide provider's data fills: the program's own script runs, and
// nothing outside the output folder is read, fetched or navigated to.
#include "base/Paths.h"
#include "support/AppFixture.h"
#include "support/FixedClock.h"
#include "ui/GridController.h"
#include "widgets/GridPane.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QWebEngineView>
#include <gtest/gtest.h>

namespace
{

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        processFor(50);
    return done();
}

TEST(GridPane, PagesRunTheProgramsScriptButReachNothingOutsideTheOutputFolder)
{
    TempHome home;
    const QString output = Paths::outputFolder();
    const QString outside = QUrl::fromLocalFile(home.path() + "/outside").toString();
    ASSERT_TRUE(writeFile(home.path() + "/outside/secret.html", "<title>secret</title>"));
    ASSERT_TRUE(writeFile(home.path() + "/outside/pic.svg",
        "<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'/>"));
    ASSERT_TRUE(writeFile(
        output + "/pic.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'/>"));
    ASSERT_TRUE(writeFile(output + "/popup.js", "document.title += '|script';"));
    QTcpServer remote;
    ASSERT_TRUE(remote.listen(QHostAddress::LocalHost, 0));
    const QString seen = "|script|inside|outside-refused|remote-refused";
    ASSERT_TRUE(writeFile(output + "/20990301.html",
        QString("<html><head><title>page</title><script src='popup.js'></script></head><body>"
                "<img src='pic.svg' onload=\"document.title+='|inside'\">"
                "<img src='%1/pic.svg' onload=\"document.title+='|outside-read'\" "
                "onerror=\"document.title+='|outside-refused'\">"
                "<img src='http://127.0.0.1:%2/x.png' onload=\"document.title+='|remote-read'\" "
                "onerror=\"document.title+='|remote-refused'\">"
                "<a id='away' href='%1/secret.html'>away</a></body></html>")
            .arg(outside)
            .arg(remote.serverPort())
            .toUtf8()));

    GridController grid;
    const FixedClock clock(QDateTime(QDate(2099, 3, 1), QTime(12, 0)));
    GridPane pane(&grid);
    pane.resize(800, 600);
    pane.show();
    grid.loadPages();
    QWebEngineView *view = pane.webView();
    const auto title = [view] { return view->title(); };
    ASSERT_TRUE(waitFor([&] { return title().count('|') >= 4; }, 60000)) << title().toStdString();
    for (const QString &part : seen.split('|', Qt::SkipEmptyParts))
        EXPECT_TRUE(title().contains(part)) << title().toStdString();
    EXPECT_FALSE(remote.waitForNewConnection(100));

    view->page()->runJavaScript("document.getElementById('away').click();");
    processFor(2000);
    EXPECT_EQ(view->url(), grid.pageUrl(0));
    EXPECT_TRUE(title().startsWith("page")) << title().toStdString();
}

} // namespace
