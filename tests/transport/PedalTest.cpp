#include "PlayerWindow.h"
#include "TestRegistry.h"
#include "platform/ProgramIdentity.h"
#include "transport/PedalInput.h"
#include "transport/PedalLayout.h"
#include "transport/PedalReader.h"
#include "view/TransportCommands.h"

#include <QSignalSpy>
#include <bit>
#include <QTest>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
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

// A terminal pair in raw mode: a character device whose reads give what one write put in,
// as a hidraw node gives one report per read.
class PedalNode
{
public:
    PedalNode()
    {
        m_fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        if (m_fd < 0 || ::grantpt(m_fd) != 0 || ::unlockpt(m_fd) != 0 ||
            ::tcgetattr(m_fd, &raw) != 0)
            return;
        ::cfmakeraw(&raw);
        if (::tcsetattr(m_fd, TCSANOW, &raw) == 0)
            m_path = QString::fromLocal8Bit(::ptsname(m_fd));
    }
    ~PedalNode()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    QString path() const { return m_path; }
    bool send(const QByteArray& report)
    {
        return ::write(m_fd, report.constData(), size_t(report.size())) == report.size();
    }

private:
    int m_fd = -1;
    QString m_path;
};

QByteArray report(uint8_t pedals)
{
    return QByteArray(1, char(pedals)) + QByteArray(1, '\0');
}

QByteArray reports(const QList<int>& pedals)
{
    QByteArray bytes;
    for (const int down : pedals)
        bytes += report(uint8_t(down));
    return bytes;
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

    // Reports that arrive together (a FIFO delivers what was written as one stream) each
    // count, in their order: a release among them pauses.
    void reportsThatArriveTogether_data()
    {
        QTest::addColumn<int>("startState"); // 1 stopped, 2 playing at 20 s held by the middle pedal
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("second");
        QTest::newRow("middle down and up") << 1 << QList<int>{kMiddle, 0} << 3 << 0;
        QTest::newRow("released while skipping")
            << 2 << QList<int>{kMiddle | kRight, kMiddle, 0} << 3 << 23;
        QTest::newRow("two skips back") << 2 << QList<int>{kMiddle | kLeft, kMiddle, kMiddle | kLeft, kMiddle}
                                        << 2 << 14;
        QTest::newRow("let go and held again")
            << 2 << QList<int>{0, kMiddle} << 2 << 18;
    }

    void reportsThatArriveTogether()
    {
        QFETCH(int, startState);
        QFETCH(QList<int>, sent);
        QFETCH(int, state);
        QFETCH(int, second);
        Rig r(m_places, m_dir.filePath(QStringLiteral("together")));
        if (startState == 2) {
            QVERIFY(r.step(kMiddle));
            r.engine().SetPosition(20);
            r.window.panel->session().OnTimer();
        }
        QSignalSpy changes(&r.pedals.reader(), &PedalReader::pedalChanged);
        QSignalSpy bad(&r.pedals.reader(), &PedalReader::badReport);
        int expected = 0;
        uint8_t before = startState == 2 ? kMiddle : 0;
        for (const int down : sent) {
            expected += std::popcount(uint8_t(before ^ down));
            before = uint8_t(down);
        }
        QVERIFY(r.fifo.send(reports(sent)));
        QTRY_COMPARE(changes.count(), expected);
        QCOMPARE(bad.count(), 0);
        QCOMPARE(int(r.engine().m_state), state);
        QCOMPARE(r.engine().GetPosition(), uint64_t(second));
    }

    // A report cut in two by the writer: the first part waits for the rest, then counts.
    void aSplitReportWaitsForTheRest()
    {
        Rig r(m_places, m_dir.filePath(QStringLiteral("split")));
        QSignalSpy bad(&r.pedals.reader(), &PedalReader::badReport);
        QVERIFY(r.fifo.send(report(kMiddle) + QByteArray(1, '\0')));
        QTRY_COMPARE(r.engine().m_state, CMp3Ctrl::Playing);
        r.window.play(2.0);
        QCOMPARE(r.pedals.reader().down(), kMiddle);
        QVERIFY(r.fifo.send(QByteArray(1, '\0')));
        QTRY_COMPARE(r.engine().m_state, CMp3Ctrl::Paused);
        QVERIFY(r.step(kRight));
        QCOMPARE(r.engine().GetPosition(), 5u);
        QCOMPARE(bad.count(), 0);
        // The writer goes with half a report sent: the half is dropped, nothing is held.
        QSignalSpy gone(&r.pedals, &PedalInput::pedalDisconnected);
        QVERIFY(r.fifo.send(QByteArray(1, char(kMiddle))));
        r.fifo.unplug();
        QTRY_COMPARE(gone.count(), 1);
        QVERIFY(r.pedals.reader().isOpen());
        QVERIFY(r.fifo.plug());
        QVERIFY(r.step(kLeft));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Paused);
        QCOMPARE(r.engine().GetPosition(), 2u);
    }

    // A device node gives one report per read: one of another size is left aside, and the
    // next good one counts.
    void reportOfTheWrongSize()
    {
        PedalNode node;
        if (node.path().isEmpty())
            QSKIP("no pseudo-terminal to stand for a device node");
        PlayerWindow window(m_places);
        TransportCommands& commands = window.view->transportCommands();
        TransportSettings settings = commands.settings();
        settings.pedalDevice = node.path();
        commands.applySettings(settings);
        PedalReader& reader = commands.pedals().reader();
        QVERIFY(reader.isOpen());
        QSignalSpy bad(&reader, &PedalReader::badReport);
        QVERIFY(node.send(QByteArray("\x02\x00\x00", 3)));
        QTRY_COMPARE(bad.count(), 1);
        QCOMPARE(bad.at(0).at(0).toInt(), 3);
        QCOMPARE(window.engine().m_state, CMp3Ctrl::Stopped);
        QVERIFY(node.send(report(kMiddle)));
        QTRY_COMPARE(reader.down(), kMiddle);
        QCOMPARE(window.engine().m_state, CMp3Ctrl::Playing);
    }
};

TALVEN77_REGISTER_TEST(PedalTest);

#include "PedalTest.moc"
