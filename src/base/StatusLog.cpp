#include "base/StatusLog.h"

#include <QThread>

QString printableText(QString text)
{
    for (QChar &c : text)
        if (!c.isPrint())
            c = QLatin1Char('?');
    return text;
}

StatusLog::StatusLog(QObject *parent)
    : QObject(parent)
{
}

void StatusLog::printStatus(const QString &text)
{
    enqueue({false, text});
}

void StatusLog::setText(const QString &text)
{
    enqueue({true, text});
}

void StatusLog::printLine(const QString &line)
{
    enqueue({ false, line + QLatin1Char('\n'), true });
}

void StatusLog::enqueue(Change change)
{
    bool first = false;
    {
        QMutexLocker lock(&mutex_);
        first = pending_.empty();
        pending_.push_back(std::move(change));
    }
    // One queue for all threads keeps the global call order; the UI thread drains at once
    // so that work blocking it (an upload) still shows its progress.
    if (QThread::currentThread() == thread())
        drain();
    else if (first) // by name: the queued call then holds nothing of ours (see UiQueue)
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void StatusLog::drain()
{
    for (;;) {
        Change change;
        {
            QMutexLocker lock(&mutex_);
            if (pending_.empty())
                return;
            change = std::move(pending_.front());
            pending_.pop_front();
        }
        if (change.replace) {
            text_ = change.text;
            Q_EMIT replaced(text_);
        } else {
            if (change.ownLine && !text_.isEmpty() && !text_.endsWith(QLatin1Char('\n')))
                change.text.prepend(QLatin1Char('\n'));
            text_ += change.text;
            Q_EMIT appended(change.text);
        }
    }
}
