#include "app/GuideUpload.h"
#include "base/StatusLog.h"
#include "device/PublishPicture.h"
#include "device/ScriptedFtpServer.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <algorithm>
#include <future>
#include <gtest/gtest.h>

namespace
{

const char kName[] = "20261205.tgd";
const char kOlder[] = "the older day";

bool contains(const std::vector<std::string> &list, const std::string &item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool anyStartsWith(const std::vector<std::string> &list, const std::string &prefix)
{
    return std::any_of(
        list.begin(), list.end(), [&](const std::string &s) { return s.rfind(prefix, 0) == 0; });
}

// One exchange with the scripted server, whose folder already holds an older copy of the day.
class ScriptedPublish : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Replies come at once from the scripted server; one second keeps failures quick.
        DefaultTimeout = 1;
        day = home.path() + "/" + kName;
        ASSERT_TRUE(writeFile(day, QByteArray("guide line\r\n").repeated(500)));
    }
    void TearDown() override { DefaultTimeout = 10; }

    QUrl url(int port, const QString &path = "/dir/sub/20261205.tgd",
        const QString &auth = "pvr:secret") const
    {
        return QUrl(
            QStringLiteral("ftp://%1@127.0.0.1:%2%3").arg(auth, QString::number(port), path));
    }

    int exchange(const ScriptedFtpServer::Script &script)
    {
        mark = log.lines().size();
        ScriptedFtpServer server([&script](FtpScriptSession &s) {
            s.files[kName] = kOlder;
            script(s);
        });
        const int status = PublishPicture().publishThread({ day, url(server.port()) });
        server.finish();
        commands = server.commands();
        files = server.files();
        return status;
    }
    std::string stored() const { return files.count(kName) ? files.at(kName) : "(none)"; }
    // What the last exchange wrote to the system log.
    QStringList logged() const { return log.lines().mid(mark); }

    TempHome home;
    SystemLogCapture log;
    QString day;
    std::vector<std::string> commands;
    std::map<std::string, std::string> files;
    qsizetype mark = 0;
};

// Every way a server refuses, drops us or goes quiet: the old file stays, and the exchange
// ends with QUIT unless the server has already closed (421, 426).
TEST_F(ScriptedPublish, RefusalsAndDropsLeaveTheOldFile)
{
    struct Case {
        const char *verb;
        const char *reply; // nullptr: receive the data, then say nothing
        int status;
        const char *logLine;
        const char *notSent;
        bool quit, abort, result;
        const char *left = kOlder; // what the server holds under the name afterwards
    };
    const Case cases[] = {
        { "USER", "530 go away\r\n", 530, "user response: 530", "PASS", true, false, false },
        { "PASS", "530 wrong\r\n", 530, "pass response: 530", "CWD", true, false, false },
        { "CWD", "550 no such folder\r\n", 550, "CWD error", "TYPE", true, false, false },
        { "TYPE", "504 no binary\r\n", 504, "transfermode error", "PORT", true, false, false },
        { "TYPE", "421 shutting down\r\n", 421, "transfermode error", "PORT", false, false, false },
        { "PORT", "500 no active mode\r\n", 500, "response: 500", "STOR", true, false, false },
        { "STOR", "553 not allowed\r\n", 553, "stor problem: 553", "DELE", true, false, true },
        { "STOR", "426 connection lost\r\n", 426, "uploadresult: 426", "DELE", false, false, true },
        { "STOR", nullptr, 60, "timeout?", "DELE", true, true, true },
        { "RNFR", "550 gone\r\n", 550,
            "Publish: Failed to rename file 20261205.tgd after upload. Error = 550.", "RNTO", true,
            false, true, "(none)" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.verb) + " " + (c.reply ? c.reply : "(silence)"));
        const bool afterData = std::string(c.verb) == "STOR" && c.status != 553;
        EXPECT_EQ(exchange([&c, afterData](FtpScriptSession &s) {
            standardDialogue(s, [&](const std::string &line) -> std::optional<std::string> {
                if (line.rfind(c.verb, 0) != 0)
                    return std::nullopt;
                if (afterData) {
                    s.send("150 go\r\n");
                    s.receiveData();
                    if (!c.reply)
                        return s.hasInput(5000) ? std::optional<std::string>("226 late\r\n")
                                                : std::nullopt;
                }
                return std::string(c.reply);
            });
        }),
            c.status);
        const QStringList lines = logged();
        EXPECT_TRUE(lines.contains(c.logLine)) << lines.join("|").toStdString();
        EXPECT_FALSE(anyStartsWith(commands, c.notSent));
        EXPECT_EQ(contains(commands, "QUIT"), c.quit);
        EXPECT_EQ(contains(commands, "ABOR"), c.abort);
        EXPECT_EQ(lines.contains(QStringLiteral("uploadresult: %1").arg(c.status)), c.result);
        EXPECT_EQ(stored(), c.left);
    }
    // A greeting other than 220 closes at once.
    EXPECT_EQ(exchange([](FtpScriptSession &s) { standardDialogue(s, {}, "421 full\r\n"); }), 421);
    EXPECT_TRUE(commands.empty());
    EXPECT_TRUE(logged().contains("ready? response: 421"));
}

TEST_F(ScriptedPublish, LineBreaksInTheUrlAreRefusedBeforeConnecting)
{
    for (const auto &[path, auth] : std::vector<std::pair<QString, QString>> {
             { "/dir%0D%0ADELE%20x/20261205.tgd", "pvr:secret" },
             { "/dir/20261205.tgd%0ADELE%20x", "pvr:secret" },
             { "/dir/x.tgd", "pvr:a%0D%0ADELE%20y" } }) {
        ScriptedFtpServer server([](FtpScriptSession &s) { standardDialogue(s); });
        EXPECT_FALSE(PublishPicture().publish(day, url(server.port(), path, auth)));
        EXPECT_FALSE(server.connected()) << path.toStdString();
    }
}

TEST_F(ScriptedPublish, BusyWhileAnExchangeRuns)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> greeted { false };
    ScriptedFtpServer server([&](FtpScriptSession &s) {
        greeted = true;
        released.wait();
        standardDialogue(s);
    });
    EXPECT_FALSE(PublishPicture::busy());
    auto running = std::async(
        std::launch::async, [&] { return PublishPicture().publish(day, url(server.port())); });
    while (!greeted)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(PublishPicture::busy());
    release.set_value();
    EXPECT_TRUE(running.get());
    EXPECT_FALSE(PublishPicture::busy());
}

// A server that never stops talking after the login must not hold the upload: the file
// fails within the reply limit and the next one is sent.
TEST_F(ScriptedPublish, EndlessLoginMessagesFailTheFileAndTheNextIsSent)
{
    struct Case {
        const char *first; // the PASS reply
        const char *again; // sent over and over until the client speaks
        int pauseMs;
        const char *logLine;
        const char *step; // where the StatusLog says the exchange failed
    };
    const Case cases[] = {
        { "230 logged in\r\n", "230 still logged in\r\n", 20, "login messages never end",
            "the login messages" },
        { "230 logged in\r\n", "230 still logged in\r\n", 0, "login messages never end",
            "the login messages" },
        { "230-Welcome\r\n", " and more\r\n", 20, "pass response: 60", "PASS" },
        { "230-Welcome\r\n", "230-and more\r\n", 0, "pass response: 60", "PASS" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.again) + std::to_string(c.pauseMs));
        mark = log.lines().size();
        StatusLog status;
        GuideUpload upload(&status);
        ScriptedFtpServer talker([&c](FtpScriptSession &s) {
            standardDialogue(s, [&](const std::string &line) -> std::optional<std::string> {
                if (line.rfind("PASS", 0) != 0)
                    return std::nullopt;
                s.send(c.first);
                while (!s.hasInput())
                    s.send(c.again, c.pauseMs);
                return std::string();
            });
        });
        ScriptedFtpServer polite([](FtpScriptSession &s) { standardDialogue(s); });
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(upload.uploadPath(day, url(talker.port())).sent());
        EXPECT_LT(timer.elapsed(), 5000);
        talker.finish();
        EXPECT_TRUE(upload.uploadPath(day, url(polite.port())).sent());
        polite.finish();
        // The failure names the server and the step it stopped at.
        EXPECT_EQ(status.text(),
            QStringLiteral("Failed\nThe exchange with the FTP server 127.0.0.1:%1 failed at %2: "
                           "no answer in time\nDone\n")
                .arg(talker.port())
                .arg(c.step));
        EXPECT_TRUE(logged().contains(c.logLine)) << logged().join("|").toStdString();
        EXPECT_FALSE(anyStartsWith(talker.commands(), "CWD"));
        EXPECT_EQ(polite.files().count(kName), 1u);
    }
}

// The only slow case: the wait for the data connection is a fixed 10 seconds.
TEST_F(ScriptedPublish, ServerThatNeverConnectsGetsAborAfterTenSeconds)
{
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(exchange([](FtpScriptSession &s) {
        standardDialogue(s, [](const std::string &line) -> std::optional<std::string> {
            if (line.rfind("STOR", 0) != 0)
                return std::nullopt;
            return std::string("150 opening (but never will)\r\n");
        });
    }),
        60);
    EXPECT_GE(timer.elapsed(), 9900);
    EXPECT_LT(timer.elapsed(), 15000);
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], "ABOR");
    EXPECT_EQ(commands.back(), "QUIT");
    const QStringList lines = log.lines();
    EXPECT_LT(lines.indexOf("stor to?"), lines.indexOf("uploadresult: 60"));
    EXPECT_GE(lines.indexOf("stor to?"), 0);
}

} // namespace
