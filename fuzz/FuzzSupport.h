#pragma once

#include "base/SystemLog.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// What every target shares: a throw-away home, so settings and support folders the code
// under test touches never reach the real user's, and a Qt application object.
namespace fuzz
{

inline void setUp()
{
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/pallaro-fuzz-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // With TZ unset glibc re-reads /etc/localtime on every local-time conversion (a stat per
    // programme and more); naming the zone once keeps runs fast without changing the zone.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    // The system log is a socket write per line; what the code logs is of no interest here.
    setSystemLogSink([](const QString &) {});
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A finding the sanitizers cannot see: a broken promise of the code under test.
#define FUZZ_REQUIRE(condition)                                                                    \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "requirement failed: %s (%s:%d)\n", #condition, __FILE__,      \
                __LINE__);                                                                         \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

} // namespace fuzz
