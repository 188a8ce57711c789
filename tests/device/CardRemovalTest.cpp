#include "TestRegistry.h"
#include "device/CardRemoval.h"
#include "platform/UDisks2.h"

#include <QTest>

namespace {

// Answers the unmount attempts from a script and records what was asked.
class ScriptedUDisks final : public UDisksApi
{
public:
    QList<Outcome> unmountOutcomes;
    bool known = true, ejectable = true, powerOffable = true;
    int unmountCalls = 0;
    QStringList driveCalls;

    QString blockObject(const QString& deviceNode) override
    {
        return known ? QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + deviceNode.section(u'/', -1) : QString();
    }
    Outcome unmount(const QString&, QString*) override
    {
        ++unmountCalls;
        return unmountOutcomes.isEmpty() ? Outcome::Failed : unmountOutcomes.takeFirst();
    }
    QString driveObject(const QString&) override { return QStringLiteral("/org/freedesktop/UDisks2/drives/Reader"); }
    bool canEject(const QString&) override { return ejectable; }
    bool canPowerOff(const QString&) override { return powerOffable; }
    bool eject(const QString&) override
    {
        driveCalls.append(QStringLiteral("eject"));
        return false; // its result does not count
    }
    bool powerOff(const QString&) override
    {
        driveCalls.append(QStringLiteral("powerOff"));
        return true;
    }
};

using Outcome = UDisksApi::Outcome;

} // namespace

Q_DECLARE_METATYPE(QList<UDisksApi::Outcome>)

class CardRemovalTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ejectSequence_data()
    {
        QTest::addColumn<QList<Outcome>>("outcomes");
        QTest::addColumn<bool>("ejectable");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QStringList>("driveCalls");
        QTest::newRow("unmounted at once") << QList<Outcome>{Outcome::Done} << true << true << 1 << QStringList{"eject"};
        QTest::newRow("busy, busy, then unmounted")
            << QList<Outcome>{Outcome::Busy, Outcome::Busy, Outcome::Done} << true << true << 3 << QStringList{"eject"};
        QTest::newRow("busy five times") << QList<Outcome>(5, Outcome::Busy) << true << false << 5 << QStringList{};
        QTest::newRow("unmount refused") << QList<Outcome>{Outcome::Failed} << true << false << 1 << QStringList{};
        QTest::newRow("already unmounted") << QList<Outcome>{Outcome::NotMounted} << true << true << 1 << QStringList{"eject"};
        QTest::newRow("reader cannot eject: power off")
            << QList<Outcome>{Outcome::Done} << false << true << 1 << QStringList{"powerOff"};
    }
    void ejectSequence()
    {
        QFETCH(QList<Outcome>, outcomes);
        QFETCH(bool, ejectable);
        QFETCH(bool, result);
        QFETCH(int, attempts);
        QFETCH(QStringList, driveCalls);
        ScriptedUDisks udisks;
        udisks.unmountOutcomes = outcomes;
        udisks.ejectable = ejectable;
        QList<int> waits;
        QCOMPARE(EjectThroughUDisks(udisks, QStringLiteral("/dev/sdc1"), [&](int ms) { waits.append(ms); }), result);
        QCOMPARE(udisks.unmountCalls, attempts);
        // A pause of a second between attempts, none after the last.
        QCOMPARE(waits, QList<int>(attempts - 1, 1000));
        QCOMPARE(udisks.driveCalls, driveCalls);
    }

    void unknownDeviceIsNotTouched()
    {
        ScriptedUDisks udisks;
        udisks.known = false;
        QVERIFY(!EjectThroughUDisks(udisks, QStringLiteral("/dev/sdz1"), [](int) {}));
        QCOMPARE(udisks.unmountCalls, 0);
    }
};

TALVEN77_REGISTER_TEST(CardRemovalTest);
#include "CardRemovalTest.moc"
