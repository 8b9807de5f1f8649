#pragma once

#include "base/UiQueue.h"
#include "guide/TGDEntry.h"
#include "ui/KeywordController.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <functional>

// The "Now on" list: the programmes of the full list on air at the last refresh, and the
// time of that refresh. Widget-free: a model over nowOnList() shows it. Lives on the UI
// thread; nowOn() may be called from any thread.
class NowOnController : public QObject, public NowOnRefresher
{
    Q_OBJECT
    Q_PROPERTY(QString currentTime READ currentTime NOTIFY currentTimeChanged)
public:
    // Registers itself as the keyword controller's now-on list (nullptr: no source).
    explicit NowOnController(KeywordController *kwc, QObject *parent = nullptr);
    ~NowOnController() override;

    // A programme's channel key → its picture, or the blank picture for a channel
    // without one; the answer is shown under "channelImage". Kept in this list only, not
    // in the shared records, which worker threads read. Unset: no pictures.
    using ChannelPictures = std::function<QVariant(const QString &channel)>;
    void setChannelPictures(ChannelPictures pictures) { pictures_ = std::move(pictures); }

    // Start-up: shows the current time and starts the repeating refresh timer.
    void awakeFromNib(int intervalMs = 20000);
    // The refresh: carried out on the UI thread, behind any view change already asked for
    // there (the keyword reload's replaced list, among them).
    void nowOn() override;

    // The programmes of `all` on air at `at`: started at or before it and ending at or
    // after it; in the order of `all`.
    static TGDEntryList onAir(const TGDEntryList &all, const QDateTime &at);

    // The list shown (the records themselves) and its pictures, row by row.
    const TGDEntryList &nowOnList() const { return nowOnList_; }
    // Replaces the list whole (the pictures are looked up) and redisplays.
    void setNowOnList(TGDEntryList list);
    // The row's value for a column: a TGDEntry key, or "channelImage" for the picture.
    QVariant value(int row, const QString &key) const;
    // The columns the list shows, by key.
    static const QStringList &columnKeys();
    // "%H:%M" of the last refresh (of start-up before the first).
    QString currentTime() const { return currentTime_; }

Q_SIGNALS:
    void nowOnListChanged();
    void currentTimeChanged(const QString &time);

private:
    void refresh();
    void setCurrentTime(const QDateTime &now);

    QPointer<KeywordController> kwc_;
    ChannelPictures pictures_;
    TGDEntryList nowOnList_;
    std::vector<QVariant> channelImages_;
    QString currentTime_;
    QTimer timer_;
    UiQueue ui_ { this };
};
