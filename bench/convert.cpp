// Times `xmllint --noout` (libxml2 only parsing: the floor) against `pallaro --convert` on
// the same guide, and prints the ratio, programmes per second and peak resident memory.
//   bench_convert GUIDE.xml [PALLARO] [--xml] [--runs N]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace
{

struct Measure {
    double seconds = 0;
    double cpu = 0; // user + system seconds
    long peakKb = 0;
    int status = -1;
    std::string out;
};

double now()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

Measure run(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
    Measure m;
    int pipefd[2];
    if (pipe(pipefd) != 0)
        return m;
    const double start = now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipefd[1], 1);
        close(pipefd[0]);
        close(pipefd[1]);
        for (const std::string &e : env)
            putenv(const_cast<char *>(e.c_str()));
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipefd[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(pipefd[0], buf, sizeof buf)) > 0)
        m.out.append(buf, size_t(n));
    close(pipefd[0]);
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    m.seconds = now() - start;
    m.peakKb = usage.ru_maxrss;
    m.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

Measure best(const std::vector<std::string> &args, const std::vector<std::string> &env, int runs)
{
    Measure b;
    for (int i = 0; i < runs; ++i) {
        Measure m = run(args, env);
        if (i == 0 || m.seconds < b.seconds) {
            const long peak = std::max(b.peakKb, m.peakKb);
            b = m;
            b.peakKb = peak;
        } else {
            b.peakKb = std::max(b.peakKb, m.peakKb);
        }
    }
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s GUIDE.xml [PALLARO] [--xml] [--runs N]\n", argv[0]);
        return 2;
    }
    const std::string guide = argv[1];
    std::string pallaro;
    bool xml = false;
    int runs = 3;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--xml") == 0)
            xml = true;
        else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            pallaro = argv[i];
    }
    if (pallaro.empty()) {
        // The pallaro built beside this program.
        char self[4096];
        const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
        std::string dir = len > 0 ? std::string(self, size_t(len)) : std::string("./");
        pallaro = dir.substr(0, dir.rfind('/') + 1) + "pallaro";
    }
    struct stat st {
    };
    if (stat(guide.c_str(), &st) != 0) {
        std::perror(guide.c_str());
        return 1;
    }
    char home[] = "/tmp/pallaro-bench-XXXXXX";
    if (!mkdtemp(home)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string h = home;
    const std::vector<std::string> env = { "HOME=" + h, "XDG_DATA_HOME=" + h + "/data",
        "XDG_CONFIG_HOME=" + h + "/config", "TZ=Australia/Sydney" };

    const Measure floor = best({ "xmllint", "--noout", guide }, {}, runs);
    std::vector<std::string> args = { pallaro, "--convert", guide, h + "/out" };
    if (xml)
        args.push_back("--xml");
    const Measure conv = best(args, env, runs);
    if (floor.status != 0 || conv.status != 0) {
        std::fprintf(stderr, "a run failed: xmllint %d, pallaro %d\n", floor.status, conv.status);
        return 1;
    }
    const long programmes = std::strtol(conv.out.c_str(), nullptr, 10);
    const double mb = double(st.st_size) / 1e6;
    std::printf("guide: %s, %.1f MB, %ld programmes written (best of %d runs)\n", guide.c_str(), mb,
        programmes, runs);
    std::printf("xmllint --noout     %7.3f s (cpu %.3f s)  peak %7.1f MB (%.1fx file)\n",
        floor.seconds, floor.cpu, floor.peakKb / 1024.0,
        floor.peakKb * 1024.0 / double(st.st_size));
    std::printf("pallaro --convert%s %7.3f s (cpu %.3f s)  peak %7.1f MB (%.1fx file)\n",
        xml ? " --xml" : "", conv.seconds, conv.cpu, conv.peakKb / 1024.0,
        conv.peakKb * 1024.0 / double(st.st_size));
    std::printf("time ratio %.2fx (cpu %.2fx; target 1.5x), memory %.2fx file (target 4x), "
                "%.0f programmes/s\n",
        conv.seconds / floor.seconds, conv.cpu / floor.cpu,
        conv.peakKb * 1024.0 / double(st.st_size), double(programmes) / conv.seconds);
    std::string cleanup = "rm -rf '" + h + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
