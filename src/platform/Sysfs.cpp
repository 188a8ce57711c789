#include "Sysfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Calls visit for the folder and each parent folder below root/devices.
template<typename Visit>
void forEachDeviceFolder(const QString& root, const QString& start, Visit visit)
{
    const QString devices = QFileInfo(root + QStringLiteral("/devices")).canonicalFilePath();
    if (devices.isEmpty())
        return;
    for (QString folder = start; folder.startsWith(devices + u'/');) {
        if (visit(folder))
            return;
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return;
        folder = parent;
    }
}

} // namespace

QString Sysfs::readAttribute(const QString& folder, const char* name) const
{
    QFile file(folder + u'/' + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.read(256)).trimmed();
}

std::optional<Sysfs::BlockDevice> Sysfs::blockDevice(int major, int minor) const
{
    const QString link = m_root + QStringLiteral("/dev/block/%1:%2").arg(major).arg(minor);
    const QString path = QFileInfo(link).canonicalFilePath();
    if (path.isEmpty())
        return std::nullopt;
    BlockDevice device;
    device.path = path;
    device.name = QFileInfo(path).fileName();
    // A partition's own folder sits inside its disk's folder.
    const QString disk = QFile::exists(path + QStringLiteral("/partition")) ? QFileInfo(path).path() : path;
    device.removable = readAttribute(disk, "removable") == QStringLiteral("1");
    forEachDeviceFolder(m_root, QFileInfo(disk).path(), [&](const QString& folder) {
        if (QFile::exists(folder + QStringLiteral("/idVendor")))
            device.usb = true;
        if (QFileInfo(folder).fileName().startsWith(QStringLiteral("mmc")))
            device.mmc = true;
        return false;
    });
    return device;
}

bool Sysfs::hasUsbAncestor(const QString& devicePath, const QString& vendor, const QString& product) const
{
    bool found = false;
    forEachDeviceFolder(m_root, devicePath, [&](const QString& folder) {
        found = readAttribute(folder, "idVendor").compare(vendor, Qt::CaseInsensitive) == 0
                && readAttribute(folder, "idProduct").compare(product, Qt::CaseInsensitive) == 0;
        return found;
    });
    return found;
}
