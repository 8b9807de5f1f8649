#include "support/TempHome.h"
#include "ui/KeywordFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSize>
#include <ctime>
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
    TempHome home;
};

} // namespace

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

TEST_F(KeywordFileTest, BrokenFilesGiveNoRules)
{
    const QString path = home.path() + "/Keywords.plist";
    EXPECT_FALSE(KeywordFile::read(path)); // missing
    for (const QByteArray &bytes : { QByteArray(""), QByteArray("not a plist"),
             QByteArray("<?xml version=\"1.0\"?><plist><dict/></plist>"),
             QByteArray("<?xml version=\"1.0\"?><plist><array><dict><key>Keywords</key>") }) {
        ASSERT_TRUE(writeFile(path, bytes));
        EXPECT_FALSE(KeywordFile::read(path)) << bytes.toStdString();
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
