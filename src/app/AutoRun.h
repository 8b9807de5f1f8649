#pragma once

#include "app/Collaborators.h"

#include <QDateTime>
#include <QString>
#include <functional>

// The scheduled daily run as a systemd user timer: "pallaro-daily.timer" starts
// "pallaro-daily.service", which runs this installation's `pallaro --download --upload`
// in the ApplicationSupportFolder.
class SystemdAutoRun : public AutoRunScheduler
{
public:
    // `report` gets one line for each step that failed; a failure never stops the others.
    explicit SystemdAutoRun(std::function<void(const QString &)> report = {});

    // On: writes both units from their templates in the resources folder, reloads systemd
    // and enables and (re)starts the timer, so a changed time takes effect. Off: disables
    // the timer and deletes both units. Blocks while systemctl runs.
    void setAutoRun(bool on) override;

    // When systemd will next start the daily run, as systemctl says it; empty when it
    // cannot say (no timer, no systemctl).
    static QString nextRun();

    // "$XDG_CONFIG_HOME/systemd/user"; no final "/".
    static QString unitFolder();
    // A template with "$APPSUPPORT", "$HOUR", "$MINUTE" replaced literally in that order
    // (the hour and minute of `time` in local time, two digits each), then "$PALLARO" by
    // the executable's path, and "$TRIES", "$RETRYSEC" and "$TRIESWINDOW" by the daily
    // run's retry settings (Unattended).
    static QString fillTemplate(
        QString text, const QString &appSupport, const QDateTime &time, const QString &executable);

private:
    // Runs `program --user arguments`; nothing when the program was not found.
    void systemctl(const QString &program, const QStringList &arguments);

    std::function<void(const QString &)> report_;
};
