#pragma once

#include <QString>
#include <array>

// What the keyboard, a foot pedal, the playback menu and the desktop's media
// controls ask of the control panel. The order is the menu's order, and the keyed
// actions' order that of the playback commands (TransportCommand).
enum class TransportAction
{
    PlayPause,
    Stop,
    StepBack,
    StepForward,
    PreviousIndex,
    NextIndex,
    Replay,
    Faster,
    Slower,
    NormalSpeed,
    // A pedal's own: plays while the pedal is held, pauses when it is let go.
    PlayWhileHeld,
    None,
};
inline constexpr int kKeyedActionCount = int(TransportAction::NormalSpeed) + 1;

// The name an action is stored under in the settings file.
QString TransportActionKey(TransportAction action);
// The action stored under a name; None for a name that is no action.
TransportAction TransportActionFromKey(const QString& key);
// The action's text in menus and in the settings dialog.
QString TransportActionText(TransportAction action);
// The key an action has until the user binds another (portable key text).
QString DefaultTransportKey(TransportAction action);
// The action's entry in the playback menu, with its access letter ("停止(&S)");
// empty for an action that has no entry.
QString TransportActionMenuText(TransportAction action);
// What the status bar says of the action's menu entry.
QString TransportActionPrompt(TransportAction action);
// The playback menu puts a separator before an action that starts a group.
bool TransportActionStartsGroup(TransportAction action);
