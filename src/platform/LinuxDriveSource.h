#pragma once

#include "DriveSource.h"
#include "Sysfs.h"

class QSocketNotifier;

// The mounted volumes of removable, USB or SD/MMC block devices, in the order
// of their mount paths. The mount table and sysfs are read from the given
// places (the real ones by default, fake ones in tests).
class LinuxDriveSource final : public DriveSource
{
    Q_OBJECT

public:
    explicit LinuxDriveSource(QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"),
                              QString sysfsRoot = QStringLiteral("/sys"), QObject* parent = nullptr);
    ~LinuxDriveSource() override;

    QList<DriveInfo> drives() override;
    // The kernel marks the mount table file when a file system is mounted or
    // unmounted; a notifier on it wakes the source.
    void startWatching() override;
    bool isSimulated() const override { return false; }
    bool removeDrive(const QString&) override { return false; }

private:
    QString m_mountInfoPath;
    Sysfs m_sysfs;
    int m_watchFd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
