#include "widgets/ListModels.h"

#include "ui/KeywordController.h"

#include <QApplication>
#include <QColor>
#include <QPainter>

namespace {
const QStringList kDayColumns = {"file", "downloaded", "fileCount"};
const QStringList kDayTitles = {"Day", "Done", "Programmes"};
const QStringList kProgrammeColumns = {"record", "dispChannel", "startTime", "duration", "title",
                                       "sub", "cat", "rating"};
const QStringList kProgrammeTitles = {"Rec", "Channel", "Start", "Min", "Title", "Episode",
                                      "Category", "Rating"};
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
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < kDayTitles.size())
        return kDayTitles.at(section);
    return {};
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

ProgrammeModel::ProgrammeModel(KeywordController *kwc, QObject *parent)
    : QAbstractTableModel(parent)
    , kwc_(kwc)
{
}

void ProgrammeModel::showProgrammes(const TGDEntryList &list)
{
    beginResetModel();
    list_ = list;
    endResetModel();
}

int ProgrammeModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(list_.size());
}

int ProgrammeModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(kProgrammeColumns.size());
}

QVariant ProgrammeModel::data(const QModelIndex &index, int role) const
{
    if (index.row() >= int(list_.size()))
        return {};
    const TGDEntry &e = *list_[index.row()];
    const QString key = kProgrammeColumns.at(index.column());
    if (key == QLatin1String("record")) {
        if (role == Qt::CheckStateRole)
            return e.record ? Qt::Checked : Qt::Unchecked;
        return {};
    }
    if (role == Qt::ForegroundRole && key == QLatin1String("dispChannel")) {
        if (e.dispChannelColour == TGDEntry::Colour::Green)
            return QColor::fromRgbF(0.1f, 0.5f, 0.1f);
        if (e.dispChannelColour == TGDEntry::Colour::Red)
            return QColor(Qt::red);
        return {};
    }
    if (role == Qt::ToolTipRole)
        return e.description;
    if (role != Qt::DisplayRole)
        return {};
    return e.value(key);
}

bool ProgrammeModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != 0 || index.row() >= int(list_.size()))
        return false;
    const bool on = value.toInt() == Qt::Checked;
    // Through the keyword controller, so a hand mark never races a reload.
    kwc_->editEntry(list_[index.row()], [on](TGDEntry &e) { e.record = on; });
    Q_EMIT dataChanged(index, index);
    return true;
}

Qt::ItemFlags ProgrammeModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ProgrammeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole
        && section < kProgrammeTitles.size())
        return kProgrammeTitles.at(section);
    return {};
}
