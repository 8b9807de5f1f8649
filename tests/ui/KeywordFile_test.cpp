#include "base/StatusLog.h"
#include "support/TempHome.h"
#include "ui/KeywordController.h"
#include "ui/KeywordFile.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSize>
#include <algorithm>
#include <cctype>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>

namespace
{

// Runs a Python script under the system interpreter with `path` as its argument.
QByteArray python(const QString &script, const QString &path, int *status)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), script, path });
    p.waitForFinished(30000);
    *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (*status != 0)
        ADD_FAILURE() << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

class KeywordFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("TZ", "Australia/Sydney");
        tzset();
    }
    void TearDown() override
    {
        qunsetenv("TZ");
        tzset();
    }
    QString rulePath() const { return home.path() + "/Keywords.plist"; }
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
        if (i == depth) {
            body.append(char(0xA0));
        } else {
            body.append(char(0xA1));
            be(body, quint64(i + 1), 4);
        }
    }
    const quint64 table = quint64(body.size());
    body += offsets;
    body += QByteArray(6, '\0');
    body += char(4);
    body += char(4);
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
struct BrokenCase {
    const char *name;
    std::function<QByteArray()> bytes;
    const char *reason;
};
void PrintTo(const BrokenCase &c, std::ostream *os)
{
    *os << c.name;
}

class BrokenRuleFile : public KeywordFileTest, public ::testing::WithParamInterface<BrokenCase>
{
};

TEST_P(BrokenRuleFile, IsRefusedWithItsReason)
{
    QString why;
    EXPECT_FALSE(KeywordFile::fromBytes(GetParam().bytes(), &why));
    EXPECT_TRUE(why.contains(QLatin1String(GetParam().reason))) << why.toStdString();
}

#define FILE_CASE(file, reason) BrokenCase { file, [] { return broken(file); }, reason }
// Far deeper than libplist's recursive parse and free survive.
constexpr int kCrashDepth = 200000;
INSTANTIATE_TEST_SUITE_P(Files, BrokenRuleFile,
    ::testing::Values(FILE_CASE("nul-in-xml-string.plist", "NUL byte"),
        FILE_CASE("nul-in-binary-string.plist", "NUL-holding"),
        FILE_CASE("nul-in-binary-key.plist", "NUL-holding"),
        FILE_CASE("truncated-binary.plist", "trailer"),
        FILE_CASE("root-is-dict.plist", "root is not a list"),
        FILE_CASE("root-is-string.plist", "root is not a list"),
        FILE_CASE("not-a-plist.plist", "not a property list"),
        FILE_CASE("unclosed-xml.plist", "not a property list"),
        FILE_CASE("binary-cycle.plist", "to itself"),
        FILE_CASE("binary-doubling.plist", "too large a tree"),
        FILE_CASE("binary-deep.plist", "deeper than 16"),
        FILE_CASE("xml-deep.plist", "deeper than 16"),
        FILE_CASE("xml-deep-hidden-closes.plist", "deeper than 16"),
        BrokenCase { "empty", [] { return QByteArray(); }, "empty" },
        BrokenCase { "binary chain", [] { return deepBinary(kCrashDepth); }, "deeper than 16" },
        BrokenCase { "xml arrays", [] { return deepXml("<array>", "</array>", kCrashDepth); },
            "deeper than 16" },
        BrokenCase { "xml dicts", [] { return deepXml("<dict><key>k</key>", "</dict>", kCrashDepth); },
            "deeper than 16" }),
    [](const auto &info) {
        std::string n = info.param.name;
        std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(uchar(c)); }, '_');
        return n;
    });

// Unusual but sound files: the depth walk follows the parser through them.
TEST_F(KeywordFileTest, SoundFilesWithCommentsAndDeclarationsRead)
{
    const QByteArray rule = "<dict><key>Keywords</key><array><string>A<!-- </array> -->B"
                            "<![CDATA[</dict>]]></string></array></dict>";
    const QList<QByteArray> files {
        "<?xml version=\"1.0\" a=\"?>\"?><!DOCTYPE plist [<!ENTITY x \"]>\">]><plist><array>"
            + rule + "</array></plist>",
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
    QStringList reports;
    const QList<QByteArray> damaged { broken("nul-in-binary-key.plist"), "garbage", "" };
    for (const QByteArray &bytes : damaged) {
        ASSERT_TRUE(writeFile(rulePath(), bytes));
        QString setAside;
        EXPECT_FALSE(KeywordFile::read(rulePath(), &setAside));
        EXPECT_FALSE(QFileInfo::exists(rulePath()));
        reports << setAside;
    }
    // Every damaged file is kept, none overwritten by the next.
    EXPECT_EQ(readFile(rulePath() + ".bad"), damaged[0]);
    EXPECT_EQ(readFile(rulePath() + ".bad.1"), damaged[1]);
    EXPECT_EQ(readFile(rulePath() + ".bad.2"), damaged[2]);
    EXPECT_TRUE(reports[0].contains("NUL-holding")) << reports[0].toStdString();
    EXPECT_TRUE(reports[1].contains("\"Keywords.plist.bad.1\"")) << reports[1].toStdString();
    EXPECT_TRUE(reports[2].contains("\"Keywords.plist.bad.2\"")) << reports[2].toStdString();

    // A missing file is no damage; without a place for the line it goes to the system log.
    QString none;
    EXPECT_FALSE(KeywordFile::read(rulePath(), &none));
    EXPECT_TRUE(none.isEmpty());
    SystemLogCapture log;
    ASSERT_TRUE(writeFile(rulePath(), "garbage"));
    EXPECT_FALSE(KeywordFile::read(rulePath()));
    EXPECT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(QFileInfo::exists(rulePath() + ".bad.3"));
}

TEST_F(KeywordFileTest, TheKeywordControllerTellsOfASetAsideFileInItsStatusLog)
{
    StatusLog log;
    SourceListController slc;
    TGDPickerController programmes;
    KeywordController kwc(&slc, &programmes);
    kwc.setStatusLog(&log);
    ASSERT_TRUE(writeFile(kwc.keywordFilePath(), "garbage"));
    kwc.loadRules();
    EXPECT_TRUE(log.text().contains("\"Keywords.plist.bad\" and the rules start empty.\n"))
        << log.text().toStdString();
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
    EXPECT_EQ(r.numberMatches, 0);
    EXPECT_FALSE(r.padStart);
    EXPECT_EQ(r.padEnd, 0);
    ASSERT_TRUE(r.matches);
    ASSERT_EQ(r.matches->size(), 1u);
    const TGDEntry &m = *r.matches->front();
    EXPECT_EQ(m.title, "");
    EXPECT_EQ(m.duration, 1);
    EXPECT_FALSE(m.start.isValid());
    EXPECT_FALSE(m.extStart);
    ASSERT_TRUE(rules->back()->matches);
    EXPECT_TRUE(rules->back()->matches->empty());
}

TEST_F(KeywordFileTest, PythonReadsWhatWeWrite)
{
    auto match = std::make_shared<TGDEntry>();
    match->channel = "1,10";
    match->rawStart = "2007-03-12 18:30";
    match->duration = 30;
    match->title = QString::fromUtf8("Café <News> & more");
    match->dispChannel = "TEN";
    match->start = QDateTime(QDate(2007, 3, 12), QTime(18, 30));
    match->stop = match->start.addSecs(1800);
    match->record = true;
    match->extStart = -5;
    match->extStop = 10;
    match->channelImage = QVariant::fromValue(QSize(16, 16)); // no property-list form

    auto rule = std::make_shared<KeywordRule>();
    rule->keywords = QStringList { "News", "<20:00" };
    rule->negatives = QStringList { "" };
    rule->numberMatches = 1;
    rule->exact = true;
    rule->padStart = 3;
    rule->padEnd = -2;
    rule->autoRecord = true;
    rule->matches = TGDEntryList { match };
    auto blank = std::make_shared<KeywordRule>(); // no paddings, never run

    const QString path = home.path() + "/Keywords.plist";
    ASSERT_TRUE(KeywordFile::write(path, { rule, blank }));

    int status = 0;
    const QByteArray out = python(QStringLiteral(R"(
import json, plistlib, sys, datetime
rules = plistlib.load(open(sys.argv[1], 'rb'))
def kind(v):
    return type(v).__name__
res = []
for r in rules:
    d = {k: [kind(v), v if not isinstance(v, list) else None] for k, v in r.items() if k != 'Matches'}
    d['Keywords'] = r['Keywords']
    if 'Matches' in r:
        m = r['Matches'][0]
        d['match'] = {k: kind(v) for k, v in m.items()}
        d['title'] = m['title']
        d['startUtc'] = m['start'].strftime('%Y-%m-%d %H:%M')
        d['extStart'] = m['extStart']
    res.append(d)
print(json.dumps(res))
)"),
        path, &status);
    ASSERT_EQ(status, 0);
    const QJsonArray rules = QJsonDocument::fromJson(out).array();
    ASSERT_EQ(rules.size(), 2);
    const QJsonObject r = rules[0].toObject();
    EXPECT_EQ(r["Keywords"].toArray().size(), 2);
    EXPECT_EQ(r["Exact"].toArray()[0].toString(), "bool");
    EXPECT_EQ(r["NumberMatches"].toArray()[0].toString(), "int");
    EXPECT_EQ(r["padEnd"].toArray()[1].toInt(), -2);
    EXPECT_EQ(r["autoRecord"].toArray()[1].toBool(), true);
    EXPECT_EQ(r["title"].toString(), QString::fromUtf8("Café <News> & more"));
    const QJsonObject types = r["match"].toObject();
    EXPECT_EQ(types["start"].toString(), "datetime");
    EXPECT_EQ(types["stop"].toString(), "datetime");
    EXPECT_EQ(types["duration"].toString(), "int");
    EXPECT_EQ(types["dispChannel"].toString(), "str");
    EXPECT_FALSE(types.contains("channelImage"));
    EXPECT_EQ(r["startUtc"].toString(), "2007-03-12 07:30"); // 18:30 in Sydney, daylight time
    EXPECT_EQ(r["extStart"].toInt(), -5);
    const QJsonObject b = rules[1].toObject();
    EXPECT_FALSE(b.contains("padStart"));
    EXPECT_FALSE(b.contains("autoRecord"));
    EXPECT_FALSE(b.contains("match"));

    // And back: what we wrote reads back to the same values.
    const auto back = KeywordFile::read(path);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2u);
    const KeywordRule &again = *back->front();
    EXPECT_EQ(again.keywords, rule->keywords);
    EXPECT_EQ(again.padEnd, -2);
    ASSERT_TRUE(again.matches);
    EXPECT_EQ(again.matches->front()->start, match->start);
    EXPECT_EQ(again.matches->front()->extStart, -5);
    EXPECT_TRUE(again.matches->front()->record);
    EXPECT_FALSE(back->back()->matches);
    EXPECT_FALSE(back->back()->padStart);
}

TEST_F(KeywordFileTest, WeReadWhatPythonWrites)
{
    const QString path = home.path() + "/Keywords.plist";
    int status = 0;
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
            path, &status);
        ASSERT_EQ(status, 0);
        const auto rules = KeywordFile::read(path);
        ASSERT_TRUE(rules) << fmt;
        ASSERT_EQ(rules->size(), 2u);
        const KeywordRule &r = *rules->front();
        EXPECT_EQ(r.keywords, QStringList({ "Doctor Who", "ABC" }));
        EXPECT_EQ(r.negatives, QStringList({ "", "Repeat" }));
        EXPECT_EQ(r.padStart, 5);
        EXPECT_EQ(r.padEnd, 10);
        EXPECT_EQ(r.autoRecord, true);
        ASSERT_TRUE(r.matches);
        const TGDEntry &m = *r.matches->front();
        EXPECT_EQ(m.title, "Doctor Who");
        EXPECT_EQ(m.duration, 60);
        EXPECT_TRUE(m.record);
        EXPECT_EQ(m.extStart, -3);
        EXPECT_EQ(m.start, QDateTime(QDate(2007, 3, 12), QTime(9, 30), Qt::UTC));
        // A rule the file gives without "Negatives" keeps the default.
        EXPECT_EQ(rules->back()->negatives, QStringList { "" });
        EXPECT_FALSE(rules->back()->matches);
    }
}

TEST_F(KeywordFileTest, FailedWriteKeepsTheOldFile)
{
    const QString path = home.path() + "/Keywords.plist";
    auto rule = std::make_shared<KeywordRule>();
    rule->keywords = QStringList { "Old" };
    ASSERT_TRUE(KeywordFile::write(path, { rule }));
    const QByteArray before = readFile(path);
    EXPECT_FALSE(KeywordFile::write(home.path() + "/no/such/folder/Keywords.plist", { rule }));
    EXPECT_EQ(readFile(path), before);
}
