#include "widgets/ListModels.h"

#include "widgets/ColumnTitle.h"

#include <QApplication>
#include <QColor>
#include <QPainter>

namespace {
const QStringList kDayColumns = {"file", "downloaded", "fileCount"};
const QStringList kDayTitles = {"Day", "Done", "Programmes"};
} // namespace

DayListModel::DayListModel(SourceListController *slc, QObject *parent)
    : QAbstractTableModel(parent)
    , slc_(slc)
{
}

void DayListModel::showRows(const GuideDayRows &rows)
{
    beginResetModel();
    rows_ = rows;
    endResetModel();
}

int DayListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int DayListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(kDayColumns.size());
}

QVariant DayListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || index.row() >= int(rows_.size()))
        return {};
    const QVariant v = slc_->value(rows_[index.row()], kDayColumns.at(index.column()));
    if (index.column() == 1 && v.isValid())
        return QString::number(v.toDouble(), 'f', 0) + QLatin1Char('%');
    return v;
}

QVariant DayListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return columnTitle(kDayTitles, section, orientation, role);
}

void CountButtonDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                const QModelIndex &index) const
{
    const QRectF box = QRectF(option.rect).adjusted(3, 2, -3, -2);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QColor(150, 150, 150));
    painter->setBrush(QColor(235, 235, 235));
    painter->drawRoundedRect(box, box.height() / 2, box.height() / 2);
    painter->setPen(option.palette.color(QPalette::ButtonText));
    painter->drawText(box, Qt::AlignCenter, QString::number(index.data().toInt()));
    painter->restore();
}
