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

// Copies the days of a week of tests/data/<folder>/ into `output`; answers success.
inline bool copyKeywordWeek(
    const QString &output, const QString &folder = "keywords", const QStringList &days = kWeek)
{
    QDir().mkpath(output);
    for (const QString &day : days)
        if (!QFile::copy(QStringLiteral(PALLARO_TEST_DATA "/") + folder + "/" + day + ".tgd",
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
        ASSERT_TRUE(copyKeywordWeek(output, weekFolder, week));
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
        epg.loadExistingTGDs(today);
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
    TGDEntryList onDisk(const QStringList &days = {}) const
    {
        TGDEntryList all;
        for (const QString &day : days.isEmpty() ? week : days) {
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
    // Another week: set in the derived fixture's constructor.
    QString weekFolder = "keywords";
    QStringList week = kWeek;
    QDate today { 2007, 3, 12 };
    StatusLog log;
    EPGController epg { &log };
    SourceListController slc;
    TGDPickerController table;
    std::unique_ptr<KeywordController> kwc;
};

// tests/data/rules/: a regional guide from Monday 30 March to Sunday 5 April 2026, with
// simulcasts; Sydney's daylight saving ends at 03:00 on the Sunday.
inline const QStringList kRulesWeek
    = { "20260330", "20260331", "20260401", "20260402", "20260403", "20260404", "20260405" };

class RulesWeekTest : public KeywordWeekTest
{
protected:
    RulesWeekTest()
    {
        weekFolder = "rules";
        week = kRulesWeek;
        today = QDate(2026, 3, 30);
    }
};
