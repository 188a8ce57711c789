#include "PrivateBus.h"
#include "TestRegistry.h"
#include "export/DesktopNotification.h"
#include "export/TransferRecord.h"
#include "platform/ProgramIdentity.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMutex>
#include <QTest>
#include <QThread>
#include <QVariantMap>

namespace {

// The notification service's stand-in: keeps what it was asked to show.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QMutex mutex;
    QStringList shown; // "application|summary|body"
    QStringList icons;
    QList<QVariantMap> hints;

public Q_SLOTS:
    uint Notify(const QString& application, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hintMap, int)
    {
        const QMutexLocker lock(&mutex);
        shown.append(application + u'|' + summary + u'|' + body);
        icons.append(icon);
        hints.append(hintMap);
        return uint(shown.size());
    }
};

} // namespace

// The transfer's desktop notification, over a session bus of the test's own.
class NotificationTest : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;
    QString m_address;

private Q_SLOTS:
    void initTestCase()
    {
        QString why;
        m_address = m_bus.start(&why);
        if (m_address.isEmpty())
            QSKIP(qPrintable(why));
        // The program's session bus is this one (the first use of it comes after).
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    }

    void nothingWithoutAService()
    {
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        QVERIFY(!ShowDesktopNotification(TransferSummaryText(3)));
    }

    void theServiceShowsTheSummary()
    {
        FakeNotifications* service = new FakeNotifications;
        QThread thread;
        const QString name = QStringLiteral("fake-notifications");
        {
            QDBusConnection bus = QDBusConnection::connectToBus(m_address, name);
            QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), service,
                                       QDBusConnection::ExportAllSlots));
            QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
        }
        // It answers from a thread of its own while the call waits.
        service->moveToThread(&thread);
        thread.start();
        const bool shown = ShowDesktopNotification(TransferSummaryText(3));
        QDBusConnection::disconnectFromBus(name);
        thread.quit();
        thread.wait();
        QVERIFY(shown);
        QCOMPARE(service->shown, QStringList{kProgramTitle + u'|' + kProgramTitle + QStringLiteral("|3件のファイルを転送しました")});
        // The desktop shows the installed icon and files it under the program's entry.
        QCOMPARE(service->icons, QStringList{QStringLiteral("talven77-pc-player")});
        QCOMPARE(service->hints.value(0).value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral("talven77-pc-player"));
        delete service;
    }
};

TALVEN77_REGISTER_TEST(NotificationTest);
#include "NotificationTest.moc"
