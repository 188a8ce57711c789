#include "Commands.h"
#include "JsonLines.h"
#include "device/Drives.h"
#include "recording/RecorderIdentity.h"

int RunDrives(const QStringList& arguments)
{
    if (!arguments.isEmpty()) {
        PrintError(QStringLiteral("usage: drives"));
        return 2;
    }
    for (const QString& drive : ListDrives()) {
        const uint16_t number = ReadRecorderNumber(drive);
        PrintJsonLine({{QStringLiteral("drive"), drive},
                       {QStringLiteral("recorder"), IsRecorderDrive(drive)},
                       {QStringLiteral("number"), int(number)},
                       {QStringLiteral("writable"),
                        number != 0 ? QJsonValue(IsFolderWritable(RecorderFolderPath(drive, number)))
                                    : QJsonValue()},
                       {QStringLiteral("enoughSpace"), HasEnoughFreeSpace(drive)}});
    }
    return 0;
}
