#include "base/Settings.h"
#include "device/FtpReply.h"
#include "device/PublishPicture.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

TEST(FtpReplyCode, ParsesCodesAndMultiLineReplies)
{
    struct Case {
        const char *text;
        int previous;
        int code;
        bool more;
    };
    const Case cases[] = {
        { "220 ready\r\n", 0, 220, false },
        // A multi-line reply closed in the same piece, and one left open.
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
        { "220 done\r\n", 220, 220, false },
        { "hello\r\n", 0, 0, false },
        { "250-a\n250 b\n", 0, 250, false },
        // The closing line must be whole: "220" without its space does not close.
        { "220-a\r\n220", 0, 220, true },
        // A run of digits stops growing past five places.
        { "1234567 x\r\n", 0, 123456, false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        bool more = !c.more;
        EXPECT_EQ(FtpGetServerResponseCode(c.text, std::strlen(c.text), c.previous, &more), c.code);
        EXPECT_EQ(more, c.more);
    }
    // The length bounds the search: a closing line past it is not seen.
    bool more = false;
    EXPECT_EQ(FtpGetServerResponseCode("220-a\r\n220 b\r\n", 7, 0, &more), 220);
    EXPECT_TRUE(more);
    EXPECT_EQ(FtpGetServerResponseCode(nullptr, 0, 0, &more), 0);
    EXPECT_FALSE(more);
    EXPECT_EQ(FtpGetServerResponseCode("220-a\r\n", 7, 0, nullptr), 220);
}

TEST(FtpReplyReader, ReassemblesReadsThatEndAnywhere)
{
    struct Case {
        const char *reads; // '|' marks where one read ends
        int code;
        int pieces;
        bool complete;
    };
    const Case cases[] = {
        { "220 ready\r\n", 220, 1, true },
        { "22|0 rea|dy\r\n", 220, 1, true },
        { "220-Welcome\r\n|220-to the te|st server\r\n|220 ready\r\n", 220, 3, true },
        { "230-Hello\r\n|read the rules\r\n|230 in\r\n", 230, 3, true },
        { "211-a\r\n| b\r\n", 211, 2, false },
        { "no line end", 0, 0, false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reads);
        FtpReplyReader reader;
        for (const QByteArray &read : QByteArray(c.reads).split('|'))
            reader.feed(read.constData(), static_cast<size_t>(read.size()));
        EXPECT_EQ(reader.code(), c.code);
        EXPECT_EQ(reader.pieces(), c.pieces);
        EXPECT_EQ(reader.complete(), c.complete);
        EXPECT_EQ(reader.more(), c.pieces > 0 && !c.complete);
    }
    // A reply under way carries its code into the next piece; an endless line is parsed
    // once it is too long to wait for.
    FtpReplyReader carried(226);
    EXPECT_TRUE(carried.feed("free text\r\n", 11));
    EXPECT_EQ(carried.code(), 226);
    FtpReplyReader endless;
    const std::string line = "220 " + std::string(70000, 'x');
    EXPECT_FALSE(endless.feed(line.data(), 1000));
    EXPECT_TRUE(endless.feed(line.data() + 1000, line.size() - 1000));
    EXPECT_EQ(endless.code(), 220);
    EXPECT_FALSE(endless.feed(nullptr, 5));
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
        DefaultTimeout = 10;
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
    EXPECT_EQ(std::string(text, length), "220 hi\r\n");
    std::free(text);

    // Above 9999 the limit is in microseconds; above a million it is still a valid wait.
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(FtpGetServerResponseWithTimeout(fds[0], 200000, &text, &length), 60);
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(text, nullptr);
    timer.restart();
    EXPECT_EQ(FtpGetServerResponseWithTimeout(fds[0], 1100000, &text, &length), 60);
    EXPECT_GE(timer.elapsed(), 1000);
    EXPECT_TRUE(log.lines().contains("timeout?"));

    ::close(fds[1]);
    fds[1] = -1;
    EXPECT_EQ(FtpGetServerResponseWithTimeout(fds[0], 1, &text, &length), 9999);
    EXPECT_EQ(FtpCommand(fds[0], "NOOP\r\n", 6), EPIPE);
}

TEST_F(SocketPair, CommandReadsTheWholeReply)
{
    EXPECT_EQ(FtpCommand(fds[0], nullptr, 0), 22);
    EXPECT_EQ(FtpCommand(fds[0], "NOOP\r\n", 0), 22);
    // Part of the multi-line reply is already waiting, the closing part comes later.
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

// The limit holds for the whole reply: a multi-line reply that never closes times out even
// when every single read is answered at once.
TEST_F(SocketPair, ReplyThatNeverClosesTimesOut)
{
    DefaultTimeout = 300000;
    for (int pauseMs : { 20, 0 }) {
        SCOPED_TRACE(pauseMs);
        std::atomic<bool> stop { false };
        std::thread talker([&, fd = fds[1]] {
            ::send(fd, "211-Features\r\n", 14, MSG_NOSIGNAL);
            while (!stop && ::send(fd, " more\r\n", 7, MSG_NOSIGNAL) == 7)
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        });
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(FtpCommand(fds[0], "FEAT\r\n", 6), 60);
        EXPECT_LT(timer.elapsed(), 2000);
        stop = true;
        char sink[65536];
        while (::recv(fds[0], sink, sizeof sink, MSG_DONTWAIT) > 0) { }
        talker.join();
        while (::recv(fds[0], sink, sizeof sink, MSG_DONTWAIT) > 0) { }
        while (::recv(fds[1], sink, sizeof sink, MSG_DONTWAIT) > 0) { }
    }
}

TEST(PublishTimeout, RaisesTheLimitOnlyAboveTenAndStaysBounded)
{
    TempHome home;
    Settings::registerDefaults();
    DefaultTimeout = 10;
    // Absent, too small, raised, and bounded: a huge value would be read as microseconds.
    for (const auto &[setting, limit] :
        std::vector<std::pair<int, int>> { { 0, 10 }, { 5, 10 }, { 30, 30 }, { 5000000, 9999 } }) {
        if (setting)
            Settings::setValue("PublishTimeout", setting);
        PublishPicture publisher;
        EXPECT_EQ(DefaultTimeout, limit) << setting;
    }
    DefaultTimeout = 10;
}

TEST(PublishRequest, MissingPartsFinishWithoutConnecting)
{
    TempHome home;
    SystemLogCapture log;
    PublishPicture publisher;
    for (const auto &[file, url] :
        { std::pair("", "ftp://127.0.0.1/a.tgd"), std::pair("/tmp/x", ""),
            std::pair("/tmp/x", "ftp:///a.tgd"), std::pair("/tmp/x", "ftp://127.0.0.1/dir/") })
        EXPECT_EQ(publisher.publishThread({ file, QUrl(url) }), 22) << file << " " << url;
    EXPECT_TRUE(log.lines().contains("error in url or file"));
    EXPECT_EQ(
        publisher.publishThread({ "/tmp/x", QUrl("ftp://no-such-host.invalid/a") }), EHOSTUNREACH);
    EXPECT_FALSE(publisher.publish("/tmp/x", QUrl("ftp://127.0.0.1:1/dir/a.tgd")));
    EXPECT_TRUE(log.lines().contains("Begin publish"));
}

} // namespace
