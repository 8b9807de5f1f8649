#include "base/Paths.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"

#include <QDir>
#include <gtest/gtest.h>

namespace
{

QByteArray tgdLine(const char *channel, const char *start, int minutes, const QString &title)
{
    return QStringList { channel, start, QString::number(minutes), title, "[News]", "", "PG", "N" }
               .join('\t')
               .toLatin1()
        + "\r\n";
}

TEST(NowOnCommand, PrintsWhatIsOnAtTheMinuteAndAnswersLikeGrep)
{
    LocalZone zone;
    TempHome home;
    QString out, err;
    EXPECT_EQ(runPallaro({ "--now-on" }, {}, &out, &err), 2);
    EXPECT_TRUE(err.startsWith("pallaro: no output folder")) << err.toStdString();

    const QString day = Paths::outputFolder() + "/20070312.tgd";
    const QByteArray lines = tgdLine("9", "2007-03-12 19:00", 120, QString::fromUtf8("Café"))
        + tgdLine("2", "2007-03-12 20:00", 30, "Quiz")
        + tgdLine("2", "2007-03-12 19:30", 30, "News");
    ASSERT_TRUE(writeFile(day, lines));
    const struct {
        QStringList arguments;
        int status;
        QString out;
        QString err; // its start
    } cases[] = {
        { { "--now-on", "--at", "2007-03-12 20:00" }, 0,
            QString::fromUtf8("2\t2007-03-12 19:30\tNews\n2\t2007-03-12 20:00\tQuiz\n"
                              "9\t2007-03-12 19:00\tCafé\n"),
            "" },
        { { "--now-on", "--at=2007-03-12 21:01" }, 1, "", "" },
        { { "--now-on", "--at", "2007-03-12 25:00" }, 2, "", "pallaro: --at needs a local time" },
        { { "--now-on", "--at", "12/03/2007 20:00" }, 2, "", "pallaro: --at needs a local time" },
        { { "--at", "2007-03-12 20:00" }, 2, "", "pallaro: --at goes with --now-on" },
    };
    for (const auto &c : cases) {
        const std::string name = c.arguments.join(' ').toStdString();
        EXPECT_EQ(runPallaro(c.arguments, {}, &out, &err), c.status) << name;
        EXPECT_EQ(out, c.out) << name;
        EXPECT_TRUE(c.err.isEmpty() ? err.isEmpty() : err.startsWith(c.err) && err.count('\n') == 1)
            << name << ": " << err.toStdString();
    }
    EXPECT_EQ(readFile(day), lines); // nothing written back

    // A day file that cannot be read: what could be read is still printed.
    ASSERT_TRUE(QDir().mkpath(Paths::outputFolder() + "/20070313.tgd"));
    EXPECT_EQ(runPallaro({ "--now-on", "--at", "2007-03-12 21:00" }, {}, &out, &err), 2);
    EXPECT_EQ(out, QString::fromUtf8("9\t2007-03-12 19:00\tCafé\n"));
    EXPECT_EQ(err, "pallaro: cannot read 20070313.tgd\n");
}

} // namespace
