#include "ui/SourceListController.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <thread>

namespace {

class RecordingView : public DayListView {
public:
    void showRows(const GuideDayRows &rows) override { shown.push_back(rows.size()); }
    std::vector<size_t> shown;
};

GuideDayRowPtr day(const QString &yyyymmdd)
{
    auto row = std::make_shared<GuideDayRow>();
    row->rawDate = yyyymmdd + ".tgd";
    row->date = yyyymmdd.mid(6, 2) + yyyymmdd.mid(4, 2) + yyyymmdd.left(4);
    return row;
}

TEST(GuideDayList, AWorkersRedisplayReachesTheViewOnTheUiThread)
{
    SourceListController slc;
    RecordingView view;
    slc.setView(&view);
    std::thread worker([&slc] {
        slc.setFileList({ day("20261205"), day("20261206") });
        slc.reloadTable();
        slc.setFileList(slc.fileList()); // the rows already held: nothing changes
        slc.setFileList({});
        slc.reloadTable();
    });
    worker.join();
    EXPECT_TRUE(view.shown.empty());
    QElapsedTimer t;
    t.start();
    while (view.shown.size() < 2 && t.elapsed() < 5000)
        QCoreApplication::processEvents();
    EXPECT_EQ(view.shown, (std::vector<size_t> { 2, 0 }));
}

} // namespace
