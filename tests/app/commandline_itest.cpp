#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace
{

// The child inherits the fresh home that TempHome points the environment at.
TEST(CommandLine, GetPrintsDefaultsAndReadsBackWhatSetWrote)
{
    TempHome home;
    QString out, err;
    const struct {
        const char *key, *fallback, *value;
    } rows[] = {
        { "location", "Sydney", "Northern NSW (North)" },
        { "uploadFolder", "ProgramFiles", "DataFiles,EPG" }, { "generateGrid", "NO", "YES" },
        { "autoRunTime", nullptr, "06:05" }, // its default depends on the local zone
    };
    for (const auto &row : rows) {
        if (row.fallback) {
            ASSERT_EQ(runPallaro({ "--get", row.key }, {}, &out), 0) << row.key;
            EXPECT_EQ(out, QString(row.fallback) + "\n");
        }
        ASSERT_EQ(runPallaro({ "--set", QString(row.key) + "=" + row.value }, {}, &out), 0);
        ASSERT_EQ(runPallaro({ "--get", row.key }, {}, &out), 0) << row.key;
        EXPECT_EQ(out, QString(row.value) + "\n");
    }

    EXPECT_NE(runPallaro({ "--set", "keywordPadStart=soon" }, {}, &out, &err), 0);
    EXPECT_TRUE(err.contains("keywordPadStart")) << err.toStdString();
    EXPECT_NE(runPallaro({ "--get", "colour" }, {}, &out, &err), 0);
    EXPECT_TRUE(err.contains("unknown setting")) << err.toStdString();
    EXPECT_NE(runPallaro({ "--bogus" }, {}, &out, &err), 0);
}

TEST(CommandLine, HelpListsEveryOption)
{
    QString out;
    ASSERT_EQ(runPallaro({ "--help" }, {}, &out), 0);
    for (const char *option : { "--headless", "--reload", "--download", "--get KEY",
             "--set KEY=VALUE", "--convert XMLTV_FILE OUTPUT_FOLDER", "--xml", "--upload",
             "--pvr-sim FOLDER", "--help" })
        EXPECT_TRUE(out.contains(option)) << option;
}

// The window lives in a program of its own; the command line must run without it.
TEST(WindowHandoff, CommandLineRunsLoadNoWindowLibrary)
{
    QString out;
    ASSERT_EQ(runPallaro({}, { "LD_TRACE_LOADED_OBJECTS=1" }, &out), 0);
    EXPECT_TRUE(out.contains("libQt6Core")) << out.toStdString();
    for (const char *library : { "Widgets", "WebEngine", "libQt6Gui" })
        EXPECT_FALSE(out.contains(library)) << library;
}

// A window run is handed to the window program beside the command as it was started (not
// beside the build), which learns the command's own path for the scheduled-run units.
TEST(WindowHandoff, WindowRunExecsTheProgramBesideTheCommand)
{
    if (!PALLARO_WINDOW_BUILT)
        GTEST_SKIP() << "built without the window";
    TempHome home;
    const QString pallaro = home.path() + "/bin/pallaro";
    ASSERT_TRUE(QDir().mkpath(home.path() + "/bin"));
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("PALLARO_EXECUTABLE"), pallaro));
    ASSERT_TRUE(writeFile(home.path() + "/bin/pallaro-window",
        "#!/bin/sh\necho \"window:$*:$PALLARO_COMMAND\"\nexit 7\n"));
    QFile::setPermissions(home.path() + "/bin/pallaro-window",
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess p;
    p.start(pallaro, QStringList());
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 7);
    EXPECT_EQ(QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed(), "window::" + pallaro);
}

} // namespace
