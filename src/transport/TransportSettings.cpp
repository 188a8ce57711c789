#include "TransportSettings.h"

#include "platform/ProgramIdentity.h"
#include "platform/SettingsNumber.h"

#include <QList>
#include <cmath>

namespace {

const QString kGroup = QStringLiteral("Transport");
const QString kPedalNames[] = {QStringLiteral("LeftPedal"), QStringLiteral("MiddlePedal"),
                               QStringLiteral("RightPedal")};

bool sameKey(const QString& a, const QString& b)
{
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

TransportSettings::TransportSettings()
{
    for (int i = 0; i < kKeyedActionCount; ++i)
        keys[size_t(i)] = DefaultTransportKey(TransportAction(i));
}

TransportSettings TransportSettings::Load()
{
    TransportSettings loaded;
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kGroup);
    loaded.backSkipSeconds =
        SettingsInt(*settings, QStringLiteral("BackSkip"), loaded.backSkipSeconds, kMinSkip, kMaxSkip);
    loaded.forwardSkipSeconds = SettingsInt(*settings, QStringLiteral("ForwardSkip"),
                                        loaded.forwardSkipSeconds, kMinSkip, kMaxSkip);
    loaded.rewindOnResumeSeconds = SettingsInt(*settings, QStringLiteral("RewindOnResume"),
                                           loaded.rewindOnResumeSeconds, 0, kMaxRewind);
    loaded.replaySeconds = SettingsInt(*settings, QStringLiteral("ReplayLength"), loaded.replaySeconds,
                                   kMinReplay, kMaxReplay);
    // Hundredths, so that the file holds an exact number.
    const int step = SettingsInt(*settings, QStringLiteral("SpeedStep"), 10, 5, 10);
    loaded.speedStep = step == 5 ? 0.05 : 0.1;
    for (int i = 0; i < kKeyedActionCount; ++i) {
        const QString name = QStringLiteral("Keys/") + TransportActionKey(TransportAction(i));
        if (settings->contains(name))
            loaded.keys[size_t(i)] = settings->value(name).toString().trimmed();
    }
    for (int i = 0; i < kPedalCount; ++i) {
        if (!settings->contains(kPedalNames[i]))
            continue;
        const QString name = settings->value(kPedalNames[i]).toString();
        const TransportAction action = TransportActionFromKey(name);
        if (action != TransportAction::None || name == TransportActionKey(TransportAction::None))
            loaded.pedals[size_t(i)] = action;
    }
    loaded.pedalDevice = settings->value(QStringLiteral("PedalDevice")).toString();
    // A file edited by hand that gives one key to two actions keeps the first.
    for (int i = 0; i < kKeyedActionCount; ++i) {
        for (int j = 0; j < i; ++j) {
            if (sameKey(loaded.keys[size_t(i)], loaded.keys[size_t(j)]))
                loaded.keys[size_t(i)].clear();
        }
    }
    return loaded;
}

bool TransportSettings::Save() const
{
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kGroup);
    settings->setValue(QStringLiteral("BackSkip"), backSkipSeconds);
    settings->setValue(QStringLiteral("ForwardSkip"), forwardSkipSeconds);
    settings->setValue(QStringLiteral("RewindOnResume"), rewindOnResumeSeconds);
    settings->setValue(QStringLiteral("ReplayLength"), replaySeconds);
    settings->setValue(QStringLiteral("SpeedStep"), int(std::lround(speedStep * 100)));
    for (int i = 0; i < kKeyedActionCount; ++i)
        settings->setValue(QStringLiteral("Keys/") + TransportActionKey(TransportAction(i)),
                           keys[size_t(i)]);
    for (int i = 0; i < kPedalCount; ++i)
        settings->setValue(kPedalNames[i], TransportActionKey(pedals[size_t(i)]));
    if (pedalDevice.isEmpty())
        settings->remove(QStringLiteral("PedalDevice"));
    else
        settings->setValue(QStringLiteral("PedalDevice"), pedalDevice);
    settings->endGroup();
    return SyncSettings(*settings);
}

TransportAction TransportSettings::actionOfKey(const QString& keyText) const
{
    for (int i = 0; i < kKeyedActionCount; ++i) {
        if (sameKey(keys[size_t(i)], keyText))
            return TransportAction(i);
    }
    return TransportAction::None;
}

QString TransportKeyConflict(const TransportSettings& settings, TransportAction action,
                             const QString& keyText,
                             const QList<std::pair<QString, QString>>& reserved)
{
    if (keyText.isEmpty())
        return {};
    QString holder;
    // Any other action with the key, also one listed before the action itself.
    for (int i = 0; i < kKeyedActionCount && holder.isEmpty(); ++i) {
        if (TransportAction(i) != action && sameKey(settings.keys[size_t(i)], keyText))
            holder = TransportActionText(TransportAction(i));
    }
    for (const auto& [command, key] : reserved) {
        if (holder.isEmpty() && sameKey(key, keyText))
            holder = command;
    }
    if (holder.isEmpty())
        return {};
    return QStringLiteral("キー「%1」は「%2」に使われています。別のキーを選んでください。")
        .arg(keyText, holder);
}
