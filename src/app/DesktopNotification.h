#pragma once

#include <QString>

// Tells the desktop through org.freedesktop.Notifications on the session bus. Answers
// whether a notification server took it; with no bus or no server it is silently nothing.
bool notifyDesktop(const QString &summary, const QString &body);
