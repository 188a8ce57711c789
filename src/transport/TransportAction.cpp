#include "TransportAction.h"

namespace {

// One row per action: everything the settings, the keys and the playback menu know of it.
struct ActionEntry
{
    TransportAction action;
    const char* key;
    const char* text;
    char accessLetter; // the menu entry's access letter (0: no menu entry)
    const char* prompt; // the status bar's text of the menu entry
    const char* defaultKey;
    bool startsGroup = false; // the menu puts a separator before it
};

constexpr ActionEntry kEntries[] = {
    {TransportAction::PlayPause, "PlayPause", "再生/一時停止", 'P', "選択中の音声ファイルを再生、または一時停止します。",
     "Space"},
    {TransportAction::Stop, "Stop", "停止", 'S', "再生を停止します。", "F4"},
    {TransportAction::StepBack, "StepBack", "戻る", 'B', "設定した秒数だけ戻ります。", "Ctrl+Left", true},
    {TransportAction::StepForward, "StepForward", "進む", 'F', "設定した秒数だけ進みます。", "Ctrl+Right"},
    {TransportAction::PreviousIndex, "PreviousIndex", "前のインデックス", 'U', "前のインデックスに移ります。",
     "Ctrl+PgUp"},
    {TransportAction::NextIndex, "NextIndex", "次のインデックス", 'D', "次のインデックスに移ります。", "Ctrl+PgDown"},
    {TransportAction::Replay, "Replay", "直前を再生", 'R', "直前の数秒をもう一度再生し、そのまま再生を続けます。",
     "Ctrl+R"},
    {TransportAction::Faster, "Faster", "速く", 'H', "再生速度を一段階速くします。", "Ctrl+Shift+Up", true},
    {TransportAction::Slower, "Slower", "遅く", 'L', "再生速度を一段階遅くします。", "Ctrl+Shift+Down"},
    {TransportAction::NormalSpeed, "NormalSpeed", "標準の速さ", 'N', "標準の速さで再生します。", "Ctrl+0"},
    {TransportAction::PlayWhileHeld, "PlayWhileHeld", "押している間再生", 0, "", ""},
    {TransportAction::None, "None", "なし", 0, "", ""},
};

const ActionEntry& entryOf(TransportAction action)
{
    for (const ActionEntry& entry : kEntries) {
        if (entry.action == action)
            return entry;
    }
    return kEntries[std::size(kEntries) - 1];
}

} // namespace

QString TransportActionKey(TransportAction action)
{
    return QString::fromLatin1(entryOf(action).key);
}

TransportAction TransportActionFromKey(const QString& key)
{
    for (const ActionEntry& entry : kEntries) {
        if (key == QLatin1String(entry.key))
            return entry.action;
    }
    return TransportAction::None;
}

QString TransportActionText(TransportAction action)
{
    return QString::fromUtf8(entryOf(action).text);
}

QString DefaultTransportKey(TransportAction action)
{
    return QString::fromLatin1(entryOf(action).defaultKey);
}

QString TransportActionMenuText(TransportAction action)
{
    const ActionEntry& entry = entryOf(action);
    if (!entry.accessLetter)
        return {};
    return QString::fromUtf8(entry.text) + QStringLiteral("(&") + QLatin1Char(entry.accessLetter) + u')';
}

QString TransportActionPrompt(TransportAction action)
{
    return QString::fromUtf8(entryOf(action).prompt);
}

bool TransportActionStartsGroup(TransportAction action)
{
    return entryOf(action).startsGroup;
}
