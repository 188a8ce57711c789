#include "CardRemoval.h"

#include "platform/DriveSource.h"
#include "platform/PaintOnlyWait.h"
#include "platform/UDisks2.h"

bool EjectThroughUDisks(UDisksApi& udisks, const QString& deviceNode, const EjectWait& wait)
{
    const QString block = udisks.blockObject(deviceNode);
    if (block.isEmpty())
        return false;
    bool unmounted = false;
    for (int attempt = 1; attempt <= kEjectAttempts; ++attempt) {
        const UDisksApi::Outcome outcome = udisks.unmount(block, nullptr);
        if (outcome == UDisksApi::Outcome::Done || outcome == UDisksApi::Outcome::NotMounted) {
            unmounted = true;
            break;
        }
        if (outcome != UDisksApi::Outcome::Busy)
            break;
        if (attempt < kEjectAttempts)
            wait(kEjectRetryMs);
    }
    if (!unmounted)
        return false;
    const QString drive = udisks.driveObject(block);
    if (!drive.isEmpty()) {
        if (udisks.canEject(drive))
            udisks.eject(drive);
        else if (udisks.canPowerOff(drive))
            udisks.powerOff(drive);
    }
    return true;
}

bool EjectRemovableDrive(const QString& drive)
{
    DriveSource& source = CurrentDriveSource();
    const auto info = source.find(drive);
    if (!info || !info->removable)
        return false;
    if (source.isSimulated())
        return source.removeDrive(drive);
    const auto udisks = CreateSystemUDisks();
    return EjectThroughUDisks(*udisks, info->deviceNode, waitPaintingOnly);
}
