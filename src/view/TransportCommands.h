#pragma once

#include "transport/TransportSettings.h"
#include "transport/TransportTarget.h"

#include <QObject>
#include <QPointer>
#include <functional>

class CommandSet;
class PedalInput;
class RecordingPanel;
class TransportTarget;
class QWidget;

// The playback menu's commands: each runs its action on the control panel in
// place, with the keys the user bound; "再生の設定" edits the keys, skips,
// rewind, replay, speed step and pedals, and hands them to the panel.
class TransportCommands : public QObject
{
    Q_OBJECT

public:
    TransportCommands(CommandSet& commands, QWidget* window);

    // The panel in place changed (none: nothing plays).
    void follow(RecordingPanel* panel);
    TransportTarget* target() const { return m_target; }
    const TransportSettings& settings() const { return m_settings; }
    PedalInput& pedals() const { return *m_pedals; }
    // Bit a set: the panel would carry out transport action a now.
    uint32_t allowedActions() const;
    // Enter or a double-click on a row: plays the recording it loaded.
    void playRow();
    // Stores new settings and hands them on; false (with the message shown) when they
    // could not be written.
    bool applySettings(const TransportSettings& settings);
    void OnTransportSettings();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    // The panel's state changed: the commands' enable rules are due.
    void stateChanged();
    void targetChanged(TransportTarget* target);
    void settingsChanged(const TransportSettings& settings);

private:
    CommandSet& m_commands;
    QWidget* m_window;
    TransportTarget* m_target = nullptr;
    QList<QMetaObject::Connection> m_connections;
    TransportSettings m_settings;
    PedalInput* m_pedals;
};
