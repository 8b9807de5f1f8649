#include "app/FtpUpload.h"
#include "base/Settings.h"
#include "device/PublishPicture.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

struct ParseCase {
    const char *text;
    int previous;
    int code;
    bool more;
};

TEST(FtpReplyCode, ParsesCodesAndMultiLineReplies)
{
    const ParseCase cases[] = {
        { "220 ready\r\n", 0, 220, false },
        { "331 password please\r\n", 0, 331, false },
        // A multi-line reply closed in the same chunk, and one left open.
        { "220-Welcome\r\n220-to the server\r\n220 ready\r\n", 0, 220, false },
        { "220-Welcome\r\n220-to the server\r\n", 0, 220, true },
        // Free text lines inside a multi-line reply.
        { "230-Hello\r\nread the rules\r\n230 logged in\r\n", 0, 230, false },
        // Only a line beginning with the same code and a space closes it.
        { "211-Features\r\n 211 not at the start\r\n211-still open\r\n", 0, 211, true },
        { "211-Features\r\n212 other code\r\n", 0, 211, true },
        // Continuations: a leading space, or no code while a reply is under way.
        { " more text\r\n220 done\r\n", 220, 220, false },
        { " more text\r\n", 220, 220, true },
        { "free text\r\n226 ok\r\n", 226, 226, false },
        // A chunk that begins with the closing line.
        { "220 done\r\n", 220, 220, false },
        // No code and no reply under way.
        { "hello\r\n", 0, 0, false },
        // Bare LF line ends are accepted as well.
        { "250-a\n250 b\n", 0, 250, false },
        // The closing line must be whole: "220" without its space does not close.
        { "220-a\r\n220", 0, 220, true },
    };
    for (const ParseCase &c : cases) {
        SCOPED_TRACE(c.text);
        bool more = !c.more;
        EXPECT_EQ(FtpGetServerResponseCode(c.text, std::strlen(c.text), c.previous, &more), c.code);
        EXPECT_EQ(more, c.more);
    }
    // The length bounds the search: a closing line past it is not seen.
    const char *text = "220-a\r\n220 b\r\n";
    bool more = false;
    EXPECT_EQ(FtpGetServerResponseCode(text, 7, 0, &more), 220);
    EXPECT_TRUE(more);
    EXPECT_EQ(FtpGetServerResponseCode(nullptr, 0, 0, &more), 0);
    EXPECT_FALSE(more);
}

class SocketPair : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
    void TearDown() override
    {
        ::close(fds[0]);
        if (fds[1] >= 0)
            ::close(fds[1]);
    }
    int fds[2] = { -1, -1 };
    SystemLogCapture log;
};

TEST_F(SocketPair, ReadsOneChunkOrReportsWhyNot)
{
    char *text = nullptr;
    size_t length = 99;
    EXPECT_EQ(FtpGetServerResponseWithTimeout(fds[0], 1, nullptr, &length), 22);

    ASSERT_EQ(::write(fds[1], "220 hi\r\n", 8), 8);
    ASSERT_EQ(FtpGetServerResponseWithTimeout(fds[0], 1, &text, &length), 0);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), "220 hi\r\n");
    EXPECT_EQ(length, 8u);
    std::free(text);

    // Above 9999 the limit is in microseconds; 1.5 s must still be a valid wait.
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(FtpGetServerResponseWithTimeout(fds[0], 200000, &text, &length), 60);
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(text, nullptr);
    timer.restart();
    EXPECT_EQ(FtpGetServerResponseWithTimeout(fds[0], 1500000, &text, &length), 60);
    EXPECT_GE(timer.elapsed(), 1400);
    EXPECT_TRUE(log.lines().contains("timeout?"));

    ::close(fds[1]);
    fds[1] = -1;
    EXPECT_EQ(FtpGetServerResponseWithTimeout(fds[0], 1, &text, &length), 9999);
}

TEST_F(SocketPair, CommandReadsTheWholeReply)
{
    EXPECT_EQ(FtpCommand(fds[0], nullptr, 0), 22);
    EXPECT_EQ(FtpCommand(fds[0], "NOOP\r\n", 0), 22);
    // The whole multi-line reply is already waiting, then the closing part comes later.
    ASSERT_EQ(::write(fds[1], "211-Features\r\n SIZE\r\n", 21), 21);
    std::thread late([fd = fds[1]] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(::write(fd, "211 End\r\n", 9), 9);
    });
    EXPECT_EQ(FtpCommand(fds[0], "FEAT\r\n", 6), 211);
    late.join();
    char sent[16] = {};
    ASSERT_EQ(::read(fds[1], sent, sizeof sent), 6);
    EXPECT_EQ(std::string(sent), "FEAT\r\n");
}

TEST(PublishTimeout, RaisesTheLimitOnlyAboveTenAndStaysBounded)
{
    TempHome home;
    Settings::registerDefaults();
    DefaultTimeout = 10;
    {
        PublishPicture p;
    }
    EXPECT_EQ(DefaultTimeout, 10); // absent
    Settings::setValue("PublishTimeout", 5);
    {
        PublishPicture p;
    }
    EXPECT_EQ(DefaultTimeout, 10);
    Settings::setValue("PublishTimeout", 30);
    {
        PublishPicture p;
    }
    EXPECT_EQ(DefaultTimeout, 30);
    // A huge value would turn into a microsecond limit (or one the wait rejects): bounded.
    Settings::setValue("PublishTimeout", 5000000);
    {
        PublishPicture p;
    }
    EXPECT_EQ(DefaultTimeout, 9999);
    DefaultTimeout = 10;
}

TEST(FtpUploadDestination, FolderWithOrWithoutFinalSlashLeadsToTheSamePlace)
{
    EXPECT_EQ(FtpUpload::destinationURL("ftp://u:p@host/epg", "20261205.tgd"),
        "ftp://u:p@host/epg/20261205.tgd");
    EXPECT_EQ(FtpUpload::destinationURL("ftp://u:p@host/epg/", "20261205.tgd"),
        "ftp://u:p@host/epg/20261205.tgd");
    EXPECT_EQ(FtpUpload::destinationURL("ftp://host", "a.tgd"), "ftp://host/a.tgd");
}

TEST(PublishRequest, MissingPartsFinishWithoutConnecting)
{
    TempHome home;
    SystemLogCapture log;
    PublishPicture publisher;
    EXPECT_EQ(publisher.publishThread({ "", QUrl("ftp://127.0.0.1/a.tgd") }), 22);
    EXPECT_EQ(publisher.publishThread({ "/tmp/x", QUrl() }), 22);
    EXPECT_TRUE(log.lines().contains("error in url or file"));
    EXPECT_NE(publisher.publishThread({ "/tmp/x", QUrl("ftp:///a.tgd") }), 0);
    EXPECT_FALSE(publisher.publish("/tmp/x", QUrl("ftp://127.0.0.1:1/dir/")));
    EXPECT_TRUE(log.lines().contains("Begin publish"));
}

} // namespace
