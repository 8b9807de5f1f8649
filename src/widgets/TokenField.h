#pragma once

#include <QStringList>
#include <QStyledItemDelegate>
#include <QWidget>

class QLineEdit;

// A list of terms edited as tokens: each term a rounded chip (its × removes it), typing
// after the last one. A comma or Return ends the term being typed, blanks inside it kept;
// a comma with nothing typed gives an empty term, as a rule file may hold. Backspace in
// front of nothing removes the last term; Return with nothing typed is done.
class TokenField : public QWidget
{
    Q_OBJECT
public:
    explicit TokenField(QWidget *parent = nullptr);

    // The terms, the one still being typed included (when anything is typed).
    QStringList tokens() const;
    void setTokens(const QStringList &tokens);
    QLineEdit *lineEdit() const { return edit_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

    // Draws terms as chips from the left of `rect`, one line, clipped at its end (the
    // table cell when not editing). Empty terms are drawn only with `showEmpty`.
    static void paintTokens(QPainter *painter, const QRect &rect, const QStringList &tokens,
        const QPalette &palette, bool showEmpty);

Q_SIGNALS:
    // The editing is over: Return with nothing typed, or the focus went elsewhere.
    void finished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Chip {
        QRect box;
        QRect close;
    };
    // The chips' places for this width, and where the typing goes after them.
    std::vector<Chip> layoutFor(int width, QRect *editArea) const;
    void endToken();
    void relayout();

    QStringList tokens_;
    QLineEdit *edit_;
};

// The cell editor of the rule table's term columns ("Keywords", "Negatives"): the terms
// as chips in the cell, a TokenField while editing. The model's edit role holds the
// terms as a QStringList.
class TokenDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(
        QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
};
