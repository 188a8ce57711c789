#pragma once

#include "TransportAction.h"
#include "TransportSettings.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <cstdint>

// Tells whoever follows a transport target (the playback menu, the desktop's media
// controls) that its state, position jump, rate, volume or recording changed.
class TransportNotifier : public QObject
{
    Q_OBJECT

Q_SIGNALS:
    void stateChanged();
    void recordingChanged();
    void rateChanged();
    void volumeChanged();
    // The position jumped (a seek, a skip, a replay), in milliseconds.
    void seeked(qint64 milliseconds);
};

// The recording loaded for playing, as the desktop's media controls show it.
struct TransportTrack
{
    QString path;
    QString title;
    // As the decoder measures it, not cut to whole seconds.
    qint64 lengthMicroseconds = 0;
    QString memo;
    QDateTime recordedAt;
};

// What plays: the control panel. Keys, pedals, the menu and the media controls all
// go through it, so that each of them acts as the panel's own buttons do.
class TransportTarget
{
public:
    enum State
    {
        NothingLoaded = 0,
        Stopped = 1,
        Playing = 2,
        Paused = 3
    };

    virtual ~TransportTarget() = default;
    virtual TransportNotifier& transportNotifier() = 0;
    virtual State transportState() const = 0;
    // Whether the action would do something now (the menu's enable rule).
    virtual bool canRunTransport(TransportAction action) const = 0;
    virtual void runTransport(TransportAction action) = 0;
    // PLAY and PAUSE on their own (the media controls' Play and Pause).
    virtual void transportPlay() = 0;
    virtual void transportPause() = 0;
    // The position heard, and a jump to a position within the playable section.
    virtual qint64 transportPosition() = 0;
    virtual void transportSeek(qint64 milliseconds) = 0;
    // On to the next recording of the list, playing on when it was playing; stops
    // when there is none (a seek past the end).
    virtual void transportNextRecording() = 0;
    virtual double transportRate() const = 0;
    virtual void setTransportRate(double rate) = 0;
    // The panel's volume, 0 (silent) to 1 (its top); written, clamped to that range.
    virtual double transportVolume() const = 0;
    virtual void setTransportVolume(double volume) = 0;
    virtual TransportTrack transportTrack() const = 0;
    // Skip sizes, rewind on resume, the replay's length and the speed step.
    virtual void applyTransportSettings(const TransportSettings& settings) = 0;
};
