#include "PlayerWindow.h"
#include "TestRegistry.h"
#include "platform/ProgramIdentity.h"
#include "transport/PedalInput.h"
#include "transport/PedalLayout.h"
#include "transport/PedalReader.h"
#include "view/TransportCommands.h"

#include <QSignalSpy>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The writing end of a FIFO that carries a pedal's reports, as its hidraw node would.
class PedalFifo
{
public:
    explicit PedalFifo(const QString& path) : m_path(path)
    {
        ::mkfifo(QFile::encodeName(path).constData(), 0600);
    }
    ~PedalFifo() { unplug(); }

    // The reader is open by then: opening the writing end does not block.
    bool plug()
    {
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return m_fd >= 0;
    }
    bool send(const QByteArray& report)
    {
        return ::write(m_fd, report.constData(), size_t(report.size())) == report.size();
    }
    void unplug()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    QString m_path;
    int m_fd = -1;
};

QByteArray report(uint8_t pedals)
{
    return QByteArray(1, char(pedals)) + QByteArray(1, '\0');
}

constexpr uint8_t kLeft = 1, kMiddle = 2, kRight = 4;

} // namespace

// Pedal reports from a FIFO through the same reading code as a hidraw node, with
// the default bindings: left back, middle play while held, right forward.
class PedalTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;
    QTemporaryDir m_dir;

    struct Rig
    {
        PlayerWindow window;
        PedalFifo fifo;
        PedalInput& pedals;
        Rig(SimulatedPlaces& places, const QString& path)
            : window(places), fifo(path), pedals(window.view->transportCommands().pedals())
        {
            TransportSettings settings = window.view->transportCommands().settings();
            settings.pedalDevice = path;
            window.view->transportCommands().applySettings(settings);
            if (!pedals.reader().isOpen() || !fifo.plug())
                qFatal("the pedal FIFO does not open");
        }
        // Sends a report and waits until the reader has taken it.
        bool step(uint8_t down)
        {
            if (!fifo.send(report(down)))
                return false;
            return QTest::qWaitFor([&] { return pedals.reader().down() == down; }, 5000);
        }
        CMp3Ctrl& engine() { return window.engine(); }
    };

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    void layoutDecodes_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<int>("down"); // -1: not a report of the device
        QTest::newRow("none") << QByteArray("\x00\x00", 2) << 0;
        QTest::newRow("left") << QByteArray("\x01\x00", 2) << 1;
        QTest::newRow("middle") << QByteArray("\x02\x00", 2) << 2;
        QTest::newRow("right and left") << QByteArray("\x05\x00", 2) << 5;
        QTest::newRow("all three") << QByteArray("\x07\x00", 2) << 7;
        QTest::newRow("other bits") << QByteArray("\xf8\x00", 2) << 0;
        QTest::newRow("short") << QByteArray("\x01", 1) << -1;
        QTest::newRow("long") << QByteArray("\x01\x00\x00", 3) << -1;
    }

    void layoutDecodes()
    {
        QFETCH(QByteArray, report);
        QFETCH(int, down);
        const std::optional<uint8_t> decoded = KnownPedalLayout(0x05f3, 0x00ff)->decode(report);
        QCOMPARE(decoded ? int(*decoded) : -1, down);
        QVERIFY(!KnownPedalLayout(0x05f3, 0x0001));
    }

    // A press runs its action once; its release does nothing.
    void pressRunsTheBoundAction()
    {
        Rig r(m_places, m_dir.filePath(QStringLiteral("press")));
        r.window.playAt(20);
        QVERIFY(r.step(kRight));
        QCOMPARE(r.engine().GetPosition(), 23u);
        QVERIFY(r.step(0));
        QCOMPARE(r.engine().GetPosition(), 23u);
        QVERIFY(r.step(kLeft));
        QVERIFY(r.step(0));
        QCOMPARE(r.engine().GetPosition(), 20u);
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Playing);
    }

    // Held, the middle pedal plays; let go, it pauses; held again, it plays on from 2 s before.
    void holdPlaysAndReleasePauses()
    {
        Rig r(m_places, m_dir.filePath(QStringLiteral("hold")));
        QVERIFY(r.step(kMiddle));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Playing);
        r.window.play(5.0);
        QVERIFY(r.step(0));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Paused);
        QCOMPARE(r.engine().GetPosition(), 5u);
        QVERIFY(r.step(kMiddle));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Playing);
        QCOMPARE(r.engine().GetPosition(), 3u);
    }

    // Two pedals at once: each is its own; the right one skips while the middle one plays.
    void twoPedalsAtOnce()
    {
        Rig r(m_places, m_dir.filePath(QStringLiteral("two")));
        QVERIFY(r.step(kMiddle));
        r.window.play(4.0);
        QVERIFY(r.step(kMiddle | kRight));
        QCOMPARE(r.engine().GetPosition(), 7u);
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Playing);
        QVERIFY(r.step(kMiddle));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Playing);
        QVERIFY(r.step(kMiddle | kLeft));
        QCOMPARE(r.engine().GetPosition(), 4u);
        QVERIFY(r.step(0));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Paused);
    }

    // Unplugged while the middle pedal is down: playing stops as if it were let go,
    // and the device is read again when it comes back.
    void unplugMidPress()
    {
        Rig r(m_places, m_dir.filePath(QStringLiteral("unplug")));
        QSignalSpy gone(&r.pedals, &PedalInput::pedalDisconnected);
        QVERIFY(r.step(kMiddle));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Playing);
        r.fifo.unplug();
        QTRY_COMPARE(gone.count(), 1);
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Paused);
        QVERIFY(r.pedals.reader().isOpen());
        QVERIFY(r.fifo.plug());
        QVERIFY(r.step(kMiddle));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Playing);
    }

    // A report of another size is left aside; the next good one counts.
    void reportOfTheWrongSize()
    {
        Rig r(m_places, m_dir.filePath(QStringLiteral("size")));
        QSignalSpy bad(&r.pedals.reader(), &PedalReader::badReport);
        QVERIFY(r.fifo.send(QByteArray("\x02\x00\x00", 3)));
        QTRY_COMPARE(bad.count(), 1);
        QCOMPARE(bad.at(0).at(0).toInt(), 3);
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Stopped);
        QVERIFY(r.step(kMiddle));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Playing);
    }
};

TALVEN77_REGISTER_TEST(PedalTest);

#include "PedalTest.moc"
