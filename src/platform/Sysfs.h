#pragma once

#include <QString>
#include <optional>

// What sysfs tells about the block device behind a volume. The root is /sys on
// a real system and a folder of fake entries in tests.
class Sysfs
{
public:
    explicit Sysfs(QString root = QStringLiteral("/sys")) : m_root(std::move(root)) {}

    struct BlockDevice
    {
        QString path;      // the device's folder, links resolved
        QString name;      // sdb1, mmcblk0p1
        bool removable = false; // the disk reports removable media
        bool usb = false;       // on a USB device
        bool mmc = false;       // on an SD/MMC host
    };
    std::optional<BlockDevice> blockDevice(int major, int minor) const;

    // True when the device or one of its ancestors is a USB device with these
    // vendor and product ids (four hex digits, any case).
    bool hasUsbAncestor(const QString& devicePath, const QString& vendor, const QString& product) const;

private:
    QString readAttribute(const QString& folder, const char* name) const;

    QString m_root;
};
