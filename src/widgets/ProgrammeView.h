#pragma once

#include "ui/TGDPickerController.h"

#include <QAbstractTableModel>
#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QTableView;
class QTextEdit;

// The programme table as a Qt model over the list the controller last showed: a column
// per programme key, "record" a checkbox, "dispChannel" in its green or red.
class ProgrammeModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit ProgrammeModel(TGDPickerController *controller, QObject *parent = nullptr);

    // The column identifiers, in column order.
    static const QStringList &columnKeys();
    // Shows `list`; the same programmes in the same order only repaint (the selection
    // stays), another list resets the model.
    void showProgrammes(const TGDEntryList &list);
    const TGDEntryList &list() const { return list_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    static QVariant recordData(const TGDEntry &e, int role);

    TGDPickerController *controller_;
    TGDEntryList list_;
};

// The TGDs page: the search field (Find shortcut), the programme table sorted by a header
// click, and the detail area of the selected programme with its extension fields.
class ProgrammeView : public QWidget, public ProgrammeListView
{
    Q_OBJECT
public:
    explicit ProgrammeView(TGDPickerController *controller, QWidget *parent = nullptr);

    ProgrammeModel *model() const { return model_; }
    // Another view of the same table (the matches on the Keywords page): same columns,
    // same sorting, one selection.
    void addTable(QTableView *view);

    // Find: focuses the search field (Ctrl+F, wherever the window has the focus).
    QAction *findAction() const { return findAction_; }
    QLineEdit *searchField() const { return searchField_; }
    QTableView *tableView() const { return tableView_; }
    QTextEdit *descriptionField() const { return descriptionField_; }
    QLineEdit *subField() const { return subField_; }
    QLineEdit *catField() const { return catField_; }
    QLineEdit *extStartField() const { return extStartField_; }
    QLineEdit *extStopField() const { return extStopField_; }
    QLabel *extStartLabel() const { return extStartLabel_; }
    QLabel *extStopLabel() const { return extStopLabel_; }

    // ProgrammeListView
    void showProgrammes(const TGDEntryList &list) override;
    void endSearch() override;
    void showSortIndicator(const QString &column, bool ascending) override;
    void showDetail(const ProgrammeDetail &detail) override;

protected:
    // Space on a table toggles "record" of its current row, whatever the column.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *detailArea();
    void selectionChanged();

    TGDPickerController *controller_;
    ProgrammeModel *model_;
    std::vector<QTableView *> tables_;
    QAction *findAction_ = nullptr;
    QLineEdit *searchField_ = nullptr;
    QTableView *tableView_ = nullptr;
    QTextEdit *descriptionField_ = nullptr;
    QLineEdit *subField_ = nullptr;
    QLineEdit *catField_ = nullptr;
    QLineEdit *extStartField_ = nullptr;
    QLineEdit *extStopField_ = nullptr;
    QLabel *extStartLabel_ = nullptr;
    QLabel *extStopLabel_ = nullptr;
    bool restoringSelection_ = false;
};
