// The costs of the guide work, in one run, against libxml2's own tools as the floor:
//   - `pallaro --convert` of a 200-channel fortnight and of a 30-channel regional week,
//     beside `xmllint --stream --noout` (the reader alone) and `xmllint --noout` (the tree);
//   - `pallaro --headless --reload` of a fortnight of day files with an 11-rule
//     "Keywords.plist", and without rules;
//   - `pallaro --help` and `--get`: peak memory and the shared libraries loaded.
// Every figure is the median of N runs with the spread (min-max): CPU (user + system) and
// wall seconds, peak resident memory from wait4.
//   bench_guide_costs [--runs N] [--pallaro PATH] [--keep DIR]
#include "ui/KeywordFile.h"
#include "ui/KeywordRule.h"

#include <QDate>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
    double wall = 0;
    double cpu = 0; // user + system seconds
    double peakMb = 0;
    int status = -1;
    std::string out;
    std::string err;
};

double now()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

std::string slurp(int fd)
{
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, size_t(n));
    return s;
}

// One child run; standard error goes to a file so that a chatty child cannot block.
Measure run(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
    Measure m;
    int pipefd[2];
    char errPath[] = "/tmp/pallaro-bench-err-XXXXXX";
    const int errFd = mkstemp(errPath);
    if (errFd < 0 || pipe(pipefd) != 0)
        return m;
    const double start = now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipefd[1], 1);
        dup2(errFd, 2);
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
    m.out = slurp(pipefd[0]);
    close(pipefd[0]);
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    m.wall = now() - start;
    m.peakMb = usage.ru_maxrss / 1024.0;
    m.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    lseek(errFd, 0, SEEK_SET);
    m.err = slurp(errFd);
    close(errFd);
    unlink(errPath);
    return m;
}

struct Spread {
    double median = 0, min = 0, max = 0;
};

Spread spread(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return { median, v.front(), v.back() };
}

struct Figures {
    Spread cpu, wall, peak;
    std::string out; // of the last run
    bool ok = true;
};

// `before` runs ahead of every measured run, unmeasured (to put the files back).
Figures measure(const std::vector<std::string> &args, const std::vector<std::string> &env,
    int runs, const std::string &before = {})
{
    std::vector<double> cpu, wall, peak;
    Figures f;
    for (int i = 0; i < runs; ++i) {
        if (!before.empty() && std::system(before.c_str()) != 0)
            f.ok = false;
        const Measure m = run(args, env);
        if (m.status != 0) {
            std::fprintf(stderr, "%s exited %d: %s\n", args[0].c_str(), m.status, m.err.c_str());
            f.ok = false;
        }
        cpu.push_back(m.cpu);
        wall.push_back(m.wall);
        peak.push_back(m.peakMb);
        f.out = m.out;
    }
    f.cpu = spread(cpu);
    f.wall = spread(wall);
    f.peak = spread(peak);
    return f;
}

void print(const char *label, const Figures &f, double fileMb)
{
    std::printf("  %-28s cpu %6.3f s (%.3f-%.3f)  wall %6.3f s (%.3f-%.3f)  peak %6.1f MB "
                "(%.1f-%.1f)",
        label, f.cpu.median, f.cpu.min, f.cpu.max, f.wall.median, f.wall.min, f.wall.max,
        f.peak.median, f.peak.min, f.peak.max);
    if (fileMb > 0)
        std::printf(" = %.2fx file", f.peak.median / fileMb);
    std::printf("%s\n", f.ok ? "" : "  FAILED");
}

double fileMb(const std::string &path)
{
    struct stat st {
    };
    return stat(path.c_str(), &st) == 0 ? double(st.st_size) / (1024.0 * 1024.0) : 0;
}

bool sh(const std::string &command)
{
    return std::system(command.c_str()) == 0;
}

// Terms, negatives, time terms, an exact rule and an empty one, as a user keeps them.
KeywordRules benchRules()
{
    struct Row {
        QStringList keywords, negatives;
        bool exact, autoRecord;
    };
    const Row rows[] = {
        { { "news" }, { "" }, false, true },
        { { "doctor", ">19:30" }, { "" }, false, true },
        { { "garden" }, { "", "house" }, false, false },
        { { "crime", "<21:00" }, { "" }, false, true },
        { { "Drama" }, { "", "<18:00" }, false, false },
        { { "sport", "live" }, { "" }, false, true },
        { { "the news" }, { "" }, true, true },
        { {}, { "" }, false, false }, // a new rule: no keywords at all
        { { "" }, { "" }, false, false }, // only an empty term: matches nothing
        { { "travel" }, { "", "world", ">22:00" }, false, true },
        { { "secret", "city" }, { "" }, false, false },
    };
    KeywordRules rules;
    for (const Row &r : rows) {
        auto rule = std::make_shared<KeywordRule>();
        rule->keywords = r.keywords;
        rule->negatives = r.negatives;
        rule->exact = r.exact;
        rule->autoRecord = r.autoRecord;
        rule->padStart = 2;
        rule->padEnd = 5;
        rules.push_back(rule);
    }
    return rules;
}

int libraries(const std::string &ldDebugText, bool *windowStack)
{
    int count = 0;
    *windowStack = false;
    size_t at = 0;
    while ((at = ldDebugText.find("calling init: ", at)) != std::string::npos) {
        const size_t end = ldDebugText.find('\n', at);
        const std::string lib = ldDebugText.substr(at + 14, end - at - 14);
        if (lib.find("Widgets") != std::string::npos || lib.find("WebEngine") != std::string::npos
            || lib.find("Qt6Gui") != std::string::npos)
            *windowStack = true;
        ++count;
        at = end;
    }
    return count;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    std::string pallaro, keep;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--pallaro") == 0 && i + 1 < argc)
            pallaro = argv[++i];
        else if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc)
            keep = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--runs N] [--pallaro PATH] [--keep DIR]\n", argv[0]);
            return 2;
        }
    }
    // Beside this program: pallaro and the guide generator.
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string selfPath = len > 0 ? std::string(self, size_t(len)) : std::string("./x");
    const std::string dir = selfPath.substr(0, selfPath.rfind('/') + 1);
    if (pallaro.empty())
        pallaro = dir + "pallaro";

    char tmpl[] = "/tmp/pallaro-bench-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string h = keep.empty() ? std::string(tmpl) : keep;
    sh("mkdir -p '" + h + "'");
    const std::vector<std::string> env = { "HOME=" + h, "XDG_DATA_HOME=" + h + "/data",
        "XDG_CONFIG_HOME=" + h + "/config", "TZ=Australia/Sydney", "QT_QPA_PLATFORM=offscreen" };
    const std::string large = h + "/large.xml", regional = h + "/regional.xml",
                      fortnight = h + "/fortnight.xml";
    const std::string today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
    if (!sh("'" + dir + "bench_make_guide' large '" + large + "'")
        || !sh("'" + dir + "bench_make_guide' regional '" + regional + "'")
        || !sh("'" + dir + "bench_make_guide' large '" + fortnight + "' " + today)) {
        std::fprintf(stderr, "the guide generator failed\n");
        return 1;
    }
    std::printf("%d runs each; medians (min-max)\n", runs);
    bool ok = true;
    for (const std::string &guide : { large, regional }) {
        const double mb = fileMb(guide);
        std::printf("%s: %.1f MB\n", guide.c_str(), mb);
        const Figures stream = measure({ "xmllint", "--stream", "--noout", guide }, {}, runs);
        const Figures tree = measure({ "xmllint", "--noout", guide }, {}, runs);
        const Figures conv
            = measure({ pallaro, "--convert", guide, h + "/out" }, env, runs, "rm -rf '" + h + "/out'");
        print("xmllint --stream --noout", stream, mb);
        print("xmllint --noout", tree, mb);
        print("pallaro --convert", conv, mb);
        std::printf("  convert/stream cpu %.2fx (goal <= 2.5x), convert/tree cpu %.2fx wall "
                    "%.2fx, memory %.2fx file (goal <= 2x)\n",
            conv.cpu.median / stream.cpu.median, conv.cpu.median / tree.cpu.median,
            conv.wall.median / tree.wall.median, conv.peak.median / mb);
        ok = ok && stream.ok && tree.ok && conv.ok;
    }

    // The reload: a fortnight from today in the output folder, rules in "Keywords.plist".
    const std::string data = h + "/data/Pallaro";
    const std::string output = data + "/output";
    sh("rm -rf '" + output + "' && mkdir -p '" + output + "'");
    const Measure made = run({ pallaro, "--convert", fortnight, output }, env);
    const double fortnightMb = fileMb(fortnight);
    const std::string rulesPath = data + "/Keywords.plist";
    // The day files and the rule file as the conversion and the user left them, before each run.
    sh("cp -a '" + output + "' '" + h + "/output.orig'");
    const std::string restore = "rm -rf '" + output + "' && cp -a '" + h + "/output.orig' '"
        + output + "' && cp '" + h + "/rules.plist' '" + rulesPath + "'";
    const std::string restoreNoRules = "rm -rf '" + output + "' && cp -a '" + h
        + "/output.orig' '" + output + "' && rm -f '" + rulesPath + "'";
    if (made.status != 0 || !KeywordFile::write(QString::fromStdString(h + "/rules.plist"), benchRules())) {
        std::fprintf(stderr, "cannot set up the reload\n");
        return 1;
    }
    const Figures conv = measure({ pallaro, "--convert", fortnight, h + "/out" }, env, runs,
        "rm -rf '" + h + "/out'");
    const Figures reload = measure({ pallaro, "--headless", "--reload" }, env, runs, restore);
    // Again on the files that reload left: marks and stored matches in place.
    const Figures again = measure({ pallaro, "--headless", "--reload" }, env, runs);
    const Figures bare
        = measure({ pallaro, "--headless", "--reload" }, env, runs, restoreNoRules);
    std::printf("%s: %.1f MB, from %s, %s", fortnight.c_str(), fortnightMb, today.c_str(),
        made.out.c_str());
    print("pallaro --convert", conv, fortnightMb);
    print("--reload, 11 rules", reload, fortnightMb);
    print("--reload, 11 rules, again", again, fortnightMb);
    print("--reload, no rules", bare, fortnightMb);
    std::printf("  reload/convert cpu %.2fx (goal <= 1.0x), memory %.2fx file (goal <= 2x)\n",
        reload.cpu.median / conv.cpu.median, reload.peak.median / fortnightMb);
    ok = ok && conv.ok && reload.ok && again.ok && bare.ok;

    // Command-line start-up: memory and the libraries the dynamic loader initialises.
    std::vector<std::string> ldEnv = env;
    ldEnv.push_back("LD_DEBUG=files");
    for (const std::vector<std::string> &args :
        { std::vector<std::string> { pallaro, "--help" },
            std::vector<std::string> { pallaro, "--get", "location" } }) {
        const Figures f = measure(args, env, runs);
        const Measure traced = run(args, ldEnv);
        bool window = false;
        const int libs = libraries(traced.err, &window);
        const std::string label = "pallaro " + args[1];
        print(label.c_str(), f, 0);
        std::printf("  %d shared libraries loaded%s (goal: <= 30 MB, no window stack)\n", libs,
            window ? ", the window stack among them" : ", no window stack");
        ok = ok && f.ok;
    }
    if (keep.empty())
        sh("rm -rf '" + h + "'");
    return ok ? 0 : 1;
}
