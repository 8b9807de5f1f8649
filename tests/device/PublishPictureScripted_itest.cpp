#include "device/PublishPicture.h"
#include "device/ScriptedFtpServer.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <future>
#include <gtest/gtest.h>

namespace
{

bool contains(const std::vector<std::string> &list, const std::string &item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool anyStartsWith(const std::vector<std::string> &list, const std::string &prefix)
{
    return std::any_of(
        list.begin(), list.end(), [&](const std::string &s) { return s.rfind(prefix, 0) == 0; });
}

class ScriptedPublish : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DefaultTimeout = 10;
        day = home.path() + "/20261205.tgd";
        contents = QByteArray("guide line\r\n").repeated(500);
        ASSERT_TRUE(writeFile(day, contents));
    }
    void TearDown() override { setFtpDataWriter({}); }

    QUrl url(
        int port, const QString &path = "/dir/sub/20261205.tgd", const QString &auth = "pvr:secret")
    {
        return QUrl(
            QStringLiteral("ftp://%1@127.0.0.1:%2%3").arg(auth, QString::number(port), path));
    }

    int publish(ScriptedFtpServer &server, const QUrl &target)
    {
        PublishPicture publisher;
        const int status = publisher.publishThread({ day, target });
        server.finish();
        return status;
    }

    TempHome home;
    SystemLogCapture log;
    QString day;
    QByteArray contents;
};

TEST_F(ScriptedPublish, StoresUnderTemporaryNameThenRenamesAndLogsEachStep)
{
    ScriptedFtpServer server([](FtpScriptSession &s) {
        s.files["20261205.tgd"] = "an older day";
        standardDialogue(s);
    });
    EXPECT_EQ(publish(server, url(server.port())), 0);

    const auto files = server.files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.at("20261205.tgd"), contents.toStdString());
    const std::vector<std::string> expected
        = { "USER pvr", "PASS secret", "CWD dir/sub", "TYPE I", "STOR 20261205.tgd.tmp",
              "DELE 20261205.tgd", "RNFR 20261205.tgd.tmp", "RNTO 20261205.tgd", "QUIT" };
    std::vector<std::string> seen = server.commands();
    seen.erase(std::remove_if(seen.begin(), seen.end(),
                   [](const std::string &c) { return c.rfind("PORT ", 0) == 0; }),
        seen.end());
    EXPECT_EQ(seen, expected);
    // PORT names the control connection's own address.
    EXPECT_TRUE(anyStartsWith(server.commands(), "PORT 127,0,0,1,"));

    const QStringList lines = log.lines();
    for (const char *line : { "Server connected", "pass response: 230", "CWD dir/sub", "PUTting",
             "STOR 20261205.tgd.tmp", "DELE 20261205.tgd", "RNTO 20261205.tgd", "uploadresult: 0" })
        EXPECT_TRUE(lines.contains(line)) << line;
    EXPECT_TRUE(lines.contains("messages response: 60"));
    for (const QString &line : lines)
        EXPECT_FALSE(line.contains("secret")) << line.toStdString();
}

TEST_F(ScriptedPublish, GreetingAndRepliesSplitAcrossReadsAreReassembled)
{
    // Greeting over several lines and reads, one read ending inside a line; the PASS reply
    // split inside its code; a multi-line TYPE reply whose free text arrives apart.
    ScriptedFtpServer server([](FtpScriptSession &s) {
        standardDialogue(s,
            [&s](const std::string &line) -> std::optional<std::string> {
                if (line.rfind("PASS", 0) == 0) {
                    s.send("23", 80);
                    return std::string("0 logged in\r\n");
                }
                if (line == "TYPE I") {
                    s.send("200-binary\r\n", 80);
                    s.send("as you like it\r\n", 80);
                    return std::string("200 ok\r\n");
                }
                return std::nullopt;
            },
            { "220-Welcome\r\n220-to the te", "st", " server\r\n", "220 ready\r\n" });
    });
    EXPECT_EQ(publish(server, url(server.port())), 0);
    EXPECT_EQ(server.files().count("20261205.tgd"), 1u);
    EXPECT_TRUE(log.lines().contains("pass response: 230"));
}

TEST_F(ScriptedPublish, LoginAcceptedAtUserSendsNoPassword)
{
    ScriptedFtpServer server([](FtpScriptSession &s) {
        standardDialogue(s, [](const std::string &line) -> std::optional<std::string> {
            if (line.rfind("USER", 0) == 0)
                return std::string("230 welcome back\r\n");
            return std::nullopt;
        });
    });
    EXPECT_EQ(publish(server, url(server.port())), 0);
    EXPECT_FALSE(anyStartsWith(server.commands(), "PASS"));
    EXPECT_EQ(server.files().count("20261205.tgd"), 1u);
}

TEST_F(ScriptedPublish, FolderIsTriedRelativeThenAbsolute)
{
    const auto onlyAbsolute = [](const std::string &line) -> std::optional<std::string> {
        if (line.rfind("CWD", 0) == 0)
            return std::string(line.size() > 4 && line[4] == '/' ? "250 ok\r\n" : "550 no\r\n");
        return std::nullopt;
    };
    {
        ScriptedFtpServer server([&](FtpScriptSession &s) { standardDialogue(s, onlyAbsolute); });
        EXPECT_EQ(publish(server, url(server.port())), 0);
        const auto c = server.commands();
        EXPECT_TRUE(contains(c, "CWD dir/sub"));
        EXPECT_TRUE(contains(c, "CWD /dir/sub"));
        EXPECT_EQ(server.files().count("20261205.tgd"), 1u);
    }
    {
        // A file straight under the root: an empty folder first, then "/".
        ScriptedFtpServer server([&](FtpScriptSession &s) { standardDialogue(s, onlyAbsolute); });
        EXPECT_EQ(publish(server, url(server.port(), "/20261205.tgd")), 0);
        EXPECT_TRUE(contains(server.commands(), "CWD "));
        EXPECT_TRUE(contains(server.commands(), "CWD /"));
    }
}

TEST_F(ScriptedPublish, RefusalsEndTheExchangeWithQuit)
{
    struct Case {
        const char *verb;
        const char *reply;
        const char *logLine;
        const char *notSent;
        int status;
    };
    const Case cases[] = {
        { "USER", "530 go away\r\n", "user response: 530", "PASS", 530 },
        { "PASS", "530 wrong\r\n", "pass response: 530", "CWD", 530 },
        { "CWD", "550 no such folder\r\n", "CWD error", "TYPE", 550 },
        { "TYPE", "504 no binary\r\n", "transfermode error", "PORT", 504 },
        { "PORT", "500 no active mode\r\n", "response: 500", "STOR", 500 },
        { "STOR", "553 not allowed\r\n", "stor problem: 553", "DELE", 553 },
        { "RNFR", "550 gone\r\n",
            "Publish: Failed to rename file 20261205.tgd after upload. Error = 550.", "RNTO", 550 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.verb);
        SystemLogCapture caseLog;
        ScriptedFtpServer server([&c](FtpScriptSession &s) {
            standardDialogue(s, [&c](const std::string &line) -> std::optional<std::string> {
                if (line.rfind(c.verb, 0) == 0)
                    return std::string(c.reply);
                return std::nullopt;
            });
        });
        EXPECT_EQ(publish(server, url(server.port())), c.status);
        EXPECT_TRUE(caseLog.lines().contains(c.logLine)) << caseLog.lines().join("|").toStdString();
        EXPECT_FALSE(anyStartsWith(server.commands(), c.notSent));
        EXPECT_EQ(server.commands().back(), "QUIT");
        EXPECT_FALSE(contains(server.commands(), "ABOR"));
        EXPECT_EQ(server.files().count("20261205.tgd"), 0u);
        // Only a store that got past STOR reports its result.
        const bool stored = std::string(c.verb) == "STOR" || std::string(c.verb) == "RNFR";
        EXPECT_EQ(
            caseLog.lines().contains(QStringLiteral("uploadresult: %1").arg(c.status)), stored);
    }
}

TEST_F(ScriptedPublish, ServerDroppingUsGetsNoQuit)
{
    {
        // 421 (closing) in the middle of the exchange.
        ScriptedFtpServer server([](FtpScriptSession &s) {
            standardDialogue(s, [](const std::string &line) -> std::optional<std::string> {
                if (line == "TYPE I")
                    return std::string("421 shutting down\r\n");
                return std::nullopt;
            });
        });
        EXPECT_EQ(publish(server, url(server.port())), 421);
        EXPECT_EQ(server.commands().back(), "TYPE I");
    }
    {
        // 426 (transfer aborted) after the data came in: no rename, no QUIT.
        ScriptedFtpServer server([](FtpScriptSession &s) {
            standardDialogue(s, [&s](const std::string &line) -> std::optional<std::string> {
                if (line.rfind("STOR", 0) == 0) {
                    s.send("150 go\r\n");
                    s.receiveData();
                    return std::string("426 connection lost\r\n");
                }
                return std::nullopt;
            });
        });
        EXPECT_EQ(publish(server, url(server.port())), 426);
        EXPECT_TRUE(log.lines().contains("uploadresult: 426"));
        EXPECT_FALSE(anyStartsWith(server.commands(), "DELE"));
        EXPECT_FALSE(contains(server.commands(), "QUIT"));
    }
    {
        // A greeting other than 220 closes at once.
        ScriptedFtpServer server(
            [](FtpScriptSession &s) { standardDialogue(s, {}, { "421 too many users\r\n" }); });
        EXPECT_EQ(publish(server, url(server.port())), 421);
        EXPECT_TRUE(server.commands().empty());
        EXPECT_TRUE(log.lines().contains("ready? response: 421"));
    }
}

TEST_F(ScriptedPublish, DataConnectionTakingTooFewBytesIsCompletedOrAborted)
{
    contents = QByteArray(300 * 1024, 'x');
    for (int i = 0; i < contents.size(); i += 7)
        contents[i] = char('a' + i % 26);
    ASSERT_TRUE(writeFile(day, contents));
    {
        // A data path that takes at most 1000 bytes per call still delivers the whole file.
        setFtpDataWriter([](int fd, const char *data, size_t length) {
            return ::send(fd, data, std::min<size_t>(length, 1000), MSG_NOSIGNAL);
        });
        ScriptedFtpServer server([](FtpScriptSession &s) {
            s.files["20261205.tgd"] = "the good older day";
            standardDialogue(s);
        });
        EXPECT_EQ(publish(server, url(server.port())), 0);
        EXPECT_EQ(server.files().at("20261205.tgd"), contents.toStdString());
    }
    {
        // One that takes nothing, or fails, aborts and leaves the old file alone.
        struct Case {
            FtpDataWriter writer;
            int status;
        };
        const Case cases[] = {
            { [](int, const char *, size_t) -> ssize_t { return 0; }, 55 },
            { [](int, const char *, size_t) -> ssize_t {
                 errno = EPIPE;
                 return -1;
             },
                EPIPE },
        };
        for (const Case &c : cases) {
            setFtpDataWriter(c.writer);
            ScriptedFtpServer server([](FtpScriptSession &s) {
                s.files["20261205.tgd"] = "the good older day";
                standardDialogue(s);
            });
            EXPECT_EQ(publish(server, url(server.port())), c.status);
            EXPECT_TRUE(contains(server.commands(), "ABOR"));
            EXPECT_FALSE(anyStartsWith(server.commands(), "DELE"));
            EXPECT_EQ(server.files().at("20261205.tgd"), "the good older day");
        }
    }
}

TEST_F(ScriptedPublish, EmptyDayFileIsStoredEmpty)
{
    ASSERT_TRUE(writeFile(day, QByteArray()));
    ScriptedFtpServer server([](FtpScriptSession &s) {
        s.files["20261205.tgd"] = "yesterday's version";
        standardDialogue(s);
    });
    EXPECT_EQ(publish(server, url(server.port())), 0);
    EXPECT_EQ(server.files().at("20261205.tgd"), "");
}

TEST_F(ScriptedPublish, LineBreaksInTheUrlAreRefusedBeforeConnecting)
{
    for (const char *path : { "/dir%0D%0ADELE%20x/20261205.tgd", "/dir/20261205.tgd%0ADELE%20x" }) {
        ScriptedFtpServer server([](FtpScriptSession &s) { standardDialogue(s); });
        PublishPicture publisher;
        EXPECT_FALSE(publisher.publish(day, url(server.port(), path)));
        EXPECT_FALSE(server.connected()) << path;
    }
    ScriptedFtpServer server([](FtpScriptSession &s) { standardDialogue(s); });
    PublishPicture publisher;
    EXPECT_FALSE(publisher.publish(day, url(server.port(), "/dir/x.tgd", "pvr:a%0D%0ADELE%20y")));
    EXPECT_FALSE(server.connected());
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
    auto running = std::async(std::launch::async, [&] {
        PublishPicture publisher;
        return publisher.publish(day, url(server.port()));
    });
    while (!greeted)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(PublishPicture::busy());
    release.set_value();
    EXPECT_TRUE(running.get());
    EXPECT_FALSE(PublishPicture::busy());
}

// The only slow case: the wait for the data connection is a fixed 10 seconds.
TEST_F(ScriptedPublish, ServerThatNeverConnectsGetsAborAfterTenSeconds)
{
    ScriptedFtpServer server([](FtpScriptSession &s) {
        standardDialogue(s, [](const std::string &line) -> std::optional<std::string> {
            if (line.rfind("STOR", 0) == 0)
                return std::string("150 opening (but never will)\r\n");
            return std::nullopt;
        });
    });
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(publish(server, url(server.port())), 60);
    EXPECT_GE(timer.elapsed(), 9900);
    EXPECT_LT(timer.elapsed(), 15000);
    const auto c = server.commands();
    ASSERT_GE(c.size(), 2u);
    EXPECT_EQ(c[c.size() - 2], "ABOR");
    EXPECT_EQ(c.back(), "QUIT");
    const QStringList lines = log.lines();
    EXPECT_TRUE(lines.contains("stor to?"));
    EXPECT_TRUE(lines.contains("uploadresult: 60"));
    EXPECT_LT(lines.indexOf("stor to?"), lines.indexOf("uploadresult: 60"));
}

} // namespace
