#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <ostream>

// Test failures show strings as text.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

// Points HOME, the XDG folders and the settings store at a fresh temporary folder for the
// life of the object, so tests never touch the real user's files or settings.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome &) = delete;
    TempHome &operator=(const TempHome &) = delete;

    QString path() const { return dir_.path(); }
    // The ApplicationSupportFolder under this home.
    QString supportFolder() const;

private:
    QTemporaryDir dir_;
    QByteArray oldHome_, oldData_, oldConfig_;
};

// Captures system-log lines while alive.
class SystemLogCapture {
public:
    SystemLogCapture();
    ~SystemLogCapture();
    QStringList lines() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Writes `contents` to `path`, making its folders. Answers success.
bool writeFile(const QString &path, const QByteArray &contents);
QByteArray readFile(const QString &path);

// Runs the built pallaro executable, its clock at this process's (useFixedClock),
// with arguments and environment additions; answers the exit status and fills stdout/stderr.
int runPallaro(const QStringList &arguments, const QStringList &environment, QString *out,
               QString *err = nullptr, int timeoutMs = 60000);

// The titles of a list of programme records, in order.
template <typename List> QStringList titles(const List &list)
{
    QStringList out;
    for (const auto &e : list)
        out << e->title;
    return out;
}
