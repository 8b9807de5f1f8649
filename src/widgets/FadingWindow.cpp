#include "widgets/FadingWindow.h"

#include "app/Fade.h"

#include <algorithm>

WindowFader::WindowFader(QWidget *window, int intervalMs, std::function<void()> closeWindow)
    : QObject(window)
    , window_(window)
    , closeWindow_(std::move(closeWindow))
{
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &WindowFader::tick);
}

void WindowFader::start()
{
    opacity_ = 1.0f;
    ticks_ = 0;
    timer_.start();
}

void WindowFader::tick()
{
    ++ticks_;
    if (!fadeStep(opacity_)) {
        window_->setWindowOpacity(std::max(0.0f, opacity_));
        return;
    }
    timer_.stop();
    closeWindow_();
    opacity_ = 1.0f;
    window_->setWindowOpacity(1.0);
}
