#pragma once

#include "TransportSettings.h"

#include <QObject>
#include <QPointer>

class PedalReader;
class PedalWatcher;
class TransportTarget;
struct PedalLayout;

// The foot pedals as transport commands: each pedal runs the action bound to it
// when it goes down; "play while held" plays while it is down and pauses when it
// comes up (the next PLAY then goes back by the rewind on resume). Reads the
// device given in the settings, or the first known pedal that udev finds.
class PedalInput : public QObject
{
    Q_OBJECT

public:
    explicit PedalInput(QObject* parent = nullptr);
    ~PedalInput() override;

    void setTarget(TransportTarget* target) { m_target = target; }
    // The bindings and the device; a device given by path is read at once, else udev is asked.
    void apply(const TransportSettings& settings);
    PedalReader& reader() const { return *m_reader; }

Q_SIGNALS:
    void pedalConnected(const QString& path);
    void pedalDisconnected();

private:
    void onPedal(int pedal, bool down);
    void openDevice(const QString& path, const PedalLayout& layout);
    void onDisconnected();

    TransportTarget* m_target = nullptr;
    TransportSettings m_settings;
    PedalReader* m_reader;
    PedalWatcher* m_watcher = nullptr;
};
