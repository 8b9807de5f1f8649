// What a guide provider's answer can do to the user's files: archives with links, folders,
// escaping names and huge documents, answers that are no archive, a server that stalls.
// Each case runs a whole fetch against a loopback server and then looks at every entry of
// the output folder and of a folder beside it that the fetch must never touch.
#include "base/Paths.h"
#include "base/Settings.h"
#include "support/AppFixture.h"
#include "support/SydneyTime.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

// The guide's first day: far ahead, so no day counts as past whatever the clock says.
const char *kFirstDay = "2099-03-01";
const QString kDay = "20990301";

// Every entry under `folder`, links and folders as what they are (never followed).
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString relative = QDir(folder).relativeFilePath(info.filePath());
        if (info.isSymLink())
            entries[relative] = "link to " + info.symLinkTarget().toUtf8();
        else if (info.isDir())
            entries[relative] = "folder";
        else
            entries[relative] = readFile(info.filePath());
    }
    return entries;
}

// AddressSanitizer holds freed memory back for a while, so peaks say nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeaksCount = false;
#else
constexpr bool kPeaksCount = true;
#endif

// The process's peak resident memory in KiB since the last reset.
qint64 peakKiB()
{
    static const QRegularExpression hwm(QStringLiteral("VmHWM:\\s+(\\d+)"));
    return hwm.match(QString::fromLatin1(readFile("/proc/self/status"))).captured(1).toLongLong();
}

bool resetPeak()
{
    QFile clear("/proc/self/clear_refs");
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

enum class Answer { Archive, Html, Stall };

struct Hostile {
    const char *name;
    Answer answer;
    QStringList members; // make_archive.py KIND:NAME[:VALUE]; "GUIDE" stands for the sample guide's archive
    bool older; // a good archive of an earlier fetch is in the output folder
    bool succeeds;
    bool replacesArchive; // the served archive becomes kR.zip
    const char *said; // in the StatusLog
    bool grid = false;
    qint64 maxGuideBytes = 0; // 0: the program's own limit
    qint64 maxPeakMiB = 0; // 0: not measured
};

class HostileProvider : public AppFixture, public ::testing::TestWithParam<Hostile>
{
protected:
    HostileProvider()
    {
        controller.awakeFromNib();
        Settings::setValue("location", "Sydney");
        controller.setStallSeconds(2);
    }

    void makeArchive(const QString &zip, const QStringList &members)
    {
        QStringList described;
        for (QString member : members)
            described << member.replace("GUIDE", sample.path() + "/myxmltv/xmltvSydney.zip")
                         .replace("OUTSIDE", outside());
        QProcess p;
        p.start("/usr/bin/python3",
            QStringList { PALLARO_SOURCE_DIR "/tests/data/app/make_archive.py", zip } + described);
        ASSERT_TRUE(p.waitForFinished(120000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }

    QString outside() const { return home.path() + "/outside"; }

    const LocalZone sydney;
    QTemporaryDir sample;
    QTemporaryDir served;
    PlaceholderView view;
};

TEST_P(HostileProvider, WritesOnlyTheGuideAndItsDaysIntoTheOutputFolder)
{
    const Hostile &c = GetParam();
    slc.setView(&view);
    makeSample(sample.path(),
        { "--key", "Sydney", "--path", "myxmltv", "--today", kFirstDay, "--days", "3" });
    const QString good = sample.path() + "/myxmltv/xmltvSydney.zip";

    // The user's files beside the data folder, and links an older program's unzip left in
    // the output folder, each named like a file the fetch writes.
    ASSERT_TRUE(writeFile(outside() + "/victim.txt", "precious"));
    ASSERT_TRUE(writeFile(outside() + "/.profile", "PATH=/usr/bin\n"));
    QStringList planted = { kDay + ".tgd", "xmltv.xml", "-" };
    if (c.grid)
        planted << kDay + ".html" << kDay + ".xml";
    if (c.older) {
        ASSERT_TRUE(QFile::copy(good, out() + "/kR.zip"));
    } else {
        planted << "kR.zip";
    }
    for (const QString &name : planted)
        ASSERT_TRUE(QFile::link(outside() + "/victim.txt", out() + "/" + name));
    const QMap<QString, QByteArray> outsideBefore = snapshot(outside());
    const QByteArray older = readFile(out() + "/kR.zip");

    QDir(served.path()).mkpath("myxmltv");
    const QString answer = served.path() + "/myxmltv/xmltvSydney.zip";
    QTcpServer stalling;
    if (c.answer == Answer::Archive) {
        makeArchive(answer, c.members);
    } else if (c.answer == Answer::Html) {
        ASSERT_TRUE(writeFile(answer, "<html><body>Down for maintenance</body></html>\n"));
    }
    SampleServer provider(served.path());
    if (c.answer == Answer::Stall) {
        // Listening but never answering: the kernel takes the connection, nobody reads it.
        ASSERT_TRUE(stalling.listen(QHostAddress::LocalHost, 0));
        Settings::setValue("providerHost", QString("127.0.0.1:%1").arg(stalling.serverPort()));
    } else {
        Settings::setValue("providerHost", provider.host());
    }
    Settings::setValue("generateGrid", c.grid);
    if (c.maxGuideBytes)
        controller.setMaxGuideBytes(c.maxGuideBytes);

    ASSERT_TRUE(!c.maxPeakMiB || resetPeak());
    const qint64 before = peakKiB();
    QElapsedTimer took;
    took.start();
    EXPECT_EQ(fetch(), c.succeeds) << log.text().toStdString();
    if (c.maxPeakMiB && kPeaksCount) {
        EXPECT_LT((peakKiB() - before) / 1024, c.maxPeakMiB);
    }
    if (c.answer == Answer::Stall) {
        EXPECT_LT(took.elapsed(), 20000);
    }
    EXPECT_TRUE(log.text().contains(c.said)) << log.text().toStdString();

    // Nothing outside the data folder changed.
    EXPECT_EQ(snapshot(outside()), outsideBefore);
    // Only the program's own kinds of file are in the output folder, and the links still
    // there are those the fetch had no cause to write.
    const QRegularExpression ours("^([0-9]{8}\\.(tgd|xml|html)|kR\\.zip|xmltv\\.xml|-|popup\\.js|"
                                  "xmltv2html\\.css|xmltv2htmlrc)$");
    const QMap<QString, QByteArray> after = snapshot(out());
    for (auto it = after.begin(); it != after.end(); ++it) {
        EXPECT_TRUE(ours.match(it.key()).hasMatch()) << it.key().toStdString();
        if (it.value().startsWith("link to ")) {
            EXPECT_TRUE(planted.contains(it.key()) && !c.succeeds) << it.key().toStdString();
        }
    }
    EXPECT_EQ(after.value("popup.js"), readFile(Paths::programFolder() + "popup.js"));
    if (c.succeeds) {
        EXPECT_EQ(outputFiles({ "*.tgd" }),
            QStringList({ kDay + ".tgd", "20990302.tgd", "20990303.tgd" }));
        EXPECT_GT(readFile(out() + "/" + kDay + ".tgd").size(), 100);
    }
    if (c.grid) {
        EXPECT_FALSE(QFileInfo(out() + "/" + kDay + ".html").isSymLink());
        EXPECT_TRUE(readFile(out() + "/" + kDay + ".html").contains("<html"));
    }
    // The good archive of an earlier fetch stays unless a guide came instead.
    const QFileInfo archive(out() + "/kR.zip");
    if (c.replacesArchive) {
        EXPECT_EQ(readFile(archive.filePath()), readFile(answer));
    } else if (c.older) {
        EXPECT_EQ(readFile(archive.filePath()), older);
    } else {
        EXPECT_FALSE(archive.isFile() && !archive.isSymLink());
    }
    // A document refused as no guide is not kept.
    const QFileInfo guide(out() + "/xmltv.xml");
    if (!c.succeeds) {
        EXPECT_FALSE(guide.isFile() && !guide.isSymLink());
    }
    EXPECT_LT(guide.size(), 50 << 20);
}

const QStringList kEveryTrap = {
    "guide:xmltv.xml:GUIDE",
    "link:20990301.tgd:OUTSIDE/victim.txt",
    "link:20990302.tgd:OUTSIDE/.profile",
    "link:kR.zip:OUTSIDE/victim.txt",
    "link:20990301.html:OUTSIDE/victim.txt",
    "text:popup.js:document.title='provider';",
    "text:run-me.sh:#!/bin/sh\necho owned\n",
    "dir:sub",
    "text:sub/20990303.tgd:not a day",
    "text:../escaped.tgd:up",
    "text:../outside/victim.txt:overwritten",
    "text:OUTSIDE/absolute.txt:absolute",
    "text:20990301.xml:<tv/>",
};

INSTANTIATE_TEST_SUITE_P(, HostileProvider,
    ::testing::Values(
        Hostile { "LinksScriptsFoldersAndEscapingNamesStayInTheArchive", Answer::Archive,
            kEveryTrap, false, true, true, "Converting to TGD format... Done\n" },
        Hostile { "GridPagesReplaceTheLinksInTheirPlace", Answer::Archive, kEveryTrap, true, true,
            true, "Creating grid previews...", true },
        Hostile { "GuideThatIsALinkIsNoGuide", Answer::Archive,
            { "link:xmltv.xml:OUTSIDE/victim.txt", "text:-:<notv/>" }, true, true, false,
            "The provider's answer holds no guide: its \"-\" is no XMLTV document" },
        Hostile { "GuideUnderAnotherNameIsNoGuide", Answer::Archive,
            { "guide:../xmltv.xml:GUIDE", "guide:sub/xmltv.xml:GUIDE", "guide:/xmltv.xml:GUIDE",
                "dir:xmltv.xml" },
            false, false, false, "The provider's answer holds no guide: the archive" },
        Hostile { "HtmlAnswerKeepsTheLastGoodArchive", Answer::Html, {}, true, true, false,
            " with an HTML page, not a zip archive; converting the archive of an earlier "
            "fetch.\n" },
        Hostile { "HtmlAnswerWithoutAnEarlierArchiveFails", Answer::Html, {}, false, false, false,
            "/myxmltv/xmltvSydney.zip with an HTML page, not a zip archive\n" },
        Hostile { "StalledServerStopsAtTheLimit", Answer::Stall, {}, true, true, false,
            "\" stalled: no data for 2 s; converting the archive of an earlier fetch.\n" },
        Hostile { "GuideLargerThanTheLimitIsRefused", Answer::Archive, { "big:xmltv.xml:3" }, false,
            false, false, "the guide in the archive is larger than 1 MB", false, 1 << 20 },
        Hostile { "HugeDocumentThatIsNoGuideKeepsTheLastGoodArchive", Answer::Archive,
            { "big:xmltv.xml:300" }, true, true, false, "its \"xmltv.xml\" is no XMLTV document",
            false, 0, 100 }),
    [](const auto &info) { return std::string(info.param.name); });

// The importer itself on a huge document that is no guide, reached through an archive of
// an earlier fetch, which is converted without the answer's check.
TEST_F(HostileProvider, HugeDocumentInTheEarlierArchiveIsReadInBoundedMemoryAndNotKept)
{
    slc.setView(&view);
    makeArchive(out() + "/kR.zip", { "big:xmltv.xml:300" });
    QDir(served.path()).mkpath("myxmltv");
    SampleServer provider(served.path()); // answers 404
    Settings::setValue("providerHost", provider.host());
    ASSERT_TRUE(resetPeak());
    const qint64 before = peakKiB();
    EXPECT_FALSE(fetch());
    if (kPeaksCount) {
        EXPECT_LT((peakKiB() - before) / 1024, 100);
    }
    EXPECT_TRUE(log.text().contains(
        "The guide held no programmes (\"xmltv.xml\" is no guide): no day files were made.\n"))
        << log.text().toStdString();
    EXPECT_FALSE(QFileInfo::exists(out() + "/xmltv.xml"));
}

} // namespace
