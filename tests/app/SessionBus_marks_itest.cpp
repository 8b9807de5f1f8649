// `pallaro --mark` / `--unmark` with a window running: the window takes the decision over
// the session bus (the test runs under dbus-run-session and answers as the window does).
#include "app/ScriptCommands.h"
#include "base/Clock.h"
#include "support/AppFixture.h"
#include "ui/KeywordController.h"
#include "ui/TGDPickerController.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace
{

TEST(SessionBusMarks, TheRunningWindowTakesTheDecisionAndHoldsIt)
{
    AppFixture app;
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    app.controller.awakeFromNib();
    const QString day = app.out() + "/" + Clock::today().addDays(1).toString("yyyyMMdd") + ".tgd";
    const QString start = Clock::today().addDays(1).toString("yyyy-MM-dd") + " 18:00";
    ASSERT_TRUE(writeFile(day, "7\t" + start.toLatin1() + "\t30\tNews\t\t\tG\tN\r\n"));
    app.controller.loadExistingTGDs();
    TGDPickerController table;
    KeywordController kwc(&app.slc, &table);
    app.slc.setKeywordController(&kwc);
    kwc.loadRules();
    ASSERT_TRUE(kwc.runReloadCycle(QString()));
    ScriptCommands commands { &app.controller };
    commands.setKeywordController(&kwc);
    ASSERT_EQ(commands.registerOn(), QString());

    const struct {
        QStringList arguments;
        int status;
        const char *field;
    } rows[] = {
        { { "--mark", start, "seven", "--pad", "1,2" }, 0, "-01 +02" },
        { { "--mark", start, "9" }, 1, "-01 +02" },
        { { "--unmark", start, "7" }, 0, "N" },
        { { "--mark", start, "7" }, 0, "Y" },
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.arguments.join(' ').toStdString());
        const Ran ran = runServing(qEnvironmentVariable("PALLARO_EXECUTABLE"), r.arguments);
        EXPECT_EQ(ran.status, r.status) << ran.err.toStdString();
        // Written by the window before it answered.
        EXPECT_TRUE(readFile(day).endsWith(QByteArray("\t") + r.field + "\r\n")) << readFile(day).toStdString();
    }
    // The window holds it: its next cycle keeps it.
    ASSERT_TRUE(kwc.runReloadCycle(QString()));
    EXPECT_TRUE(readFile(day).endsWith("\tY\r\n"));
    QDBusConnection::sessionBus().unregisterService(ScriptCommands::service);
}

} // namespace
