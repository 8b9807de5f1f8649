#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

#include <deque>

// Text from elsewhere (a server, an archive) fit for a line of the log: every character
// that cannot be shown, line breaks included, becomes "?".
QString printableText(QString text);

// The append-only status text of the main window.
//
// Lives on the UI thread (the thread that creates it). printStatus() and setText() may be
// called from any thread; the changes are carried out on the UI thread in the order the
// calls were made, whatever thread made them. Calls made on the UI thread take effect at once.
class StatusLog : public QObject {
    Q_OBJECT
public:
    explicit StatusLog(QObject *parent = nullptr);

    // Appends text; adds no line break of its own.
    void printStatus(const QString &text);
    // Replaces the whole text (a fetch or an upload starting).
    void setText(const QString &text);
    // Appends `line` and a line break on a line of its own: a line break comes first when
    // the text, as it stands when the line's turn comes, ends inside a line (a file's
    // "Uploading: X..." still waiting for its outcome).
    void printLine(const QString &line);

    // The text as carried out so far. UI thread only.
    QString text() const { return text_; }

Q_SIGNALS:
    void appended(const QString &text);
    void replaced(const QString &text);

private:
    struct Change {
        bool replace;
        QString text;
        bool ownLine = false;
    };
    void enqueue(Change change);
    Q_INVOKABLE void drain();

    QMutex mutex_;
    std::deque<Change> pending_;
    QString text_;
};
