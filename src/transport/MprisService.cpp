#include "MprisService.h"

#include "PlaybackRate.h"
#include "TransportTarget.h"
#include "platform/ProgramIdentity.h"

#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <unistd.h>

const QString MprisService::kServiceName = QStringLiteral("org.mpris.MediaPlayer2.talven77");
const QString MprisService::kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
constexpr qint64 kMicroPerMilli = 1000;

} // namespace

MprisService::MprisService(QObject* parent) : QObject(parent)
{
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
}

MprisService::~MprisService()
{
    if (m_registered) {
        m_bus.unregisterService(kServiceName);
        m_bus.unregisterObject(kObjectPath);
    }
}

void MprisService::setTarget(TransportTarget* target)
{
    for (const QMetaObject::Connection& connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_target = target;
    if (target) {
        TransportNotifier* notifier = &target->transportNotifier();
        for (auto signal : {&TransportNotifier::stateChanged, &TransportNotifier::recordingChanged,
                            &TransportNotifier::rateChanged, &TransportNotifier::volumeChanged})
            m_connections.append(connect(notifier, signal, this, &MprisService::announceChanges));
        auto* player = findChild<MprisPlayerAdaptor*>();
        m_connections.append(
            connect(notifier, &TransportNotifier::seeked, player,
                    [player](qint64 ms) { Q_EMIT player->Seeked(ms * kMicroPerMilli); }));
    }
    announceChanges();
}

bool MprisService::sessionBusPresent()
{
    // An address set but empty says there is none.
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
}

bool MprisService::registerOnSessionBus()
{
    // Without a bus nothing is started: libdbus would otherwise try to launch one.
    return sessionBusPresent() && registerOn(QDBusConnection::sessionBus());
}

bool MprisService::registerOn(QDBusConnection bus)
{
    if (m_registered || !bus.isConnected())
        return false;
    if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors))
        return false;
    // A second copy of the program (another user's session on the same bus cannot be) takes a name
    // of its own.
    QString name = kServiceName;
    if (!bus.registerService(name)) {
        name = kServiceName + QStringLiteral(".instance%1").arg(::getpid());
        if (!bus.registerService(name)) {
            bus.unregisterObject(kObjectPath);
            return false;
        }
    }
    m_bus = bus;
    m_registered = true;
    m_announced = current();
    return true;
}

QString MprisService::playbackStatus() const
{
    switch (m_target ? m_target->transportState() : TransportTarget::NothingLoaded) {
    case TransportTarget::Playing:
        return QStringLiteral("Playing");
    case TransportTarget::Paused:
        return QStringLiteral("Paused");
    default:
        return QStringLiteral("Stopped");
    }
}

QDBusObjectPath MprisService::trackId() const
{
    if (!m_target || m_target->transportState() == TransportTarget::NothingLoaded)
        return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    const TransportTrack track = m_target->transportTrack();
    if (track.path != m_trackPath) {
        m_trackPath = track.path;
        ++m_trackNumber;
    }
    return QDBusObjectPath(QStringLiteral("/jp/corvane/talven77/track/%1").arg(m_trackNumber));
}

QVariantMap MprisService::metadata() const
{
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId()));
    if (!m_target || m_target->transportState() == TransportTarget::NothingLoaded)
        return map;
    const TransportTrack track = m_target->transportTrack();
    map.insert(QStringLiteral("mpris:length"), qlonglong(track.lengthMicroseconds));
    map.insert(QStringLiteral("xesam:title"), track.title);
    map.insert(QStringLiteral("xesam:url"), QUrl::fromLocalFile(track.path).toString());
    if (!track.memo.isEmpty())
        map.insert(QStringLiteral("xesam:comment"), QStringList{track.memo});
    if (track.recordedAt.isValid())
        map.insert(QStringLiteral("xesam:contentCreated"), track.recordedAt.toString(Qt::ISODate));
    return map;
}

MprisService::Announced MprisService::current() const
{
    Announced now;
    now.status = playbackStatus();
    now.metadata = metadata();
    now.rate = m_target ? m_target->transportRate() : 1.0;
    now.volume = m_target ? m_target->transportVolume() : 1.0;
    if (m_target) {
        now.canGoNext = m_target->canRunTransport(TransportAction::NextIndex);
        now.canGoPrevious = m_target->canRunTransport(TransportAction::PreviousIndex);
        now.canPlay = m_target->canRunTransport(TransportAction::Replay);
        now.canPause = now.canPlay;
        now.canSeek = m_target->transportState() != TransportTarget::NothingLoaded;
    }
    return now;
}

void MprisService::announceChanges()
{
    if (!m_registered)
        return;
    const Announced now = current();
    QVariantMap changed;
    const auto note = [&](const char* name, const auto& before, const auto& after) {
        if (before != after)
            changed.insert(QString::fromLatin1(name), QVariant::fromValue(after));
    };
    note("PlaybackStatus", m_announced.status, now.status);
    note("Metadata", m_announced.metadata, now.metadata);
    note("Rate", m_announced.rate, now.rate);
    note("Volume", m_announced.volume, now.volume);
    note("CanGoNext", m_announced.canGoNext, now.canGoNext);
    note("CanGoPrevious", m_announced.canGoPrevious, now.canGoPrevious);
    note("CanPlay", m_announced.canPlay, now.canPlay);
    note("CanPause", m_announced.canPause, now.canPause);
    note("CanSeek", m_announced.canSeek, now.canSeek);
    m_announced = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    m_bus.send(signal);
}

QString MprisRootAdaptor::identity() const
{
    return kProgramTitle;
}

QString MprisRootAdaptor::desktopEntry() const
{
    return kDesktopEntryName;
}

double MprisPlayerAdaptor::rate() const
{
    return m_service->m_target ? m_service->m_target->transportRate() : 1.0;
}

void MprisPlayerAdaptor::setRate(double rate)
{
    TransportTarget* target = m_service->controllable();
    if (!target)
        return;
    // 0 stands for a pause; a rate out of the range is not one the player has, and is ignored.
    if (rate == 0.0)
        target->transportPause();
    else if (rate >= kMinPlaybackRate && rate <= kMaxPlaybackRate)
        target->setTransportRate(rate);
}

void MprisPlayerAdaptor::setVolume(double volume)
{
    // Below 0 is silence; the panel's top is full volume, there is nothing louder.
    if (TransportTarget* target = m_service->controllable())
        target->setTransportVolume(volume);
}

qlonglong MprisPlayerAdaptor::position() const
{
    return m_service->m_target ? m_service->m_target->transportPosition() * kMicroPerMilli : 0;
}

double MprisPlayerAdaptor::minimumRate() const
{
    return kMinPlaybackRate;
}

double MprisPlayerAdaptor::maximumRate() const
{
    return kMaxPlaybackRate;
}

void MprisPlayerAdaptor::Next()
{
    if (TransportTarget* target = m_service->controllable())
        target->runTransport(TransportAction::NextIndex);
}

void MprisPlayerAdaptor::Previous()
{
    if (TransportTarget* target = m_service->controllable())
        target->runTransport(TransportAction::PreviousIndex);
}

void MprisPlayerAdaptor::Pause()
{
    if (TransportTarget* target = m_service->controllable())
        target->transportPause();
}

void MprisPlayerAdaptor::PlayPause()
{
    if (TransportTarget* target = m_service->controllable())
        target->runTransport(TransportAction::PlayPause);
}

void MprisPlayerAdaptor::Stop()
{
    if (TransportTarget* target = m_service->controllable())
        target->runTransport(TransportAction::Stop);
}

void MprisPlayerAdaptor::Play()
{
    if (TransportTarget* target = m_service->controllable())
        target->transportPlay();
}

void MprisPlayerAdaptor::Seek(qlonglong offset)
{
    TransportTarget* target = m_service->controllable();
    if (!target || target->transportState() == TransportTarget::NothingLoaded)
        return;
    const qint64 to = target->transportPosition() + offset / kMicroPerMilli;
    // Past the end goes on to the next recording; before the start, the start.
    if (to * kMicroPerMilli >= target->transportTrack().lengthMicroseconds)
        target->transportNextRecording();
    else
        target->transportSeek(std::max<qint64>(to, 0));
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath& trackId, qlonglong position)
{
    TransportTarget* target = m_service->controllable();
    // A position for another track, or outside this one, is ignored.
    if (!target || trackId != m_service->trackId() || position < 0 ||
        position > target->transportTrack().lengthMicroseconds)
        return;
    target->transportSeek(position / kMicroPerMilli);
}
