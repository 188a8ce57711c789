#include "PrivateBus.h"
#include "TestRegistry.h"
#include "device/CardRemoval.h"
#include "platform/UDisks2.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <sys/prctl.h>

namespace {

const QString kUDisks = QStringLiteral("org.freedesktop.UDisks2");
const QString kBlock = QStringLiteral("/org/freedesktop/UDisks2/block_devices/sdc1");
const QString kDrive = QStringLiteral("/org/freedesktop/UDisks2/drives/Card_Reader");

struct UnmountAnswer
{
    enum Kind { Done, Busy, Never } kind;
    int delayMs = 0;
};

// A stand-in for the disk service: one card reader with the card's partition
// sdc1. It answers the unmounts from a script, late or never when told to.
class FakeUDisks final : public QDBusVirtualObject
{
public:
    explicit FakeUDisks(QList<UnmountAnswer> answers) : m_answers(std::move(answers)) {}

    std::atomic<int> unmountCalls = 0;

    QStringList driveCalls() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_driveCalls;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.member();
        if (member == QLatin1String("ResolveDevice")) {
            connection.send(message.createReply(
                QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kBlock)})));
        } else if (member == QLatin1String("Get")) {
            connection.send(message.createReply(
                QVariant::fromValue(QDBusVariant(property(message.arguments().value(1).toString())))));
        } else if (member == QLatin1String("Unmount")) {
            const int call = unmountCalls++;
            const UnmountAnswer answer = m_answers.value(call, m_answers.last());
            if (answer.kind == UnmountAnswer::Busy) {
                connection.send(message.createErrorReply(
                    QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy"),
                    QStringLiteral("Error unmounting /dev/sdc1: target is busy")));
            } else if (answer.kind == UnmountAnswer::Done) {
                const QDBusMessage reply = message.createReply();
                QTimer::singleShot(answer.delayMs, this, [connection, reply] {
                    QDBusConnection(connection).send(reply);
                });
            }
        } else if (member == QLatin1String("Eject") || member == QLatin1String("PowerOff")) {
            {
                const QMutexLocker lock(&m_mutex);
                m_driveCalls.append(member);
            }
            connection.send(message.createReply());
        } else {
            return false;
        }
        return true;
    }

private:
    static QVariant property(const QString& name)
    {
        if (name == QLatin1String("Drive"))
            return QVariant::fromValue(QDBusObjectPath(kDrive));
        if (name == QLatin1String("Device"))
            return QByteArray("/dev/sdc1");
        if (name == QLatin1String("Ejectable"))
            return true;
        return false;
    }

    const QList<UnmountAnswer> m_answers;
    mutable QMutex m_mutex;
    QStringList m_driveCalls;
};

class PostedEvents : public QObject
{
public:
    int count = 0;

protected:
    void customEvent(QEvent*) override { ++count; }
};

// The stand-in on the private bus. It answers from a thread of its own: the
// removal's waits hold back the timers of the test's thread, and the stand-in
// answers late by a timer.
class ServiceOnBus
{
public:
    ServiceOnBus(const QString& address, const QList<UnmountAnswer>& answers)
        : m_connectionName(QStringLiteral("udisks-service")), m_service(new FakeUDisks(answers))
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, m_connectionName);
        // Registered before it moves: the registration gives it a child.
        m_registered = bus.isConnected() &&
                       bus.registerVirtualObject(QStringLiteral("/org/freedesktop/UDisks2"), m_service,
                                                 QDBusConnection::SubPath) &&
                       bus.registerService(kUDisks);
        m_service->moveToThread(&m_thread);
        m_thread.start();
    }
    ~ServiceOnBus()
    {
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_thread.quit();
        m_thread.wait();
        delete m_service;
    }

    bool registered() const { return m_registered; }
    const FakeUDisks& service() const { return *m_service; }

private:
    QString m_connectionName;
    QThread m_thread;
    FakeUDisks* m_service;
    bool m_registered = false;
};

} // namespace

Q_DECLARE_METATYPE(QList<UnmountAnswer>)

class CardRemovalBusTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void removalOverTheBus_data()
    {
        QTest::addColumn<QList<UnmountAnswer>>("answers");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QStringList>("driveCalls");
        // Each unanswered attempt uses up a bounded share of the time the
        // removal may spend on the bus; then it gives up.
        QTest::newRow("the service never answers the unmount")
            << QList<UnmountAnswer>{{UnmountAnswer::Never}} << false << 3 << QStringList{};
        QTest::newRow("a slow answer within the bound")
            << QList<UnmountAnswer>{{UnmountAnswer::Done, 500}} << true << 1 << QStringList{"Eject"};
        QTest::newRow("busy five times") << QList<UnmountAnswer>{{UnmountAnswer::Busy}} << false << 5
                                         << QStringList{};
        QTest::newRow("an unanswered attempt, then unmounted")
            << QList<UnmountAnswer>{{UnmountAnswer::Never}, {UnmountAnswer::Done}} << true << 2
            << QStringList{"Eject"};
    }
    void removalOverTheBus()
    {
        QFETCH(QList<UnmountAnswer>, answers);
        QFETCH(bool, result);
        QFETCH(int, attempts);
        QFETCH(QStringList, driveCalls);

        PrivateBus bus;
        QString why;
        const QString address = bus.start(&why);
        if (address.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no private message bus: ") + why));

        const ServiceOnBus service(address, answers);
        QVERIFY(service.registered());
        const QString clientName = QStringLiteral("udisks-client");
        const auto disconnect = qScopeGuard([&] { QDBusConnection::disconnectFromBus(clientName); });
        const QDBusConnection clientBus = QDBusConnection::connectToBus(address, clientName);
        QVERIFY(clientBus.isConnected());
        const auto udisks = CreateUDisks(clientBus);
        // While a call waits for its answer, posted events (the windows'
        // update requests among them) are delivered, timers are not.
        PostedEvents posted;
        QCoreApplication::postEvent(&posted, new QEvent(QEvent::User));
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
        timer.start(1);
        QList<int> waits;
        QCOMPARE(EjectThroughUDisks(*udisks, QStringLiteral("/dev/sdc1"), [&](int ms) { waits.append(ms); }),
                 result);
        QCOMPARE(service.service().unmountCalls.load(), attempts);
        QCOMPARE(waits.size(), attempts - 1);
        QCOMPARE(service.service().driveCalls(), driveCalls);
        QCOMPARE(posted.count, 1);
        QCOMPARE(ticks, 0);
    }
};

TALVEN77_REGISTER_TEST(CardRemovalBusTest);
#include "CardRemovalBusTest.moc"
