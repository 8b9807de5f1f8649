#include "widgets/ProgrammeView.h"

#include "widgets/ColumnTitle.h"

#include <QAction>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_map>

namespace
{
const QStringList kTitles
    = { "Rec", "Channel", "Start", "End", "Min", "Title", "Episode", "Category", "Rating" };
// What a column usually has to show whole, for its width; the title's is its least, and
// it takes whatever room is left. Beside the tick, who set it ("[x]" stands for the box).
const char *const kWidest[] = { "[x] hand", "Prime North", "Wed 30 Sep 00:00", "00:00", "999",
    "Midday Movie: The Long Road", "The Empty Child", "Current Affairs", "MA15+" };
// The columns that narrow before the title does (the detail area shows them whole), and the
// room in average characters they keep.
const QStringList kYielding = { "sub", "cat" };
constexpr int kYieldingChars = 8;

int usualWidth(const QTableView *view, int column)
{
    return view->fontMetrics().horizontalAdvance(QString::fromUtf8(kWidest[column])) + 16;
}

bool yields(int column)
{
    return kYielding.contains(ProgrammeModel::columnKeys().at(column));
}

int leastWidth(const QTableView *view, int column)
{
    return yields(column) ? std::min(
               usualWidth(view, column), view->fontMetrics().averageCharWidth() * kYieldingChars)
                          : usualWidth(view, column);
}

// Narrows the yielding columns as far as the title needs, evenly, or widens them back.
void fitColumns(QTableView *view)
{
    int usual = 0, give = 0;
    for (int c = 0; c < int(std::size(kWidest)); ++c) {
        usual += usualWidth(view, c);
        give += usualWidth(view, c) - leastWidth(view, c);
    }
    int squeeze = std::clamp(usual - view->viewport()->width(), 0, give);
    int yielding = int(kYielding.size());
    for (int c = 0; c < int(std::size(kWidest)); ++c) {
        if (!yields(c))
            continue;
        const int share = std::min(squeeze / yielding--, usualWidth(view, c) - leastWidth(view, c));
        view->horizontalHeader()->resizeSection(c, usualWidth(view, c) - share);
        squeeze -= share;
    }
}
} // namespace

ProgrammeModel::ProgrammeModel(TGDPickerController *controller, QObject *parent)
    : QAbstractTableModel(parent)
    , controller_(controller)
{
}

const QStringList &ProgrammeModel::columnKeys()
{
    static const QStringList keys
        = { "record", "dispChannel", "start", "stop", "duration", "title", "sub", "cat", "rating" };
    return keys;
}

void ProgrammeModel::showProgrammes(const TGDEntryList &list)
{
    if (list == list_) {
        if (!list_.empty())
            Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
        return;
    }
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
    return parent.isValid() ? 0 : int(columnKeys().size());
}

// The tick, and beside it who set it: a hand decision outlives every fetch and overrides
// the rules, so the user must be able to tell it from a rule's mark.
QVariant ProgrammeModel::recordData(const TGDEntry &e, int role)
{
    using Source = TGDEntry::MarkSource;
    const QString rule = QStringLiteral("\u201c%1\u201d").arg(e.markRule);
    switch (role) {
    case Qt::CheckStateRole:
        return e.record ? Qt::Checked : Qt::Unchecked;
    case Qt::DisplayRole:
        if (e.markSource == Source::Hand)
            return tr("hand");
        if (e.markSource == Source::None)
            return e.markRule.isEmpty() ? QString() : tr("repeat");
        return tr("rule");
    case Qt::ToolTipRole:
        if (e.markSource == Source::Rule)
            return tr("Recorded: the rule %1 marks it.").arg(rule);
        if (e.markSource != Source::Hand && !e.markRule.isEmpty())
            return tr("Not recorded: a repeat. The rule %1 marks the first showing of each "
                      "episode only. Tick to record it.")
                .arg(rule);
        if (e.markSource != Source::Hand)
            return tr("Not recorded. Tick to record it.");
        if (e.markRule.isEmpty())
            return e.record ? tr("Recorded: you marked it.") : tr("Not recorded: you unmarked it.");
        return e.record
            ? tr("Recorded: you marked it, with your own times, over the rule %1.").arg(rule)
            : tr("Not recorded: you unmarked it, over the rule %1.").arg(rule);
    case Qt::ForegroundRole:
        return QPalette().color(QPalette::PlaceholderText);
    default:
        return {};
    }
}

QVariant ProgrammeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(list_.size()))
        return {};
    const TGDEntry &e = *list_[size_t(index.row())];
    const QString &key = columnKeys().at(index.column());
    if (key == QLatin1String("record"))
        return recordData(e, role);
    switch (role) {
    case Qt::ForegroundRole:
        if (key == QLatin1String("dispChannel")) {
            if (e.dispChannelColour == TGDEntry::Colour::Green)
                return QColor::fromRgbF(0.1f, 0.5f, 0.1f);
            if (e.dispChannelColour == TGDEntry::Colour::Red)
                return QColor(Qt::red);
        }
        return {};
    case Qt::TextAlignmentRole:
        if (key == QLatin1String("duration"))
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case Qt::ToolTipRole:
        if (key == QLatin1String("title") || key == QLatin1String("sub"))
            return e.description.isEmpty() ? e.value(key) : QVariant(e.description);
        return {};
    case Qt::DisplayRole:
        // Several days may be shown at once: the start names its day.
        if (key == QLatin1String("start"))
            return e.start.isValid() ? e.start.toString(QStringLiteral("ddd d MMM HH:mm"))
                                     : e.rawStart;
        if (key == QLatin1String("stop"))
            return e.stop.isValid() ? e.stop.toString(QStringLiteral("HH:mm")) : QString();
        return e.value(key);
    default:
        return {};
    }
}

bool ProgrammeModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= int(list_.size()) || role != Qt::CheckStateRole
        || columnKeys().at(index.column()) != QLatin1String("record"))
        return false;
    // The controller redisplays, which repaints this row.
    controller_->setObjectValue(
        list_[size_t(index.row())], QStringLiteral("record"), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ProgrammeModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && columnKeys().at(index.column()) == QLatin1String("record"))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ProgrammeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return columnTitle(kTitles, section, orientation, role);
}

ProgrammeView::ProgrammeView(TGDPickerController *controller, QWidget *parent)
    : QWidget(parent)
    , controller_(controller)
    , model_(new ProgrammeModel(controller, this))
{
    searchField_ = new QLineEdit;
    searchField_->setObjectName("searchField");
    searchField_->setPlaceholderText(tr("Search title, episode, description, channel"));
    searchField_->setClearButtonEnabled(true);
    searchField_->setMinimumWidth(fontMetrics().averageCharWidth() * 40);
    connect(searchField_, &QLineEdit::textChanged, this,
        [this](const QString &text) { controller_->search(text); });
    auto *find = findAction_ = new QAction(tr("&Find"), this);
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    addAction(find);
    connect(find, &QAction::triggered, this, [this] {
        searchField_->setFocus(Qt::ShortcutFocusReason);
        searchField_->selectAll();
    });
    // Escape ends a search from anywhere on the page.
    auto *clear = new QAction(tr("Clear Search"), this);
    clear->setShortcut(Qt::Key_Escape);
    clear->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(clear);
    connect(clear, &QAction::triggered, searchField_, &QLineEdit::clear);

    tableView_ = new QTableView;
    tableView_->setObjectName("programmeTable");
    addTable(tableView_);
    connect(tableView_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!restoringSelection_)
            selectionChanged();
    });

    auto *top = new QHBoxLayout;
    top->addStretch();
    top->addWidget(searchField_);
    auto *split = new QSplitter(Qt::Vertical);
    split->addWidget(tableView_);
    split->addWidget(detailArea());
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    split->setCollapsible(0, false);
    split->setSizes({ 1000, fontMetrics().height() * 7 });
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(split, 1);

    controller_->setView(this);
    controller_->selectionDidChange({});
}

QWidget *ProgrammeView::detailArea()
{
    descriptionField_ = new QTextEdit;
    descriptionField_->setObjectName("descriptionField");
    descriptionField_->setReadOnly(true);
    // Drawn on the window's own background, like a label.
    descriptionField_->setFrameStyle(QFrame::NoFrame);
    descriptionField_->viewport()->setAutoFillBackground(false);
    QPalette clear = descriptionField_->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    descriptionField_->setPalette(clear);

    auto field = [](const char *name, bool readOnly) {
        auto *f = new QLineEdit;
        f->setObjectName(name);
        f->setReadOnly(readOnly);
        // Read-only text is shown like a label (still selectable), not like a field.
        if (readOnly) {
            f->setFrame(false);
            QPalette flat = f->palette();
            flat.setColor(QPalette::Base, Qt::transparent);
            f->setPalette(flat);
        }
        return f;
    };
    subField_ = field("subField", true);
    catField_ = field("catField", true);
    extStartField_ = field("extStartField", false);
    extStopField_ = field("extStopField", false);
    for (QLineEdit *ext : { extStartField_, extStopField_ }) {
        ext->setMaximumWidth(fontMetrics().averageCharWidth() * 8);
        connect(ext, &QLineEdit::editingFinished, this,
            [this] { controller_->changeExt(extStartField_->text(), extStopField_->text()); });
    }
    extStartLabel_ = new QLabel(tr("Start earlier by (min):"));
    extStartLabel_->setObjectName("extStartLabel");
    extStopLabel_ = new QLabel(tr("End later by (min):"));
    extStopLabel_->setObjectName("extStopLabel");

    auto *form = new QFormLayout;
    form->addRow(tr("Episode:"), subField_);
    form->addRow(tr("Category:"), catField_);
    form->addRow(extStartLabel_, extStartField_);
    form->addRow(extStopLabel_, extStopField_);
    auto *area = new QWidget;
    auto *layout = new QHBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(descriptionField_, 3);
    layout->addLayout(form, 2);
    area->setMinimumHeight(fontMetrics().height() * 6);
    return area;
}

void ProgrammeView::addTable(QTableView *view)
{
    view->setModel(model_);
    if (!tables_.empty()) {
        QItemSelectionModel *own = view->selectionModel();
        view->setSelectionModel(tableView_->selectionModel());
        delete own;
    }
    tables_.push_back(view);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setWordWrap(false);
    view->setAlternatingRowColors(true);
    // Tab leaves the table for the next area instead of walking its cells.
    view->setTabKeyNavigation(false);
    view->installEventFilter(this);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 8);
    QHeaderView *header = view->horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(view->fontMetrics().averageCharWidth() * 4);
    // Narrowed as far as the window goes, the table still shows a whole usual title, and
    // nothing hides to the right: the episode and the category give up room first.
    int least = 2 * view->frameWidth() + view->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < int(std::size(kWidest)); ++c) {
        header->resizeSection(c, usualWidth(view, c));
        least += leastWidth(view, c);
    }
    view->setMinimumWidth(least);
    view->viewport()->installEventFilter(this);
    // The title takes the room the window gives: it is what the rows are read by.
    header->setStretchLastSection(false);
    header->setSectionResizeMode(
        int(ProgrammeModel::columnKeys().indexOf(QStringLiteral("title"))), QHeaderView::Stretch);
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) {
        controller_->didClickTableColumn(ProgrammeModel::columnKeys().at(section));
    });
}

bool ProgrammeView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize)
        for (QTableView *table : tables_)
            if (watched == table->viewport())
                fitColumns(table);
    auto *view = qobject_cast<QTableView *>(watched);
    if (!view || event->type() != QEvent::KeyPress
        || static_cast<QKeyEvent *>(event)->key() != Qt::Key_Space
        || static_cast<QKeyEvent *>(event)->modifiers() != Qt::NoModifier)
        return QWidget::eventFilter(watched, event);
    const QModelIndex current = view->currentIndex();
    if (current.isValid()) {
        const QModelIndex tick = model_->index(
            current.row(), int(ProgrammeModel::columnKeys().indexOf(QStringLiteral("record"))));
        model_->setData(tick,
            tick.data(Qt::CheckStateRole) == Qt::Checked ? Qt::Unchecked : Qt::Checked,
            Qt::CheckStateRole);
    }
    return true;
}

void ProgrammeView::selectionChanged()
{
    std::vector<int> rows;
    for (const QModelIndex &i : tableView_->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    TGDEntryList selected;
    selected.reserve(rows.size());
    for (int row : rows)
        selected.push_back(model_->list()[size_t(row)]);
    controller_->selectionDidChange(selected);
}

void ProgrammeView::showProgrammes(const TGDEntryList &list)
{
    if (list == model_->list()) {
        model_->showProgrammes(list);
        return;
    }
    // A new order or a narrower list keeps the selected programmes selected where they
    // are still shown, wherever they have moved to.
    QItemSelectionModel *selection = tableView_->selectionModel();
    std::vector<const TGDEntry *> selected;
    for (const QModelIndex &i : selection->selectedRows())
        selected.push_back(model_->list()[size_t(i.row())].get());
    model_->showProgrammes(list);
    if (selected.empty())
        return;
    std::unordered_map<const TGDEntry *, int> rowOf;
    rowOf.reserve(list.size());
    for (size_t row = 0; row < list.size(); ++row)
        rowOf.emplace(list[row].get(), int(row));
    std::vector<int> rows;
    for (const TGDEntry *e : selected)
        if (const auto it = rowOf.find(e); it != rowOf.end())
            rows.push_back(it->second);
    std::sort(rows.begin(), rows.end());
    QItemSelection restored;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        restored.select(
            model_->index(rows[i], 0), model_->index(rows[j], model_->columnCount() - 1));
        i = j + 1;
    }
    restoringSelection_ = true;
    selection->select(restored, QItemSelectionModel::ClearAndSelect);
    restoringSelection_ = false;
    if (!rows.empty())
        tableView_->scrollTo(model_->index(rows.front(), 0));
    selectionChanged();
}

void ProgrammeView::endSearch()
{
    const QSignalBlocker quiet(searchField_);
    searchField_->clear();
}

void ProgrammeView::showSortIndicator(const QString &column, bool ascending)
{
    const int section = int(ProgrammeModel::columnKeys().indexOf(column));
    for (QTableView *view : tables_) {
        view->horizontalHeader()->setSortIndicatorShown(true);
        view->horizontalHeader()->setSortIndicator(
            section, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    }
}

void ProgrammeView::showDetail(const ProgrammeDetail &d)
{
    QPalette text = descriptionField_->palette();
    text.setColor(QPalette::Text, d.descriptionGrey ? QColor(Qt::gray) : QColor(Qt::black));
    descriptionField_->setPalette(text);
    descriptionField_->setPlainText(d.description);
    // Kept from the programme shown before, so drawn as no longer current.
    subField_->setEnabled(!d.descriptionGrey);
    catField_->setEnabled(!d.descriptionGrey);
    subField_->setText(d.sub);
    subField_->setCursorPosition(0);
    catField_->setText(d.cat);
    catField_->setCursorPosition(0);
    for (QWidget *w : std::initializer_list<QWidget *> {
             extStartField_, extStopField_, extStartLabel_, extStopLabel_ })
        w->setVisible(d.extVisible);
    if (d.extVisible) {
        extStartField_->setText(d.extStart);
        extStopField_->setText(d.extStop);
    }
}
