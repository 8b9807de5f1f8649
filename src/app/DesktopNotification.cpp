#include "app/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

bool notifyDesktop(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage notify
        = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.pallaro.Pallaro"));
    // Critical notifications stay until the user has seen them.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(2)));
    notify << QStringLiteral("Pallaro") << uint(0) << QStringLiteral("org.pallaro.Pallaro")
           << summary << body << QStringList() << hints << int(-1);
    // A server that does not answer soon is no reason to hold the run's end.
    const QDBusMessage reply = bus.call(notify, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage;
}
