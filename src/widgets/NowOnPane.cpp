#include "widgets/NowOnPane.h"

#include "ui/NowOnController.h"
#include "widgets/ColumnTitle.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>

namespace
{
const QStringList kTitles = { QString(), "Channel", "Start", "Title" };
} // namespace

NowOnModel::NowOnModel(NowOnController *controller, QObject *parent)
    : QAbstractTableModel(parent)
    , controller_(controller)
{
    connect(controller_, &NowOnController::nowOnListChanged, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

int NowOnModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(controller_->nowOnList().size());
}

int NowOnModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(NowOnController::columnKeys().size());
}

QVariant NowOnModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const QString &key = NowOnController::columnKeys().at(index.column());
    const bool picture = key == QLatin1String("channelImage");
    if ((picture && role == Qt::DecorationRole) || (!picture && role == Qt::DisplayRole))
        return controller_->value(index.row(), key);
    if (picture && role == Qt::ToolTipRole)
        return controller_->value(index.row(), QStringLiteral("dispChannelString"));
    return {};
}

QVariant NowOnModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return columnTitle(kTitles, section, orientation, role);
}

NowOnPane::NowOnPane(NowOnController *controller, QWidget *parent)
    : QWidget(parent)
    , table_(new QTableView)
    , time_(new QLabel)
{
    time_->setObjectName("nowOnTime");
    // An empty table says why it is empty.
    auto showTime = [this, controller] {
        const QString time = controller->currentTime();
        time_->setText(controller->nowOnList().empty() ? tr("Nothing on air at %1").arg(time)
                                                       : tr("On air at %1").arg(time));
    };
    showTime();
    connect(controller, &NowOnController::currentTimeChanged, this, showTime);
    connect(controller, &NowOnController::nowOnListChanged, this, showTime);
    QFont bold = time_->font();
    bold.setBold(true);
    time_->setFont(bold);

    table_->setObjectName("nowOnTable");
    table_->setModel(new NowOnModel(controller, this));
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setTabKeyNavigation(false);
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->setIconSize(QSize(44, 22));
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(qMax(26, fontMetrics().height() + 8));
    QHeaderView *header = table_->horizontalHeader();
    header->resizeSection(0, 56);
    header->resizeSection(1, fontMetrics().horizontalAdvance(QStringLiteral("Prime/Southern Cross")) + 24);
    header->resizeSection(2, fontMetrics().horizontalAdvance(QStringLiteral("00:00")) + 24);
    header->setStretchLastSection(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(time_);
    layout->addWidget(table_, 1);
}
