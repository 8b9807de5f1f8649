#pragma once

#include <QAbstractTableModel>
#include <QWidget>

class NowOnController;
class QLabel;
class QTableView;

// The "Now on" list as a table: badge, channel, start time and title, one row a programme.
class NowOnModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit NowOnModel(NowOnController *controller, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    NowOnController *controller_;
};

// The "Now on" page: the time of the last refresh over the list.
class NowOnPane : public QWidget
{
    Q_OBJECT
public:
    explicit NowOnPane(NowOnController *controller, QWidget *parent = nullptr);

    QTableView *tableView() const { return table_; }
    QLabel *timeLabel() const { return time_; }

private:
    QTableView *table_;
    QLabel *time_;
};
