#pragma once

#include <QString>

#include <functional>

// One diagnostic line to the system log (ident "Pallaro"). Callable from any thread.
void systemLog(const QString &line);

// Redirects system-log lines, e.g. to a test's capture; an empty function restores syslog.
void setSystemLogSink(std::function<void(const QString &)> sink);
