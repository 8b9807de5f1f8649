#include "base/StatusLog.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"
#include "ui/KeywordController.h"
#include "ui/KeywordFile.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QFileInfo>
#include <QProcess>
#include <QSize>
#include <functional>
#include <gtest/gtest.h>

namespace
{

// Runs a Python script under the system interpreter with `path` as its argument.
QString python(const QString &script, const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), script, path });
    p.waitForFinished(30000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

class KeywordFileTest : public ::testing::Test
{
protected:
    QString rulePath() const { return home.path() + "/Keywords.plist"; }
    LocalZone zone;
    TempHome home;
};

QByteArray broken(const char *name)
{
    return readFile(QStringLiteral(PALLARO_TEST_DATA "/keywords/broken/") + name);
}

// A binary property list of `depth` arrays, each holding the next (4-byte offsets and refs).
QByteArray deepBinary(int depth)
{
    auto be = [](QByteArray &out, quint64 v, int width) {
        for (int i = width - 1; i >= 0; --i)
            out.append(char(v >> (8 * i)));
    };
    QByteArray body("bplist00");
    QByteArray offsets;
    for (int i = 0; i <= depth; ++i) {
        be(offsets, quint64(body.size()), 4);
        body.append(char(i == depth ? 0xA0 : 0xA1));
        if (i < depth)
            be(body, quint64(i + 1), 4);
    }
    const quint64 table = quint64(body.size());
    body += offsets + QByteArray(6, '\0') + char(4) + char(4);
    be(body, quint64(depth + 1), 8);
    be(body, 0, 8);
    be(body, table, 8);
    return body;
}

QByteArray deepXml(const QByteArray &open, const QByteArray &close, int depth)
{
    return "<plist>" + open.repeated(depth) + close.repeated(depth) + "</plist>";
}

} // namespace

// Damaged files, each refused with the reason of the guard that caught it.
TEST_F(KeywordFileTest, BrokenFilesAreRefusedWithTheirReason)
{
    // Far deeper than libplist's recursive parse and free survive.
    constexpr int kCrashDepth = 200000;
    const std::pair<const char *, const char *> files[] = {
        { "nul-in-xml-string.plist", "NUL byte" }, { "nul-in-binary-string.plist", "NUL-holding" },
        { "nul-in-binary-key.plist", "NUL-holding" }, { "truncated-binary.plist", "trailer" },
        { "root-is-dict.plist", "root is not a list" },
        { "root-is-string.plist", "root is not a list" },
        { "not-a-plist.plist", "not a property list" },
        { "unclosed-xml.plist", "not a property list" }, { "binary-cycle.plist", "to itself" },
        { "binary-doubling.plist", "too large a tree" }, { "binary-deep.plist", "deeper than 16" },
        { "xml-deep.plist", "deeper than 16" }, { "xml-deep-hidden-closes.plist", "deeper than 16" }
    };
    std::vector<std::tuple<std::string, QByteArray, const char *>> cases = {
        { "empty", QByteArray(), "empty" },
        { "binary chain", deepBinary(kCrashDepth), "deeper than 16" },
        { "xml arrays", deepXml("<array>", "</array>", kCrashDepth), "deeper than 16" },
        { "xml dicts", deepXml("<dict><key>k</key>", "</dict>", kCrashDepth), "deeper than 16" }
    };
    for (const auto &[name, reason] : files)
        cases.emplace_back(name, broken(name), reason);
    for (const auto &[name, bytes, reason] : cases) {
        QString why;
        EXPECT_FALSE(KeywordFile::fromBytes(bytes, &why)) << name;
        EXPECT_TRUE(why.contains(QLatin1String(reason))) << name << ": " << why.toStdString();
    }
}

// Unusual but sound files: the depth walk follows the parser through them.
TEST_F(KeywordFileTest, SoundFilesWithCommentsAndDeclarationsRead)
{
    const QByteArray rule = "<dict><key>Keywords</key><array><string>A<!-- </array> -->B"
                            "<![CDATA[</dict>]]></string></array></dict>";
    const QList<QByteArray> files {
        "<?xml version=\"1.0\" a=\"?>\"?><!DOCTYPE plist [<!ENTITY x \"]>\">]><plist><array>" + rule
            + "</array></plist>",
        "<plist><!-- <array> --><array >" + rule + "<array/><array ></array></array></plist>",
        QByteArray("<plist>") + "<array>" + rule.repeated(3) + "</array></plist>",
    };
    for (const QByteArray &bytes : files) {
        QString why;
        const auto rules = KeywordFile::fromBytes(bytes, &why);
        ASSERT_TRUE(rules) << why.toStdString() << "\n" << bytes.toStdString();
        EXPECT_EQ(rules->front()->keywords, QStringList { "AB</dict>" });
    }
    // The nesting allowed stays well above what a rule file needs.
    EXPECT_TRUE(KeywordFile::fromBytes(deepXml("<array>", "</array>", 16)));
    EXPECT_TRUE(KeywordFile::fromBytes(deepBinary(15)));
}

TEST_F(KeywordFileTest, AnUnreadableFileIsKeptAsideAndReported)
{
    const QList<QByteArray> damaged { broken("nul-in-binary-key.plist"), "garbage", "" };
    const char *const reports[]
        = { "NUL-holding", "\"Keywords.plist.bad.1\"", "\"Keywords.plist.bad.2\"" };
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(writeFile(rulePath(), damaged[i]));
        QString setAside;
        EXPECT_FALSE(KeywordFile::read(rulePath(), &setAside));
        EXPECT_FALSE(QFileInfo::exists(rulePath()));
        EXPECT_TRUE(setAside.contains(reports[i])) << setAside.toStdString();
    }
    // Every damaged file is kept, none overwritten by the next.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(readFile(rulePath() + (i ? QString(".bad.%1").arg(i) : ".bad")), damaged[i]);

    // A missing file is no damage; without a place for the line it goes to the system log.
    QString none;
    EXPECT_FALSE(KeywordFile::read(rulePath(), &none));
    EXPECT_TRUE(none.isEmpty());
    SystemLogCapture log;
    ASSERT_TRUE(writeFile(rulePath(), "garbage"));
    EXPECT_FALSE(KeywordFile::read(rulePath()));
    EXPECT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(QFileInfo::exists(rulePath() + ".bad.3"));

    // The keyword controller tells of it in its StatusLog.
    StatusLog status;
    SourceListController slc;
    TGDPickerController programmes;
    KeywordController kwc(&slc, &programmes);
    kwc.setStatusLog(&status);
    ASSERT_TRUE(writeFile(kwc.keywordFilePath(), "garbage"));
    kwc.loadRules();
    EXPECT_TRUE(status.text().contains("\"Keywords.plist.bad\" and the rules start empty.\n"))
        << status.text().toStdString();
}

// Values of the wrong type fall back to the defaults, field by field; items that are no
// dictionary are no rule and no match.
TEST_F(KeywordFileTest, WrongTypesFallBackToDefaults)
{
    const QByteArray bytes = R"(<plist><array><string>no rule</string>
        <dict><key>Keywords</key><string>News</string><key>Negatives</key><integer>3</integer>
          <key>NumberMatches</key><array/><key>padStart</key><dict/><key>padEnd</key><string>x</string>
          <key>Matches</key><array><string>no match</string>
            <dict><key>title</key><array><string>T</string></array><key>duration</key><true/>
              <key>start</key><integer>5</integer><key>extStart</key><dict/></dict></array></dict>
        <dict><key>Matches</key><dict/></dict></array></plist>)";
    QString why;
    const auto rules = KeywordFile::fromBytes(bytes, &why);
    ASSERT_TRUE(rules) << why.toStdString();
    ASSERT_EQ(rules->size(), 2u);
    const KeywordRule &r = *rules->front();
    EXPECT_EQ(r.keywords, QStringList { "News" }); // a lone text is one term
    EXPECT_TRUE(r.negatives.isEmpty());
    EXPECT_EQ(std::make_tuple(r.numberMatches, r.padStart, r.padEnd),
        std::make_tuple(0, std::optional<int>(), std::optional<int>(0)));
    ASSERT_TRUE(r.matches && r.matches->size() == 1u);
    const TGDEntry &m = *r.matches->front();
    EXPECT_EQ(m.title, "");
    EXPECT_EQ(m.duration, 1);
    EXPECT_FALSE(m.start.isValid() || m.extStart);
    EXPECT_TRUE(rules->back()->matches && rules->back()->matches->empty());
}

TEST_F(KeywordFileTest, WeReadWhatPythonWrites)
{
    for (const char *fmt : { "FMT_XML", "FMT_BINARY" }) {
        python(QStringLiteral(R"(
import plistlib, sys, datetime
rules = [{'Keywords': ['Doctor Who', 'ABC'], 'Negatives': ['', 'Repeat'], 'NumberMatches': 1,
          'Exact': False, 'padStart': 5, 'padEnd': 10.0, 'autoRecord': True,
          'Matches': [{'title': 'Doctor Who', 'channel': '2', 'duration': 60, 'record': 1,
                       'extStart': -3, 'start': datetime.datetime(2007, 3, 12, 9, 30),
                       'rawStart': '2007-03-12 20:30', 'startTime': '20:30'}]},
         {'Keywords': []}]
plistlib.dump(rules, open(sys.argv[1], 'wb'), fmt=plistlib.%1)
)")
                   .arg(fmt),
            rulePath());
        const auto rules = KeywordFile::read(rulePath());
        ASSERT_TRUE(rules && rules->size() == 2u) << fmt;
        const KeywordRule &r = *rules->front();
        EXPECT_EQ(r.keywords, QStringList({ "Doctor Who", "ABC" }));
        EXPECT_EQ(r.negatives, QStringList({ "", "Repeat" }));
        EXPECT_EQ(std::make_tuple(r.padStart, r.padEnd, r.autoRecord),
            std::make_tuple(
                std::optional<int>(5), std::optional<int>(10), std::optional<bool>(true)));
        ASSERT_TRUE(r.matches);
        const TGDEntry &m = *r.matches->front();
        EXPECT_EQ(std::make_tuple(m.title, m.duration, m.record, m.extStart),
            std::make_tuple(QString("Doctor Who"), 60, true, std::optional<int>(-3)));
        EXPECT_EQ(m.start, QDateTime(QDate(2007, 3, 12), QTime(9, 30), Qt::UTC));
        // A rule the file gives without "Negatives" keeps the default.
        EXPECT_EQ(rules->back()->negatives, QStringList { "" });
        EXPECT_FALSE(rules->back()->matches);
    }
}

TEST_F(KeywordFileTest, FailedWriteKeepsTheOldFile)
{
    auto rule = std::make_shared<KeywordRule>();
    rule->keywords = QStringList { "Old" };
    ASSERT_TRUE(KeywordFile::write(rulePath(), { rule }));
    const QByteArray before = readFile(rulePath());
    EXPECT_FALSE(KeywordFile::write(home.path() + "/no/such/folder/Keywords.plist", { rule }));
    EXPECT_EQ(readFile(rulePath()), before);
}

// The file is made a rule and a batch of matches at a time; it must be the very bytes of
// libplist's rendering of the whole list, whatever the rules hold.
TEST_F(KeywordFileTest, PiecewiseFileIsTheWholeTreeRendering)
{
    auto programme = [](int i) {
        auto e = std::make_shared<TGDEntry>();
        e->channel = QString("1,%1").arg(i % 7);
        e->title = QString::fromUtf8("Caf\xC3\xA9 <%1> & \"more\"\r").arg(i);
        e->description = i % 2 ? QString() : QString("line\nbreak\t%1").arg(i);
        e->start = QDateTime(QDate(2026, 12, 7), QTime(i % 24, 0));
        e->extStart = i % 3 ? std::optional<int>(-i) : std::nullopt;
        e->channelImage = i % 5 ? QVariant() : QVariant::fromValue(QSize(16, 16));
        return e;
    };
    auto rule = [&](int matches, std::optional<bool> stored) {
        auto r = std::make_shared<KeywordRule>();
        r->keywords = QStringList { "<dict/>", "news" };
        r->autoRecord = stored;
        if (stored) {
            r->matches = TGDEntryList {};
            for (int i = 0; i < matches; ++i)
                r->matches->push_back(programme(i));
        }
        return r;
    };
    const std::vector<KeywordRules> cases = {
        {},
        { rule(0, std::nullopt) },
        { rule(0, false) },
        { rule(1, true), rule(0, std::nullopt) },
        { rule(600, true), rule(3, false), rule(256, true) },
    };
    for (const KeywordRules &rules : cases) {
        const QByteArray whole = KeywordFile::wholeTreeXml(rules);
        EXPECT_EQ(KeywordFile::toXml(rules), whole) << rules.size();
        ASSERT_TRUE(KeywordFile::write(rulePath(), rules));
        EXPECT_EQ(readFile(rulePath()), whole);
    }
}
