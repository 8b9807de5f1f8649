#include "support/KeywordWeek.h"
#include "ui/NowOnController.h"

#include <QElapsedTimer>
#include <thread>

namespace
{

QByteArray line(const char *channel, const char *start, int minutes, const char *title)
{
    return QStringList { channel, start, QString::number(minutes), title, "[News]", "", "PG", "N" }
               .join('\t')
               .toLatin1()
        + "\r\n";
}

QDateTime at(const char *text)
{
    return QDateTime::fromString(text, "yyyy-MM-dd HH:mm");
}

QStringList titles(const TGDEntryList &list)
{
    QStringList t;
    for (const TGDEntryPtr &e : list)
        t << e->title;
    return t;
}

// Channel "9" before "2", as a list that was not sorted by time: the order is kept.
TEST(NowOn, OnAirAtAnInstantWithBothBoundsInclusive)
{
    LocalZone zone;
    TGDFile reader;
    reader.loadTGDData(line("9", "2007-03-12 19:00", 120, "Film")
            + line("2", "2007-03-12 19:30", 30, "News") + line("2", "2007-03-12 20:00", 30, "Quiz")
            + line("2", "not a time", 30, "Broken"),
        "20070312", false);
    const TGDEntryList all = reader.getFileData();
    const struct {
        const char *at;
        QStringList on;
    } cases[] = {
        { "2007-03-12 20:00", { "Film", "News", "Quiz" } }, // News ends as Quiz starts
        { "2007-03-12 19:59", { "Film", "News" } },
        { "2007-03-12 20:30", { "Film", "Quiz" } },
        { "2007-03-12 18:59", {} },
        { "2007-03-12 21:01", {} },
    };
    for (const auto &c : cases)
        EXPECT_EQ(titles(NowOnController::onAir(all, at(c.at))), c.on) << c.at;
}

class NowOnWeek : public KeywordWeekTest
{
protected:
    void SetUp() override
    {
        KeywordWeekTest::SetUp();
        noc = std::make_unique<NowOnController>(kwc.get());
        noc->setClock([this] { return clock; });
    }
    QDateTime clock = at("2007-03-12 20:00");
    std::unique_ptr<NowOnController> noc;
};

TEST_F(NowOnWeek, ChannelsWithoutAPictureAreListedWithTheLookupsAnswer)
{
    ASSERT_TRUE(reload());
    noc->setChannelPictures([](const QString &channel) {
        return channel == "1,10" ? QVariant("ten.png") : QVariant("blank");
    });
    noc->nowOn();
    const TGDEntryList shown = noc->nowOnList();
    ASSERT_EQ(shown, NowOnController::onAir(kwc->allTGDEntries(), clock));
    bool sawTen = false, sawBlank = false;
    for (size_t row = 0; row < shown.size(); ++row) {
        const QVariant picture = noc->value(int(row), "channelImage");
        EXPECT_EQ(picture, shown[row]->channel == "1,10" ? "ten.png" : "blank");
        (shown[row]->channel == "1,10" ? sawTen : sawBlank) = true;
        EXPECT_FALSE(shown[row]->channelImage.isValid()); // the shared record is left alone
    }
    EXPECT_TRUE(sawTen && sawBlank);
    EXPECT_EQ(noc->value(0, "title"), shown[0]->title);
}

// The reload's worker asks for the refresh; it is carried out on the UI thread, on the
// list the cycle has just read.
TEST_F(NowOnWeek, RefreshFromTheReloadWorkerRunsOnTheUiThreadAfterTheNewList)
{
    std::vector<std::pair<std::thread::id, TGDEntryList>> refreshes;
    QObject::connect(noc.get(), &NowOnController::nowOnListChanged,
        [&] { refreshes.emplace_back(std::this_thread::get_id(), kwc->allTGDEntries()); });
    std::thread worker([this] { kwc->runReloadCycle(QString()); });
    worker.join();
    EXPECT_TRUE(refreshes.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(refreshes.size(), 1u);
    EXPECT_EQ(refreshes[0].first, std::this_thread::get_id());
    EXPECT_FALSE(noc->nowOnList().empty());
    EXPECT_EQ(noc->nowOnList(), NowOnController::onAir(refreshes[0].second, clock));
    EXPECT_EQ(noc->currentTime(), "20:00");
}

TEST(NowOnEmpty, TheTimerRefreshesAnEmptyListAndTheTimeAdvances)
{
    NowOnController noc(nullptr);
    QDateTime clock = at("2007-03-12 23:58");
    noc.setClock([&] {
        clock = clock.addSecs(60);
        return clock;
    });
    QStringList times;
    QObject::connect(
        &noc, &NowOnController::currentTimeChanged, [&](const QString &time) { times << time; });
    noc.awakeFromNib(5);
    QElapsedTimer t;
    t.start();
    while (times.size() < 3 && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_EQ(times, QStringList({ "23:59", "00:00", "00:01" }));
    EXPECT_TRUE(noc.nowOnList().empty());
}

} // namespace
