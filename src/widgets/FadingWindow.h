#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

// Drives one window's fade on its own timer, so that the intro fade and the close fade
// never stop each other. The opacity is kept in single precision like the window's own.
class WindowFader : public QObject {
    Q_OBJECT
public:
    WindowFader(QWidget *window, int intervalMs, std::function<void()> closeWindow);

    void start();
    bool isRunning() const { return timer_.isActive(); }
    float opacity() const { return opacity_; }
    int ticks() const { return ticks_; }

    // One timer tick; public so tests can step the fade without waiting.
    void tick();

private:
    QWidget *window_;
    QTimer timer_;
    std::function<void()> closeWindow_;
    float opacity_ = 1.0f;
    int ticks_ = 0;
};
