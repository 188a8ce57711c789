#include "LinuxDriveSource.h"

#include "MountTable.h"

#include <QFile>
#include <QSet>
#include <QSocketNotifier>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kRecorderVendor = QStringLiteral("5a17");
const QString kRecorderProduct = QStringLiteral("0c93");

} // namespace

LinuxDriveSource::LinuxDriveSource(QString mountInfoPath, QString sysfsRoot, QObject* parent)
    : DriveSource(parent), m_mountInfoPath(std::move(mountInfoPath)), m_sysfs(std::move(sysfsRoot))
{
}

LinuxDriveSource::~LinuxDriveSource()
{
    delete m_notifier;
    if (m_watchFd >= 0)
        ::close(m_watchFd);
}

QList<DriveInfo> LinuxDriveSource::drives()
{
    QFile file(m_mountInfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<MountEntry> mounts = ParseMountInfo(file.readAll());
    QList<DriveInfo> result;
    QSet<QString> seenDevices, seenMountPoints;
    for (const MountEntry& mount : mounts) {
        // Only whole file systems of block devices; a bind mount of a folder is no drive.
        if (mount.major == 0 || mount.root != QStringLiteral("/"))
            continue;
        const auto device = m_sysfs.blockDevice(mount.major, mount.minor);
        if (!device || !(device->removable || device->usb || device->mmc))
            continue;
        // A volume mounted twice counts once, at its first mount point.
        if (seenDevices.contains(device->path) || seenMountPoints.contains(mount.mountPoint))
            continue;
        seenDevices.insert(device->path);
        seenMountPoints.insert(mount.mountPoint);
        DriveInfo drive;
        drive.root = mount.mountPoint;
        drive.deviceNode = mount.source.startsWith(QStringLiteral("/dev/"))
                               ? mount.source
                               : QStringLiteral("/dev/") + device->name;
        drive.sysfsPath = device->path;
        drive.removable = true;
        drive.recorder = m_sysfs.hasUsbAncestor(device->path, kRecorderVendor, kRecorderProduct);
        result.append(drive);
    }
    std::sort(result.begin(), result.end(),
              [](const DriveInfo& a, const DriveInfo& b) { return a.root < b.root; });
    return result;
}

void LinuxDriveSource::startWatching()
{
    if (m_notifier)
        return;
    m_watchFd = ::open(QFile::encodeName(m_mountInfoPath).constData(), O_RDONLY | O_CLOEXEC);
    if (m_watchFd < 0)
        return;
    m_notifier = new QSocketNotifier(m_watchFd, QSocketNotifier::Exception);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        // Reading the table again re-arms the notification.
        char buffer[4096];
        ::lseek(m_watchFd, 0, SEEK_SET);
        while (::read(m_watchFd, buffer, sizeof buffer) > 0) {
        }
        Q_EMIT changed();
    });
}
