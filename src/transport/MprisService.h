#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>
#include <functional>

class TransportTarget;

// The program as a media player on the session bus (MPRIS 2), so that media keys
// and the desktop's sound applets control the control panel: the root interface
// and the player interface, on /org/mpris/MediaPlayer2, while the program runs.
// Times on the bus are in microseconds.
class MprisService : public QObject
{
    Q_OBJECT

public:
    static const QString kServiceName;
    static const QString kObjectPath;

    explicit MprisService(QObject* parent = nullptr);
    ~MprisService() override;

    // The panel in place (none: nothing to play).
    void setTarget(TransportTarget* target);
    TransportTarget* target() const { return m_target; }
    // While the gate says no (the window locked behind its password), calls change nothing.
    void setGate(std::function<bool()> gate) { m_gate = std::move(gate); }
    // Brings the program's window forward when the desktop asks (Raise); without one, the
    // service says it cannot (CanRaise false).
    void setRaiser(std::function<void()> raise) { m_raise = std::move(raise); }
    bool canRaise() const { return bool(m_raise); }
    void raise() const
    {
        if (m_raise)
            m_raise();
    }
    // Registers the object and the name on this bus; false when the name is taken or the bus is
    // gone.
    bool registerOn(QDBusConnection bus);
    // Registers on the session bus when there is one, without ever starting one.
    bool registerOnSessionBus();
    // Whether the session has a bus: its address is set, or the user's runtime folder has one.
    static bool sessionBusPresent();

    // What the player interface reports, worked out from the panel now.
    QString playbackStatus() const;
    QVariantMap metadata() const;
    QDBusObjectPath trackId() const;

    // Announces changed properties (PropertiesChanged) that differ from those last announced.
    void announceChanges();

private:
    struct Announced
    {
        QString status;
        QVariantMap metadata;
        double rate = 1;
        double volume = 1;
        bool canGoNext = false, canGoPrevious = false, canPlay = false, canPause = false,
             canSeek = false;
    };
    Announced current() const;
    // The target when calls may drive it, else none.
    TransportTarget* controllable() const { return m_gate && !m_gate() ? nullptr : m_target; }

    TransportTarget* m_target = nullptr;
    std::function<bool()> m_gate;
    std::function<void()> m_raise;
    QList<QMetaObject::Connection> m_connections;
    QDBusConnection m_bus{QString()};
    bool m_registered = false;
    Announced m_announced;
    // The track id changes with the recording loaded, worked out as it is read.
    mutable quint64 m_trackNumber = 0;
    mutable QString m_trackPath;

    friend class MprisPlayerAdaptor;
};

class MprisRootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    explicit MprisRootAdaptor(MprisService* service)
        : QDBusAbstractAdaptor(service), m_service(service)
    {
    }
    bool canQuit() const { return false; }
    bool canRaise() const { return m_service->canRaise(); }
    bool hasTrackList() const { return false; }
    QString identity() const;
    // The installed desktop entry, without its ".desktop".
    QString desktopEntry() const;
    QStringList supportedUriSchemes() const { return {}; }
    QStringList supportedMimeTypes() const { return {}; }

public Q_SLOTS:
    // The window comes forward, un-minimised. Quit is not offered (CanQuit is false): the exit
    // question stays the user's.
    void Raise() { m_service->raise(); }
    void Quit() {}

private:
    MprisService* m_service;
};

class MprisPlayerAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ minimumRate)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)

public:
    explicit MprisPlayerAdaptor(MprisService* service)
        : QDBusAbstractAdaptor(service), m_service(service)
    {
    }
    QString playbackStatus() const { return m_service->playbackStatus(); }
    double rate() const;
    void setRate(double rate);
    // The panel's volume slider, 1.0 at its top.
    double volume() const { return m_service->current().volume; }
    void setVolume(double volume);
    QVariantMap metadata() const { return m_service->metadata(); }
    qlonglong position() const;
    double minimumRate() const;
    double maximumRate() const;
    bool canGoNext() const { return m_service->current().canGoNext; }
    bool canGoPrevious() const { return m_service->current().canGoPrevious; }
    bool canPlay() const { return m_service->current().canPlay; }
    bool canPause() const { return m_service->current().canPause; }
    bool canSeek() const { return m_service->current().canSeek; }
    bool canControl() const { return true; }

public Q_SLOTS:
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong offset);
    void SetPosition(const QDBusObjectPath& trackId, qlonglong position);
    void OpenUri(const QString&) {}

Q_SIGNALS:
    void Seeked(qlonglong position);

private:
    MprisService* m_service;
};
