#include "CardBuilder.h"
#include "Mp3Encoder.h"
#include "PlayerWindow.h"
#include "PrivateBus.h"
#include "TestRegistry.h"
#include "platform/ProgramIdentity.h"
#include "platform/WindowRaise.h"
#include "transport/MprisService.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "view/TransportCommands.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QSlider>
#include <QTest>

namespace {

const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

// Collects the PropertiesChanged signals the client sees.
class PropertiesSpy : public QObject
{
    Q_OBJECT

public:
    QList<QVariantMap> changes;

public Q_SLOTS:
    void changed(const QString& interface, const QVariantMap& properties, const QStringList&)
    {
        if (interface == kPlayer)
            changes.append(properties);
    }
};

} // namespace

// The media player interface on a private session bus, driven by real D-Bus calls
// from a client connection of its own.
class MprisTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;

    struct Rig
    {
        PrivateBus bus;
        QString address;
        PlayerWindow window;
        std::unique_ptr<MprisService> service = std::make_unique<MprisService>();
        QDBusConnection client{QString()};

        explicit Rig(SimulatedPlaces& places, const QByteArray& firstAudio = {})
            : window(places, {10, 40}, firstAudio)
        {
            QString why;
            address = bus.start(&why);
            if (address.isEmpty())
                qFatal("%s", qPrintable(why));
            service->setTarget(window.view->transportCommands().target());
            if (!service->registerOn(
                    QDBusConnection::connectToBus(address, QStringLiteral("mpris-service"))))
                qFatal("the player does not register");
            client = QDBusConnection::connectToBus(address, QStringLiteral("mpris-client"));
        }
        ~Rig()
        {
            service.reset();
            QDBusConnection::disconnectFromBus(QStringLiteral("mpris-service"));
            QDBusConnection::disconnectFromBus(QStringLiteral("mpris-client"));
        }
        // The service answers on this thread: the client waits with the event loop running.
        QDBusMessage call(const QString& interface, const QString& method,
                          const QVariantList& arguments = {})
        {
            QDBusMessage message = QDBusMessage::createMethodCall(
                MprisService::kServiceName, MprisService::kObjectPath, interface, method);
            message.setArguments(arguments);
            return client.call(message, QDBus::BlockWithGui, 5000);
        }
        QDBusMessage player(const QString& method, const QVariantList& arguments = {})
        {
            return call(kPlayer, method, arguments);
        }
        QVariant property(const QString& name, const QString& interface = kPlayer)
        {
            const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"),
                                            QStringLiteral("Get"), {interface, name});
            if (reply.type() != QDBusMessage::ReplyMessage)
                return {};
            return reply.arguments().value(0).value<QDBusVariant>().variant();
        }
        QVariantMap metadata()
        {
            return qdbus_cast<QVariantMap>(property(QStringLiteral("Metadata")));
        }
        QDBusMessage setProperty(const QString& name, const QVariant& value)
        {
            return call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                        {kPlayer, name, QVariant::fromValue(QDBusVariant(value))});
        }
        QString file() { return QFileInfo(window.panel->session().path()).fileName(); }
        CMp3Ctrl& engine() { return window.engine(); }
        // Has the spy hear the player's PropertiesChanged, as an applet does.
        bool listen(PropertiesSpy& spy)
        {
            return client.connect(MprisService::kServiceName, MprisService::kObjectPath,
                                  QStringLiteral("org.freedesktop.DBus.Properties"),
                                  QStringLiteral("PropertiesChanged"), &spy,
                                  SLOT(changed(QString, QVariantMap, QStringList)));
        }
    };

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    // On the bus while it lives, under the media players' names; gone with it.
    void appearsWhileItRuns()
    {
        Rig r(m_places);
        QVERIFY(r.client.interface()->isServiceRegistered(MprisService::kServiceName));
        QCOMPARE(r.property(QStringLiteral("Identity"), QStringLiteral("org.mpris.MediaPlayer2"))
                     .toString(),
                 QStringLiteral("TALVEN-77-PC Player"));
        QCOMPARE(r.property(QStringLiteral("CanControl")).toBool(), true);
        QCOMPARE(r.property(QStringLiteral("MinimumRate")).toDouble(), 0.5);
        QCOMPARE(r.property(QStringLiteral("MaximumRate")).toDouble(), 2.0);
        r.service.reset();
        QTRY_VERIFY(!r.client.interface()->isServiceRegistered(MprisService::kServiceName));
    }

    // The desktop finds the installed entry, and may bring the window forward: a minimised one
    // comes back as it was.
    void desktopEntryAndRaise_data()
    {
        QTest::addColumn<bool>("maximized");
        QTest::newRow("normal") << false;
        QTest::newRow("maximized") << true;
    }
    void desktopEntryAndRaise()
    {
        QFETCH(bool, maximized);
        Rig r(m_places);
        const QString root = QStringLiteral("org.mpris.MediaPlayer2");
        QCOMPARE(r.property(QStringLiteral("DesktopEntry"), root).toString(),
                 QStringLiteral("talven77-pc-player"));
        // No window to raise, no promise to.
        QCOMPARE(r.property(QStringLiteral("CanRaise"), root).toBool(), false);
        QWidget* window = r.window.view.get();
        r.service->setRaiser([window] { BringWindowForward(window); });
        QCOMPARE(r.property(QStringLiteral("CanRaise"), root).toBool(), true);
        window->setWindowState(maximized ? Qt::WindowMaximized | Qt::WindowMinimized
                                         : Qt::WindowMinimized);
        QVERIFY(window->isMinimized());
        QCOMPARE(r.call(root, QStringLiteral("Raise")).type(), QDBusMessage::ReplyMessage);
        QVERIFY(!window->isMinimized());
        QVERIFY(window->isVisible());
        QCOMPARE(window->isMaximized(), maximized);
    }

    void methodsDriveThePanel_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("startState"); // 1 stopped, 2 playing at 20 s, 3 paused at 20 s
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("second");
        QTest::addColumn<QString>("file");
        QTest::newRow("PlayPause plays") << "PlayPause" << 1 << "Playing" << 0 << "a.mp3";
        QTest::newRow("PlayPause pauses") << "PlayPause" << 2 << "Paused" << 20 << "a.mp3";
        QTest::newRow("Play resumes 2 s back") << "Play" << 3 << "Playing" << 18 << "a.mp3";
        QTest::newRow("Play while playing") << "Play" << 2 << "Playing" << 20 << "a.mp3";
        QTest::newRow("Pause") << "Pause" << 2 << "Paused" << 20 << "a.mp3";
        QTest::newRow("Pause while stopped") << "Pause" << 1 << "Stopped" << 0 << "a.mp3";
        QTest::newRow("Stop") << "Stop" << 2 << "Stopped" << 0 << "a.mp3";
        QTest::newRow("Next index") << "Next" << 2 << "Playing" << 40 << "a.mp3";
        QTest::newRow("Previous index") << "Previous" << 2 << "Playing" << 10 << "a.mp3";
        QTest::newRow("Next recording when stopped") << "Next" << 1 << "Stopped" << 0 << "b.mp3";
    }

    void methodsDriveThePanel()
    {
        QFETCH(QString, method);
        QFETCH(int, startState);
        QFETCH(QString, status);
        QFETCH(int, second);
        QFETCH(QString, file);
        Rig r(m_places);
        if (startState != 1)
            r.window.playAt(20, startState == 3);
        const QDBusMessage reply = r.player(method);
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(r.property(QStringLiteral("PlaybackStatus")).toString(), status);
        QCOMPARE(r.engine().GetPosition(), uint64_t(second));
        QCOMPARE(r.property(QStringLiteral("Position")).toLongLong() / 1000000, qlonglong(second));
        QCOMPARE(r.file(), file);
    }

    // Seek is relative: before the start is the start, past the end the next recording;
    // SetPosition goes only to a position of the track it names.
    void seekAndSetPosition()
    {
        Rig r(m_places);
        r.window.playAt(20);
        r.player(QStringLiteral("Seek"), {qlonglong(5500000)});
        QCOMPARE(r.engine().GetPositionMilliseconds(), 25500u);
        r.player(QStringLiteral("Seek"), {qlonglong(-60000000)});
        QCOMPARE(r.engine().GetPositionMilliseconds(), 0u);
        const QDBusObjectPath track =
            qvariant_cast<QDBusObjectPath>(r.metadata().value(QStringLiteral("mpris:trackid")));
        r.player(QStringLiteral("SetPosition"), {QVariant::fromValue(track), qlonglong(30000000)});
        QCOMPARE(r.engine().GetPosition(), 30u);
        r.player(QStringLiteral("SetPosition"), {QVariant::fromValue(track), qlonglong(-1)});
        r.player(QStringLiteral("SetPosition"), {QVariant::fromValue(track), qlonglong(61000000)});
        r.player(
            QStringLiteral("SetPosition"),
            {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/jp/corvane/talven77/track/999"))),
             qlonglong(0)});
        QCOMPARE(r.engine().GetPosition(), 30u);
        r.player(QStringLiteral("Seek"), {qlonglong(100000000)});
        QCOMPARE(r.file(), QStringLiteral("b.mp3"));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Playing);
        QCOMPARE(r.engine().GetPosition(), 0u);
        QVERIFY(qvariant_cast<QDBusObjectPath>(
                    r.metadata().value(QStringLiteral("mpris:trackid"))) != track);
        // Past the end of the last recording: stopped.
        r.window.view->recordingList()->selectionModel()->setCurrentIndex(
            r.window.view->recordings()->index(2, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        r.window.panel->OnPlay();
        r.player(QStringLiteral("Seek"), {qlonglong(100000000)});
        QCOMPARE(r.file(), QStringLiteral("c.mp3"));
        QCOMPARE(r.property(QStringLiteral("PlaybackStatus")).toString(),
                 QStringLiteral("Stopped"));
    }

    // Rates within 0.5–2.0 are taken; others are ignored; 0 pauses.
    void rateWithinTheRange_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("expected");
        QTest::addColumn<QString>("status");
        QTest::newRow("1.25") << 1.25 << 1.25 << "Playing";
        QTest::newRow("lowest") << 0.5 << 0.5 << "Playing";
        QTest::newRow("highest") << 2.0 << 2.0 << "Playing";
        QTest::newRow("too fast") << 3.0 << 1.0 << "Playing";
        QTest::newRow("too slow") << 0.25 << 1.0 << "Playing";
        QTest::newRow("negative") << -1.0 << 1.0 << "Playing";
        QTest::newRow("zero pauses") << 0.0 << 1.0 << "Paused";
    }

    void rateWithinTheRange()
    {
        QFETCH(double, rate);
        QFETCH(double, expected);
        QFETCH(QString, status);
        Rig r(m_places);
        r.window.playAt(20);
        QCOMPARE(r.setProperty(QStringLiteral("Rate"), rate).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(r.engine().m_tempo, expected);
        QCOMPARE(r.property(QStringLiteral("Rate")).toDouble(), expected);
        QCOMPARE(r.property(QStringLiteral("PlaybackStatus")).toString(), status);
    }

    // What the applets show: the file name, the length, the memo, the recording's start;
    // changes reach them as PropertiesChanged.
    void metadataAndItsChanges()
    {
        Rig r(m_places);
        PropertiesSpy spy;
        QVERIFY(r.listen(spy));
        const QVariantMap metadata = r.metadata();
        QCOMPARE(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("a.mp3"));
        // A minute of audio, with the encoder's delay and its last frame's padding (under 0.3 s
        // at 8 kHz); lengthAsDecoded checks the figure to the microsecond.
        const qlonglong length = metadata.value(QStringLiteral("mpris:length")).toLongLong();
        QVERIFY2(length >= 60000000 && length < 60300000, qPrintable(QString::number(length)));
        QCOMPARE(metadata.value(QStringLiteral("xesam:comment")).toStringList(),
                 QStringList{QStringLiteral("メモ0")});
        QCOMPARE(
            QDateTime::fromString(metadata.value(QStringLiteral("xesam:contentCreated")).toString(),
                                  Qt::ISODate),
            QDateTime::fromSecsSinceEpoch(r.window.panel->session().fileTime()));
        r.window.panel->OnPlay();
        QTRY_VERIFY(!spy.changes.isEmpty());
        QCOMPARE(spy.changes.last().value(QStringLiteral("PlaybackStatus")).toString(),
                 QStringLiteral("Playing"));
        spy.changes.clear();
        r.window.panel->session().runTransport(TransportAction::Faster);
        QTRY_VERIFY(!spy.changes.isEmpty());
        QCOMPARE(spy.changes.last().value(QStringLiteral("Rate")).toDouble(), 1.1);
    }

    // The length as the decoder gives it, to the microsecond, not cut to whole seconds: every
    // frame's samples where the recorder's rate leaves no room for an Info frame, the samples
    // encoded where an Info frame tells the decoder what to leave out.
    void lengthAsDecoded_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("seconds");
        QTest::newRow("8 kHz, no Info frame") << 0 << 26.712;
        QTest::newRow("22 kHz, Info frame") << 1 << 26.712;
        QTest::newRow("44 kHz stereo, Info frame") << 2 << 3.5;
    }

    void lengthAsDecoded()
    {
        QFETCH(int, mode);
        QFETCH(double, seconds);
        const Mp3Format format = RecorderFormat(uint8_t(mode));
        const EncodedMp3 audio = EncodeMp3(format, seconds, 7);
        QVERIFY(audio.ok);
        // Without an Info frame: every frame, a constant number of bytes a second.
        const qlonglong expected =
            audio.hasInfoFrame ? audio.pcmSamples * 1000000 / format.sampleRate
                               : qlonglong(audio.bytes.size()) * 8000 / format.bitrateKbps;
        Rig r(m_places, audio.bytes);
        QCOMPARE(r.metadata().value(QStringLiteral("mpris:length")).toLongLong(), expected);
        QVERIFY(expected % 1000000 != 0);
        // A seek within that length stays in the recording.
        const qint64 second = expected / 1000000;
        r.window.playAt(uint32_t(second - 1));
        r.player(QStringLiteral("Seek"), {qlonglong(1000000 + (expected % 1000000) / 2)});
        QCOMPARE(r.file(), QStringLiteral("a.mp3"));
        QCOMPARE(r.engine().m_state, CMp3Ctrl::Playing);
    }

    // The volume is the panel's, read and written over the bus (1.0 the slider's top);
    // written beyond its ends it stops there.
    void volumeIsThePanels_data()
    {
        QTest::addColumn<double>("written");
        QTest::addColumn<int>("slider");
        QTest::addColumn<double>("read");
        QTest::newRow("0.3") << 0.3 << 30 << 0.3;
        QTest::newRow("silent") << 0.0 << 0 << 0.0;
        QTest::newRow("full") << 1.0 << 100 << 1.0;
        QTest::newRow("between steps") << 0.254 << 25 << 0.25;
        QTest::newRow("above full") << 1.5 << 100 << 1.0;
        QTest::newRow("below silent") << -0.2 << 0 << 0.0;
    }

    void volumeIsThePanels()
    {
        QFETCH(double, written);
        QFETCH(int, slider);
        QFETCH(double, read);
        Rig r(m_places);
        r.window.panel->volumeSlider()->setValue(50);
        QCOMPARE(r.property(QStringLiteral("Volume")).toDouble(), 0.5);
        QCOMPARE(r.setProperty(QStringLiteral("Volume"), written).type(),
                 QDBusMessage::ReplyMessage);
        QCOMPARE(r.window.panel->volumeSlider()->value(), slider);
        QCOMPARE(r.engine().m_volume, uint32_t(slider));
        QCOMPARE(r.property(QStringLiteral("Volume")).toDouble(), read);
    }

    // The slider moved in the panel: the applets hear of it.
    void volumeChangesAreAnnounced()
    {
        Rig r(m_places);
        PropertiesSpy spy;
        QVERIFY(r.listen(spy));
        r.window.panel->volumeSlider()->setValue(80);
        QTRY_VERIFY(!spy.changes.isEmpty());
        QCOMPARE(spy.changes.last().value(QStringLiteral("Volume")).toDouble(), 0.8);
        // Written over the bus, it is announced as well (other applets show it).
        spy.changes.clear();
        r.setProperty(QStringLiteral("Volume"), 0.2);
        QTRY_VERIFY(!spy.changes.isEmpty());
        QCOMPARE(spy.changes.last().value(QStringLiteral("Volume")).toDouble(), 0.2);
    }
};

TALVEN77_REGISTER_TEST(MprisTest);

#include "MprisTest.moc"
