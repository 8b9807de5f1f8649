#include "ui/NowOnController.h"

#include "base/Clock.h"

NowOnController::NowOnController(KeywordController *kwc, QObject *parent)
    : QObject(parent)
    , kwc_(kwc)
{
    if (kwc_)
        kwc_->setNowOn(this);
    connect(&timer_, &QTimer::timeout, this, &NowOnController::nowOn);
}

NowOnController::~NowOnController()
{
    // The keyword controller reads its now-on list when the refresh it asked for runs.
    if (kwc_)
        kwc_->setNowOn(nullptr);
}

void NowOnController::awakeFromNib(int intervalMs)
{
    setCurrentTime(Clock::now());
    timer_.start(intervalMs);
}

void NowOnController::nowOn()
{
    ui_.run([this] { refresh(); });
}

TGDEntryList NowOnController::onAir(const TGDEntryList &all, const QDateTime &at)
{
    TGDEntryList on;
    for (const TGDEntryPtr &e : all)
        if (e->start.isValid() && e->stop.isValid() && e->start <= at && e->stop >= at)
            on.push_back(e);
    return on;
}

void NowOnController::refresh()
{
    const QDateTime now = Clock::now();
    setNowOnList(onAir(kwc_ ? kwc_->allTGDEntries() : TGDEntryList(), now));
    setCurrentTime(now);
}

void NowOnController::setNowOnList(TGDEntryList list)
{
    nowOnList_ = std::move(list);
    channelImages_.clear();
    channelImages_.reserve(nowOnList_.size());
    for (const TGDEntryPtr &e : nowOnList_)
        channelImages_.push_back(pictures_ ? pictures_(e->channel) : QVariant());
    Q_EMIT nowOnListChanged();
}

QVariant NowOnController::value(int row, const QString &key) const
{
    if (row < 0 || size_t(row) >= nowOnList_.size())
        return {};
    if (key == QLatin1String("channelImage"))
        return channelImages_[size_t(row)];
    return nowOnList_[size_t(row)]->value(key);
}

const QStringList &NowOnController::columnKeys()
{
    static const QStringList keys { QStringLiteral("channelImage"),
        QStringLiteral("dispChannelString"), QStringLiteral("startTime"), QStringLiteral("title") };
    return keys;
}

void NowOnController::setCurrentTime(const QDateTime &now)
{
    currentTime_ = now.toString(QStringLiteral("HH:mm"));
    Q_EMIT currentTimeChanged(currentTime_);
}
