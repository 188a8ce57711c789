#include "TransportAction.h"

namespace {

struct ActionEntry
{
    TransportAction action;
    const char* key;
    const char* text;
    const char* defaultKey;
};

constexpr ActionEntry kEntries[] = {
    {TransportAction::PlayPause, "PlayPause", "再生/一時停止", "Space"},
    {TransportAction::Stop, "Stop", "停止", "F4"},
    {TransportAction::StepBack, "StepBack", "戻る", "Ctrl+Left"},
    {TransportAction::StepForward, "StepForward", "進む", "Ctrl+Right"},
    {TransportAction::PreviousIndex, "PreviousIndex", "前のインデックス", "Ctrl+PgUp"},
    {TransportAction::NextIndex, "NextIndex", "次のインデックス", "Ctrl+PgDown"},
    {TransportAction::Replay, "Replay", "直前を再生", "Ctrl+R"},
    {TransportAction::Faster, "Faster", "速く", "Ctrl+Shift+Up"},
    {TransportAction::Slower, "Slower", "遅く", "Ctrl+Shift+Down"},
    {TransportAction::NormalSpeed, "NormalSpeed", "標準の速さ", "Ctrl+0"},
    {TransportAction::PlayWhileHeld, "PlayWhileHeld", "押している間再生", ""},
    {TransportAction::None, "None", "なし", ""},
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
