#include "base/Clock.h"

namespace
{
std::function<QDateTime()> &source()
{
    static std::function<QDateTime()> now;
    return now;
}
} // namespace

QDateTime Clock::now()
{
    const std::function<QDateTime()> &now = source();
    return now ? now().toLocalTime() : QDateTime::currentDateTime();
}

QDate Clock::today()
{
    return now().date();
}

std::function<QDateTime()> Clock::set(std::function<QDateTime()> now)
{
    std::function<QDateTime()> old = std::move(source());
    source() = std::move(now);
    return old;
}
