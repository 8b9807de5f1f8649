#include "widgets/TokenField.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

namespace
{

constexpr int kMargin = 2;
constexpr int kSpacing = 3;
constexpr int kPad = 6;

int chipHeight(const QFontMetrics &fm)
{
    return fm.height() + 4;
}

int closeWidth(const QFontMetrics &fm)
{
    return fm.horizontalAdvance(QChar(0x00D7)) + kPad;
}

// An empty term still needs a chip the user can see and remove.
int chipWidth(const QFontMetrics &fm, const QString &text, bool withClose)
{
    const int body = text.isEmpty() ? fm.averageCharWidth() * 2 : fm.horizontalAdvance(text);
    return body + 2 * kPad + (withClose ? closeWidth(fm) - kPad / 2 : 0);
}

void paintChip(
    QPainter *p, const QRect &box, const QString &text, const QPalette &palette, const QRect &close)
{
    const QRectF r = QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(r, r.height() / 2, r.height() / 2);
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    if (text.isEmpty()) {
        p->setPen(QPen(QColor(140, 160, 200), 1, Qt::DashLine));
        p->setBrush(Qt::NoBrush);
    } else {
        p->setPen(QColor(140, 165, 215));
        p->setBrush(QColor(221, 231, 250));
    }
    p->drawPath(path);
    p->setPen(palette.color(QPalette::Text));
    QRect textBox = box.adjusted(kPad, 0, -kPad, 0);
    if (!close.isNull())
        textBox.setRight(close.left());
    p->drawText(textBox, Qt::AlignVCenter | Qt::AlignLeft, text);
    if (!close.isNull()) {
        p->setPen(QColor(90, 100, 130));
        p->drawText(close, Qt::AlignCenter, QString(QChar(0x00D7)));
    }
    p->restore();
}

} // namespace

TokenField::TokenField(QWidget *parent)
    : QWidget(parent)
    , edit_(new QLineEdit(this))
{
    setObjectName("tokenField");
    edit_->setObjectName("tokenText");
    edit_->setFrame(false);
    edit_->installEventFilter(this);
    setFocusProxy(edit_);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setToolTip(tr("A comma or Return ends a term; a comma alone enters an empty term"));
}

QStringList TokenField::tokens() const
{
    QStringList all = tokens_;
    const QString typed = edit_->text().trimmed();
    if (!typed.isEmpty())
        all << typed;
    return all;
}

void TokenField::setTokens(const QStringList &tokens)
{
    tokens_ = tokens;
    edit_->clear();
    relayout();
}

std::vector<TokenField::Chip> TokenField::layoutFor(int width, QRect *editArea) const
{
    const QFontMetrics fm = fontMetrics();
    const int h = chipHeight(fm);
    const int right = std::max(width - kMargin, kMargin + 1);
    std::vector<Chip> chips;
    int x = kMargin, y = kMargin;
    for (const QString &t : tokens_) {
        const int w = std::min(chipWidth(fm, t, true), right - kMargin);
        if (x > kMargin && x + w > right) {
            x = kMargin;
            y += h + kSpacing;
        }
        const QRect box(x, y, w, h);
        chips.push_back({ box, QRect(box.right() - closeWidth(fm), y, closeWidth(fm), h) });
        x += w + kSpacing;
    }
    // Typing goes after the last chip, or on a line of its own when too little is left.
    if (x > kMargin && right - x < fm.averageCharWidth() * 10) {
        x = kMargin;
        y += h + kSpacing;
    }
    if (editArea)
        *editArea = QRect(x, y, right - x, h);
    return chips;
}

int TokenField::heightForWidth(int width) const
{
    QRect area;
    layoutFor(width, &area);
    return area.bottom() + 1 + kMargin;
}

QSize TokenField::sizeHint() const
{
    const int w = std::max(width(), fontMetrics().averageCharWidth() * 30);
    return { w, heightForWidth(w) };
}

QSize TokenField::minimumSizeHint() const
{
    return { fontMetrics().averageCharWidth() * 10, chipHeight(fontMetrics()) + 2 * kMargin };
}

void TokenField::relayout()
{
    QRect area;
    layoutFor(width(), &area);
    edit_->setGeometry(area);
    // In a table cell the editor grows over the rows below rather than hiding terms.
    const int needed = area.bottom() + 1 + kMargin;
    if (needed > height())
        resize(width(), needed);
    updateGeometry();
    update();
}

void TokenField::endToken()
{
    tokens_ << edit_->text().trimmed();
    edit_->clear();
    relayout();
}

bool TokenField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != edit_)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->text() == QLatin1String(",")) {
            endToken();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (edit_->text().trimmed().isEmpty())
                Q_EMIT finished();
            else
                endToken();
            return true;
        }
        if (key->key() == Qt::Key_Backspace && edit_->text().isEmpty() && !tokens_.isEmpty()) {
            tokens_.removeLast();
            relayout();
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        // Another window (or the window going away) does not end the editing: only
        // another control of this window does.
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        QWidget *next = QApplication::focusWidget();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason
            && !(next && isAncestorOf(next)))
            Q_EMIT finished();
    }
    return QWidget::eventFilter(watched, event);
}

void TokenField::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const std::vector<Chip> chips = layoutFor(width(), nullptr);
    for (size_t i = 0; i < chips.size(); ++i)
        paintChip(&p, chips[i].box, tokens_[qsizetype(i)], palette(), chips[i].close);
}

void TokenField::mousePressEvent(QMouseEvent *event)
{
    const std::vector<Chip> chips = layoutFor(width(), nullptr);
    for (size_t i = 0; i < chips.size(); ++i) {
        if (chips[i].close.contains(event->position().toPoint())) {
            tokens_.removeAt(qsizetype(i));
            relayout();
            break;
        }
    }
    edit_->setFocus(Qt::MouseFocusReason);
}

void TokenField::resizeEvent(QResizeEvent *)
{
    relayout();
}

void TokenField::paintTokens(QPainter *painter, const QRect &rect, const QStringList &tokens,
    const QPalette &palette, bool showEmpty)
{
    const QFontMetrics fm = painter->fontMetrics();
    const int h = std::min(chipHeight(fm), rect.height() - 2);
    const int y = rect.top() + (rect.height() - h) / 2;
    int x = rect.left() + kMargin;
    painter->save();
    painter->setClipRect(rect);
    for (const QString &t : tokens) {
        if (t.isEmpty() && !showEmpty)
            continue;
        if (x >= rect.right())
            break;
        const QRect box(x, y, chipWidth(fm, t, false), h);
        paintChip(painter, box, t, palette, QRect());
        x = box.right() + 1 + kSpacing;
    }
    painter->restore();
}

void TokenDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);
    painter->save();
    painter->setFont(option.font);
    TokenField::paintTokens(painter, option.rect.adjusted(1, 1, -1, -1),
        index.data(Qt::EditRole).toStringList(), option.palette, false);
    painter->restore();
}

QWidget *TokenDelegate::createEditor(
    QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &) const
{
    auto *field = new TokenField(parent);
    auto *self = const_cast<TokenDelegate *>(this);
    connect(field, &TokenField::finished, self, [self, field] {
        Q_EMIT self->commitData(field);
        Q_EMIT self->closeEditor(field);
    });
    return field;
}

void TokenDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    static_cast<TokenField *>(editor)->setTokens(index.data(Qt::EditRole).toStringList());
}

void TokenDelegate::setModelData(
    QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
{
    model->setData(index, static_cast<TokenField *>(editor)->tokens(), Qt::EditRole);
}

void TokenDelegate::updateEditorGeometry(
    QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &) const
{
    const QRect cell = option.rect;
    editor->setGeometry(cell.left(), cell.top(), cell.width(),
        std::max(cell.height(), editor->heightForWidth(cell.width())));
}
