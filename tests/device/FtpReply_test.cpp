#include "device/FtpReply.h"
#include "device/PublishPicture.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

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

// The line a person is shown: the reply's closing line, whatever the pieces it came in.
TEST(FtpReplyReader, KeepsTheClosingLineReadably)
{
    const struct {
        std::vector<std::string> reads;
        std::string line;
    } cases[] = {
        { { "530 Login incorrect.\r\n" }, "530 Login incorrect." },
        { { "530-Go away\r\n530 Login incorrect.\r\n" }, "530 Login incorrect." },
        // Cut anywhere, even inside a line.
        { { "550 No such ", "file.\r\n" }, "550 No such file." },
        { { "230-Hello\r\n", "230 in\n" }, "230 in" },
        // Control characters a server sends are not passed on.
        { { "550 a\x1b[31mb\tc\x7f\r\n" }, "550 a[31mbc" },
        { { std::string(300, '5') + "\r\n" }, std::string(200, '5') },
        { { "\r\n" }, "" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reads.front());
        FtpReplyReader reader;
        for (const std::string &read : c.reads)
            reader.feed(read.data(), read.size());
        EXPECT_EQ(reader.lastLine(), c.line);
    }
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
