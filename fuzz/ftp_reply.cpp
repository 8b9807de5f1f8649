// The FTP reply reader on control-connection bytes cut into reads anywhere: per read, one
// length byte, then that many bytes.
#include "FuzzSupport.h"
#include "device/FtpReply.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bool more = false;
    const int whole = FtpGetServerResponseCode(
        reinterpret_cast<const char *>(data), size, size ? data[0] % 2 * 220 : 0, &more);
    FUZZ_REQUIRE(whole >= 0);
    FtpReplyReader reader;
    int feeds = 0;
    for (size_t at = 0; at < size;) {
        const size_t n = std::min<size_t>(data[at], size - at - 1);
        const bool ended = reader.feed(reinterpret_cast<const char *>(data) + at + 1, n);
        ++feeds;
        FUZZ_REQUIRE(!ended || reader.pieces() > 0);
        at += 1 + n;
    }
    FUZZ_REQUIRE(reader.pieces() <= feeds);
    FUZZ_REQUIRE(!reader.complete() || reader.pieces() > 0);
    return 0;
}
