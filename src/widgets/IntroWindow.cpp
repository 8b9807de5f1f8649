#include "widgets/IntroWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

IntroWindow::IntroWindow(QWidget *parent)
    : QWidget(parent, Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::Tool)
{
    setAttribute(Qt::WA_TranslucentBackground);
    resize(360, 160);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void IntroWindow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 18, 18);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, QColor(70, 70, 70, 230));
    gradient.setColorAt(1, QColor(20, 20, 20, 230));
    p.fillPath(path, gradient);
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPointSize(28);
    font.setBold(true);
    p.setFont(font);
    p.drawText(rect(), Qt::AlignCenter, QStringLiteral("Pallaro"));
}
