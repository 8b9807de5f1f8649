#pragma once

#include "app/EPGController.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "guide/TGDFile.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"
#include "ui/KeywordController.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <gtest/gtest.h>

// The fixture week of day files (tests/data/keywords/, 12 to 18 March 2007), shared by the
// keyword tests.
inline const QStringList kWeek
    = { "20070312", "20070313", "20070314", "20070315", "20070316", "20070317", "20070318" };

// Copies the week into `output`; answers success.
inline bool copyKeywordWeek(const QString &output)
{
    QDir().mkpath(output);
    for (const QString &day : kWeek)
        if (!QFile::copy(QStringLiteral(PALLARO_TEST_DATA "/keywords/") + day + ".tgd",
                output + "/" + day + ".tgd"))
            return false;
    return true;
}

// The week in a fresh home's output folder, listed as guide days, with a keyword
// controller on it whose today is 12 March 2007.
class KeywordWeekTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Settings::registerDefaults();
        output = Paths::outputFolder();
        ASSERT_TRUE(copyKeywordWeek(output));
        epg.setSourceList(&slc);
        kwc = std::make_unique<KeywordController>(&slc, &table);
        kwc->setToday([this] { return today; });
        kwc->setStatusLog(&log);
        slc.setKeywordController(kwc.get());
        slc.setProgrammeTable(&table);
        rescan();
    }

    void rescan()
    {
        epg.loadExistingTGDs(QDate(2007, 3, 12));
        QCoreApplication::processEvents();
    }
    KeywordRulePtr addRule(
        QStringList keywords, QStringList negatives = { "" }, bool autoRecord = false)
    {
        auto r = createBlankSeq();
        r->keywords = std::move(keywords);
        r->negatives = std::move(negatives);
        if (autoRecord)
            r->autoRecord = true;
        KeywordRules rules = kwc->giveSeqs();
        rules.push_back(r);
        kwc->setSeqs(rules);
        return r;
    }
    bool reload(const QString &mode = QString())
    {
        const bool ok = kwc->runReloadCycle(mode);
        QCoreApplication::processEvents();
        return ok;
    }
    QString dayFile(const QString &day) const { return output + "/" + day + ".tgd"; }
    // The programmes as they stand in the day files on disk (no derivation needed).
    TGDEntryList onDisk(const QStringList &days = kWeek) const
    {
        TGDEntryList all;
        for (const QString &day : days) {
            const TGDEntryList d = TGDFile::parse(readFile(dayFile(day)), day);
            all.insert(all.end(), d.begin(), d.end());
        }
        return all;
    }
    void appendLine(const QString &day, const QString &line)
    {
        QFile f(dayFile(day));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(line.toLatin1() + "\n");
    }

    LocalZone zone;
    TempHome home;
    QString output;
    QDate today { 2007, 3, 12 };
    StatusLog log;
    EPGController epg { &log };
    SourceListController slc;
    TGDPickerController table;
    std::unique_ptr<KeywordController> kwc;
};
