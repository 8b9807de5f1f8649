#pragma once

#include "ui/SourceListController.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

// The guide-day list as a table: columns by row key ("file", "downloaded", "fileCount").
class DayListModel : public QAbstractTableModel, public DayListView {
    Q_OBJECT
public:
    explicit DayListModel(SourceListController *slc, QObject *parent = nullptr);

    void showRows(const GuideDayRows &rows) override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    SourceListController *slc_;
    GuideDayRows rows_;
};

// Draws the "fileCount" column as a round-rect button showing the count.
class CountButtonDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
