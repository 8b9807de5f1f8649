#pragma once

#include "guide/TGDEntry.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

class KeywordController;

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

// The programme table: the working list of the selected days or a rule's matches.
class ProgrammeModel : public QAbstractTableModel, public ProgrammeListView {
    Q_OBJECT
public:
    explicit ProgrammeModel(KeywordController *kwc, QObject *parent = nullptr);

    void showProgrammes(const TGDEntryList &list) override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    KeywordController *kwc_;
    TGDEntryList list_;
};
