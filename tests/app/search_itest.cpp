#include "base/Clock.h"
#include "base/Paths.h"
#include "support/TempHome.h"

#include <QDate>
#include <QDir>
#include <gtest/gtest.h>

namespace
{

QByteArray tgdLine(const QString &channel, const QDate &day, const char *time, const QString &title,
    const char *description)
{
    return QStringList { channel, day.toString("yyyy-MM-dd ") + time, "30", title, "[Food]",
        description, "PG", "N" }
               .join('\t')
               .toLatin1()
        + "\r\n";
}

// Day files in the output folder: yesterday's is no longer a guide day.
TEST(SearchCommand, PrintsTheMatchesOfEveryGuideDayAndAnswersLikeGrep)
{
    TempHome home;
    QString out, err;
    EXPECT_EQ(runPallaro({ "--search", "cafe" }, {}, &out, &err), 2);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_TRUE(err.startsWith("pallaro: no output folder")) << err.toStdString();
    EXPECT_EQ(err.count('\n'), 1);

    const QString output = Paths::outputFolder();
    const QDate today = Clock::today();
    const auto name = [&](int days) {
        return output + "/" + today.addDays(days).toString("yyyyMMdd") + ".tgd";
    };
    const QByteArray todays = tgdLine("Zed", today, "18:00", "Café Society", "Food.")
        + tgdLine("Abc", today, "21:00", "Late News", "From the café.")
        + tgdLine("Abc", today, "19:00", "News", "Headlines.");
    ASSERT_TRUE(writeFile(name(-1), tgdLine("Abc", today.addDays(-1), "18:00", "Café", "x")));
    ASSERT_TRUE(writeFile(name(0), todays));
    ASSERT_TRUE(writeFile(name(1), tgdLine("Abc", today.addDays(1), "06:00", "Cafe", "y")));

    const QString t = today.toString("yyyy-MM-dd "), t1 = today.addDays(1).toString("yyyy-MM-dd ");
    const struct {
        QStringList arguments;
        int status;
        QString out;
    } cases[] = {
        { { "--search", "CAFÉ" }, 0,
            t + "21:00\tAbc\tLate News\n" + t + "18:00\tZed\tCafé Society\n" + t1
                + "06:00\tAbc\tCafe\n" },
        { { "--search=news  late" }, 0, t + "21:00\tAbc\tLate News\n" },
        { { "--search", "  " }, 1, "" },
        { { "--search", "nowhere" }, 1, "" },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(runPallaro(c.arguments, {}, &out, &err), c.status) << err.toStdString();
        EXPECT_EQ(out, c.out) << c.arguments.join(' ').toStdString();
    }
    // Nothing is written back or tidied away.
    EXPECT_EQ(readFile(name(0)), todays);
    EXPECT_TRUE(QFile::exists(name(-1)));
}

} // namespace
