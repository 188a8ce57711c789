#include "DeviceNameRegister.h"

#include "platform/ProgramIdentity.h"
#include "platform/SettingsNumber.h"
#include "recording/RecorderIdentity.h"

#include <algorithm>

namespace {

const QString kSection = QStringLiteral("DeviceName");

QString itemNo(int i)
{
    return QStringLiteral("ItemNo%1").arg(i);
}

QString itemName(int i)
{
    return QStringLiteral("ItemName%1").arg(i);
}

} // namespace

std::vector<tag_DEVICE_NAME> ReadDeviceNameRegister()
{
    std::vector<tag_DEVICE_NAME> entries;
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kSection);
    const int count = std::min(SettingsInt(*settings, QStringLiteral("Count"), 0, 0), kRecorderNameRegisterCapacity);
    for (int i = 1; i <= count; ++i) {
        const QString number = settings->value(itemNo(i)).toString();
        if (!number.isEmpty())
            entries.push_back({number, settings->value(itemName(i)).toString()});
    }
    return entries;
}

bool WriteDeviceNameRegister(const std::vector<tag_DEVICE_NAME>& entries)
{
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kSection);
    settings->setValue(QStringLiteral("Count"), int(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        settings->setValue(itemNo(int(i) + 1), entries[i].strNumber);
        settings->setValue(itemName(int(i) + 1), entries[i].strName);
    }
    return SyncSettings(*settings);
}
