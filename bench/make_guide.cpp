// Writes a synthetic XMLTV guide shaped like the provider's: channels first, then
// programmes channel by channel, back to back, with Australian offsets.
//   bench_make_guide regional|large FILE [YYYY-MM-DD]
//   bench_make_guide CHANNELS DAYS FILE [YYYY-MM-DD]
// The guide starts on the given day (default 2023-04-03), at 00:00 +1000.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace
{

unsigned long long state = 88172645463325252ULL;
unsigned next()
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return unsigned(state);
}

const char *const kWords[] = { "the", "news", "family", "garden", "house", "Sydney", "ocean",
    "crime", "doctor", "cook", "season", "final", "world", "travel", "story", "music", "sport",
    "life", "secret", "city", "night", "live", "today", "wild" };
const char *const kCategories[] = { "News", "Drama", "Movie", "Sport", "Comedy", "Documentary" };
const char *const kRatings[] = { "G", "PG", "M", "MA15+" };
const char *const kIds[]
    = { "ABC", "ABC2", "SBS", "SBSD", "7", "9", "10Cap", "WIN", "NBN", "PrimS" };

std::string words(int count)
{
    std::string s;
    for (int i = 0; i < count; ++i) {
        if (i)
            s += ' ';
        s += kWords[next() % (sizeof kWords / sizeof *kWords)];
    }
    return s;
}

std::string stamp(std::time_t t)
{
    // Written in +1000 wall-clock time, as the provider does outside daylight saving.
    t += 10 * 3600;
    std::tm tm {};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S +1000", &tm);
    return buf;
}

} // namespace

int main(int argc, char **argv)
{
    int channels = 0, days = 0;
    const char *path = nullptr;
    const char *from = nullptr;
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "regional") == 0) {
        channels = 30, days = 8, path = argv[2], from = argc == 4 ? argv[3] : nullptr;
    } else if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "large") == 0) {
        channels = 200, days = 14, path = argv[2], from = argc == 4 ? argv[3] : nullptr;
    } else if (argc == 4 || argc == 5) {
        channels = std::atoi(argv[1]), days = std::atoi(argv[2]), path = argv[3];
        from = argc == 5 ? argv[4] : nullptr;
    } else {
        std::fprintf(stderr, "usage: %s regional|large FILE [YYYY-MM-DD] | CHANNELS DAYS FILE "
                             "[YYYY-MM-DD]\n",
            argv[0]);
        return 2;
    }
    std::time_t begin = 1680444000; // 2023-04-03 00:00 +1000
    if (from) {
        std::tm tm {};
        if (std::sscanf(from, "%d-%d-%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday) != 3) {
            std::fprintf(stderr, "not a day: %s\n", from);
            return 2;
        }
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        begin = timegm(&tm) - 10 * 3600;
    }
    FILE *f = std::fopen(path, "w");
    if (!f) {
        std::perror(path);
        return 1;
    }
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
               "<tv generator-info-name=\"bench\">\n",
        f);
    auto id = [](int c) {
        return std::string(kIds[c % (sizeof kIds / sizeof *kIds)]) + "." + std::to_string(c);
    };
    for (int c = 0; c < channels; ++c)
        std::fprintf(f,
            "  <channel id=\"%s\">\n    <display-name lang=\"en\">%s</display-name>\n"
            "  </channel>\n",
            id(c).c_str(), id(c).c_str());
    long programmes = 0;
    for (int c = 0; c < channels; ++c) {
        std::time_t t = begin;
        while (t < begin + days * 86400L) {
            const std::time_t stop = t + 60 * (25 + 5 * (next() % 9));
            std::fprintf(f,
                "  <programme start=\"%s\" stop=\"%s\" channel=\"%s\">\n"
                "    <title lang=\"en\">%s</title>\n"
                "    <sub-title lang=\"en\">%s</sub-title>\n"
                "    <desc lang=\"en\">%s &amp; %s.</desc>\n"
                "    <category lang=\"en\">%s</category>\n"
                "    <rating system=\"CTVA\">\n      <value>%s</value>\n    </rating>\n"
                "  </programme>\n",
                stamp(t).c_str(), stamp(stop).c_str(), id(c).c_str(), words(1 + next() % 4).c_str(),
                words(2 + next() % 3).c_str(), words(14 + next() % 20).c_str(),
                words(5 + next() % 10).c_str(), kCategories[next() % 6], kRatings[next() % 4]);
            t = stop;
            ++programmes;
        }
    }
    std::fputs("</tv>\n", f);
    const long size = std::ftell(f);
    std::fclose(f);
    std::printf("%s: %d channels x %d days, %ld programmes, %.1f MB\n", path, channels, days,
        programmes, size / 1e6);
    return 0;
}
