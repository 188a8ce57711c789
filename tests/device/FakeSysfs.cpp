#include "FakeSysfs.h"

#include <QDir>
#include <QFile>

namespace {

bool writeAttribute(const QString& folder, const QString& name, const QByteArray& value)
{
    QDir().mkpath(folder);
    QFile file(folder + u'/' + name);
    return file.open(QIODevice::WriteOnly) && file.write(value + '\n') > 0;
}

// A disk with one partition below a device folder, linked from dev/block.
bool addDisk(const QString& root, const QString& deviceFolder, const QString& disk, const QString& partition,
             int major, int minor, bool removable)
{
    const QString diskFolder = root + QStringLiteral("/devices/") + deviceFolder + QStringLiteral("/block/") + disk;
    const QString partitionFolder = diskFolder + u'/' + partition;
    if (!writeAttribute(diskFolder, QStringLiteral("removable"), removable ? "1" : "0")
        || !writeAttribute(partitionFolder, QStringLiteral("partition"), "1"))
        return false;
    QDir().mkpath(root + QStringLiteral("/dev/block"));
    const QDir links(root + QStringLiteral("/dev/block"));
    return QFile::link(links.relativeFilePath(diskFolder), links.filePath(QStringLiteral("%1:%2").arg(major).arg(minor)))
           && QFile::link(links.relativeFilePath(partitionFolder),
                          links.filePath(QStringLiteral("%1:%2").arg(major).arg(minor + 1)));
}

} // namespace

bool WriteFakeSysfs(const QString& root)
{
    const QString recorderUsb = QStringLiteral("pci0000:00/0000:00:14.0/usb2/2-1");
    const QString readerUsb = QStringLiteral("pci0000:00/0000:00:14.0/usb2/2-2");
    return writeAttribute(root + QStringLiteral("/devices/") + recorderUsb, QStringLiteral("idVendor"), "5a17")
           && writeAttribute(root + QStringLiteral("/devices/") + recorderUsb, QStringLiteral("idProduct"), "0C93")
           && writeAttribute(root + QStringLiteral("/devices/") + readerUsb, QStringLiteral("idVendor"), "0bda")
           && writeAttribute(root + QStringLiteral("/devices/") + readerUsb, QStringLiteral("idProduct"), "0c93")
           && addDisk(root, recorderUsb + QStringLiteral("/2-1:1.0/host6/target6:0:0/6:0:0:0"), QStringLiteral("sdb"),
                      QStringLiteral("sdb1"), 8, 16, true)
           && addDisk(root, readerUsb + QStringLiteral("/2-2:1.0/host7/target7:0:0/7:0:0:0"), QStringLiteral("sdc"),
                      QStringLiteral("sdc1"), 8, 32, true)
           && addDisk(root, QStringLiteral("platform/soc/mmc_host/mmc0/mmc0:0001"), QStringLiteral("mmcblk0"),
                      QStringLiteral("mmcblk0p1"), 179, 0, false)
           && addDisk(root, QStringLiteral("pci0000:00/0000:00:1d.0/nvme/nvme0"), QStringLiteral("nvme0n1"),
                      QStringLiteral("nvme0n1p1"), 259, 0, false);
}
