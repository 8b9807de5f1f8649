#include "base/Settings.h"
#include "guide/TGDFile.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"
#include "widgets/ProgrammeView.h"
#include "widgets/TokenField.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTableView>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace
{

int column(const char *key)
{
    return int(ProgrammeModel::columnKeys().indexOf(key));
}

TEST(ProgrammeView, SearchesSortsAndShowsTheSelectedProgramme)
{
    SydneyTime zone;
    TempHome home;
    Settings::registerDefaults();
    TGDFile file;
    file.loadTGDData("Zed\t2007-03-12 18:00\t30\tCaf\xe9 Society\t[Food]\tWine.\tPG\tN\n"
                     "Abc\t2007-03-12 19:00\t60\tNews\t[News]\tHeadlines at the caf\xe9.\tG\tN\n"
                     "Abc\t2007-03-12 20:00\t60\tLost\t[Drama]\tIsland.\tM\tN\n",
        "20070312", false);
    TGDPickerController controller;
    ProgrammeView view(&controller);
    controller.setFileList(file.getFileData());
    controller.reloadTable();
    view.resize(900, 600);
    view.show();
    ProgrammeModel *model = view.model();
    ASSERT_EQ(model->rowCount(), 3);

    // Find goes to the search field; typing narrows the table at once.
    QAction *find = nullptr;
    for (QAction *a : view.actions())
        if (a->shortcut() == QKeySequence(QKeySequence::Find))
            find = a;
    ASSERT_TRUE(find);
    find->trigger();
    EXPECT_EQ(view.focusWidget(), view.searchField());
    view.searchField()->setText("cafe");
    ASSERT_EQ(model->rowCount(), 2);

    // The selected programme stays selected when a header click reorders the rows.
    QTableView *table = view.tableView();
    table->selectRow(1);
    EXPECT_EQ(view.descriptionField()->toPlainText(), "Headlines at the caf\u00e9.");
    EXPECT_EQ(view.catField()->text(), "News");
    Q_EMIT table->horizontalHeader()->sectionClicked(column("title"));
    Q_EMIT table->horizontalHeader()->sectionClicked(column("title"));
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorSection(), column("title"));
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(model->index(0, column("title")).data().toString(), "News");
    ASSERT_EQ(table->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(table->selectionModel()->selectedRows().front().row(), 0);

    // Recording shows the extension fields; an edited field lands on the programme.
    EXPECT_FALSE(view.extStartField()->isVisibleTo(&view));
    ASSERT_TRUE(model->setData(model->index(0, column("record")), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(view.extStartField()->isVisibleTo(&view));
    EXPECT_TRUE(view.extStopLabel()->isVisibleTo(&view));
    EXPECT_EQ(view.extStopField()->text(), "0");
    view.extStartField()->setText("15");
    Q_EMIT view.extStartField()->editingFinished();
    const TGDEntryPtr news = model->list().front();
    EXPECT_TRUE(news->record && news->extStart == 15 && news->extStop == 0);
    EXPECT_EQ(model->index(0, column("record")).data(Qt::CheckStateRole), Qt::Checked);

    // A day file read clears the field and shows the whole list.
    controller.endSearch();
    controller.reloadTable();
    EXPECT_TRUE(view.searchField()->text().isEmpty());
    EXPECT_EQ(model->rowCount(), 3);
}

void type(QWidget *target, const QString &text)
{
    for (QChar c : text) {
        const int key = c == QLatin1Char(',') ? int(Qt::Key_Comma) : int(c.toUpper().unicode());
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
    }
}
void press(QWidget *target, Qt::Key key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

TEST(TokenField, CommaAndReturnEndTermsThatMayHoldBlanksOrNothing)
{
    const struct {
        const char *name;
        QStringList start;
        std::function<void(QWidget *)> keys;
        QStringList tokens;
        bool finished;
    } cases[] = {
        { "blanks kept inside", {}, [](QWidget *e) { type(e, "Doctor Who, News"); },
            { "Doctor Who", "News" }, false },
        { "comma alone", { "a" }, [](QWidget *e) { type(e, ",,b,"); }, { "a", "", "", "b" },
            false },
        { "return ends a term", {},
            [](QWidget *e) {
                type(e, "x");
                press(e, Qt::Key_Return);
            },
            { "x" }, false },
        { "return on nothing", { "a" }, [](QWidget *e) { press(e, Qt::Key_Return); }, { "a" },
            true },
        { "backspace", { "a", "b" }, [](QWidget *e) { press(e, Qt::Key_Backspace); }, { "a" },
            false },
    };
    for (const auto &c : cases) {
        TokenField field;
        field.setTokens(c.start);
        bool finished = false;
        QObject::connect(&field, &TokenField::finished, [&] { finished = true; });
        c.keys(field.lineEdit());
        EXPECT_EQ(field.tokens(), c.tokens) << c.name;
        EXPECT_EQ(finished, c.finished) << c.name;
    }

    // The delegate hands the terms, the empty one included, to and from the model.
    QStandardItemModel model(1, 1);
    model.setData(model.index(0, 0), QStringList { "Rage", "" }, Qt::EditRole);
    TokenDelegate delegate;
    QWidget parent;
    QWidget *editor = delegate.createEditor(&parent, {}, model.index(0, 0));
    delegate.setEditorData(editor, model.index(0, 0));
    type(static_cast<TokenField *>(editor)->lineEdit(), "Music");
    delegate.setModelData(editor, &model, model.index(0, 0));
    EXPECT_EQ(model.data(model.index(0, 0), Qt::EditRole).toStringList(),
        QStringList({ "Rage", "", "Music" }));
}

} // namespace
