#include "widgets/IntroWindow.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace
{
QRect centredOnScreen(const QSize &size)
{
    QRect r(QPoint(0, 0), size);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        r.moveCenter(screen->geometry().center());
    return r;
}
} // namespace

IntroWindow::IntroWindow(QWidget *parent)
    : TransparentWindow(centredOnScreen(QSize(360, 160)), parent)
{
    auto *face = new RoundedView;
    auto *name = new QLabel(QStringLiteral("Pallaro"));
    name->setAlignment(Qt::AlignCenter);
    QFont font = name->font();
    font.setPointSize(28);
    font.setBold(true);
    name->setFont(font);
    QPalette palette = name->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    name->setPalette(palette);
    auto *inner = new QVBoxLayout(face);
    inner->addWidget(name);
    setView(face);
}
