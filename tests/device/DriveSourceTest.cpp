#include "CardBuilder.h"
#include "FakeSysfs.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "device/CardRemoval.h"
#include "device/DriveWatcher.h"
#include "device/Drives.h"
#include "platform/LinuxDriveSource.h"
#include "platform/MountTable.h"
#include "platform/SimulatedDriveSource.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/mount.h>

namespace {

const QByteArray kMountInfo =
    "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
    "28 1 259:1 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p1 rw\n"
    "90 28 8:33 / /media/user/CARD\\040READER rw,nosuid shared:40 - vfat /dev/sdc1 rw,uid=1000\n"
    "91 28 8:17 / /media/user/TALVEN rw,nosuid shared:41 - vfat /dev/sdb1 rw,uid=1000\n"
    "92 28 8:17 /sub /mnt/bind rw,nosuid shared:41 - vfat /dev/sdb1 rw,uid=1000\n"
    "93 28 179:1 / /media/user/SD rw,nosuid - exfat /dev/mmcblk0p1 rw\n"
    "94 28 8:17 / /media/user/AGAIN rw,nosuid - vfat /dev/sdb1 rw\n"
    "95 28 0:41 / /tmp/ram rw - tmpfs none rw\n"
    "garbage line\n";

void writeDriveList(const QString& path, const QStringList& lines)
{
    QVERIFY(WriteFileBytes(path, lines.join(u'\n').toUtf8() + '\n'));
}

} // namespace

class DriveSourceTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void cleanup()
    {
        SetDriveSource(nullptr);
    }

    void parsesTheMountTable()
    {
        const QList<MountEntry> mounts = ParseMountInfo(kMountInfo);
        QCOMPARE(mounts.size(), 8);
        QCOMPARE(mounts[2].major, 8);
        QCOMPARE(mounts[2].minor, 33);
        QCOMPARE(mounts[2].mountPoint, QStringLiteral("/media/user/CARD READER"));
        QCOMPARE(mounts[2].fileSystem, QStringLiteral("vfat"));
        QCOMPARE(mounts[2].source, QStringLiteral("/dev/sdc1"));
        QCOMPARE(mounts[4].root, QStringLiteral("/sub"));
    }

    void linuxSourceListsRemovableVolumes()
    {
        const QString sysfs = m_dir.filePath(QStringLiteral("sys"));
        QVERIFY(WriteFakeSysfs(sysfs));
        const QString mountInfo = m_dir.filePath(QStringLiteral("mountinfo"));
        QVERIFY(WriteFileBytes(mountInfo, kMountInfo));
        LinuxDriveSource source(mountInfo, sysfs);
        const QList<DriveInfo> drives = source.drives();

        QStringList roots;
        for (const DriveInfo& drive : drives)
            roots.append(drive.root);
        // Mount-path order; the fixed disk, the bind mount, the second mount of
        // the same volume and file systems without a block device are left out.
        QCOMPARE(roots, (QStringList{"/media/user/CARD READER", "/media/user/SD", "/media/user/TALVEN"}));
        QCOMPARE(drives[0].deviceNode, QStringLiteral("/dev/sdc1"));
        QVERIFY(!drives[0].recorder); // same product id, other vendor
        QVERIFY(!drives[1].recorder);
        QVERIFY(drives[2].recorder);
        QVERIFY(drives[2].sysfsPath.endsWith(QStringLiteral("/block/sdb/sdb1")));

        SetDriveSource(&source);
        QCOMPARE(ListDrives(), roots);
        QVERIFY(IsRecorderDrive(QStringLiteral("/media/user/TALVEN")));
        QVERIFY(!IsRecorderDrive(QStringLiteral("/media/user/SD")));
        QVERIFY(!IsRecorderDrive(QStringLiteral("/media/user/NONE")));
        QVERIFY(!EjectRemovableDrive(QStringLiteral("/media/user/NONE")));
    }

    void linuxSourceWakesOnAMountChange()
    {
        const QString target = m_dir.filePath(QStringLiteral("mnt"));
        QDir().mkpath(target);
        LinuxDriveSource source;
        DriveWatcher watcher(source);
        QSignalSpy changed(&source, &DriveSource::changed);
        if (::mount("none", QFile::encodeName(target).constData(), "tmpfs", 0, nullptr) != 0)
            QSKIP("mounting needs root");
        QVERIFY(changed.wait(5000));
        ::umount(QFile::encodeName(target).constData());
        QTRY_VERIFY_WITH_TIMEOUT(changed.size() >= 2, 5000);
    }

    void simulatedDrivesArriveAndLeave()
    {
        const QString recorder = m_dir.filePath(QStringLiteral("recorder"));
        const QString card = m_dir.filePath(QStringLiteral("card"));
        QDir().mkpath(recorder);
        QDir().mkpath(card);
        const QString list = m_dir.filePath(QStringLiteral("sim/drives.txt"));
        writeDriveList(list, {QStringLiteral("card ") + card + u'/', QStringLiteral("card /no/such/folder"),
                              QStringLiteral("# a comment")});

        SimulatedDriveSource source(list);
        SetDriveSource(&source);
        DriveWatcher watcher(source);
        QCOMPARE(watcher.drives(), QStringList{card});
        QSignalSpy arrived(&watcher, &DriveWatcher::arrived);
        QSignalSpy removed(&watcher, &DriveWatcher::removed);

        writeDriveList(list, {QStringLiteral("card ") + card, QStringLiteral("usb ") + recorder});
        QTRY_COMPARE_WITH_TIMEOUT(arrived.size(), 1, 5000);
        QCOMPARE(arrived[0][0].toString(), recorder);
        QCOMPARE(ListDrives(), (QStringList{card, recorder}));
        QVERIFY(IsRecorderDrive(recorder));
        QVERIFY(!IsRecorderDrive(card));

        // Ejecting the simulated card removes its line.
        QVERIFY(EjectRemovableDrive(card));
        QTRY_COMPARE_WITH_TIMEOUT(removed.size(), 1, 5000);
        QCOMPARE(removed[0][0].toString(), card);
        QCOMPARE(ListDrives(), QStringList{recorder});
        QVERIFY(!EjectRemovableDrive(card));

        // The file replaced as a whole, then deleted.
        QFile::remove(list);
        QTRY_COMPARE_WITH_TIMEOUT(removed.size(), 2, 5000);
        QCOMPARE(removed[1][0].toString(), recorder);
        writeDriveList(list, {QStringLiteral("usb ") + recorder});
        QTRY_COMPARE_WITH_TIMEOUT(arrived.size(), 2, 5000);
    }
};

TALVEN77_REGISTER_TEST(DriveSourceTest);
#include "DriveSourceTest.moc"
