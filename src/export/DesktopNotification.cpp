#include "DesktopNotification.h"

#include "platform/ProgramIdentity.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

bool ShowDesktopNotification(const QString& body)
{
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                                       service, QStringLiteral("Notify"));
    // The icon by its themed name, and the entry the desktop files the notification under.
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), kDesktopEntryName);
    call << kProgramTitle << uint(0) << kDesktopEntryName << kProgramTitle << body
         << QStringList() << hints << int(-1);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage;
}
