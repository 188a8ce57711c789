#include "Drives.h"

#include "platform/DriveSource.h"
#include "platform/MessageBoxes.h"
#include "platform/Paths.h"
#include "platform/SystemErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr uint64_t kMiB = 1048576;

FreeSpaceFigures queryStatvfs(const QString& path)
{
    // A destination folder may not exist yet: ask about its nearest existing parent.
    QString existing = path;
    while (!existing.isEmpty() && !QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(RemoveTrailingSeparator(existing)).path();
        if (parent == existing)
            break;
        existing = parent;
    }
    struct statvfs figures {};
    if (statvfs(QFile::encodeName(existing.isEmpty() ? path : existing).constData(), &figures) != 0)
        return {0, 0, errno};
    return {uint64_t(figures.f_bavail) * figures.f_frsize, uint64_t(figures.f_blocks) * figures.f_frsize, 0};
}

FreeSpaceQuery& freeSpaceQuery()
{
    static FreeSpaceQuery query = queryStatvfs;
    return query;
}

} // namespace

QStringList ListDrives()
{
    QStringList roots;
    for (const DriveInfo& drive : CurrentDriveSource().drives())
        roots.append(drive.root);
    return roots;
}

bool IsRecorderDrive(const QString& drive)
{
    const auto info = CurrentDriveSource().find(drive);
    return info && info->recorder;
}

bool IsFolderWritable(const QString& folder)
{
    const QByteArray probe =
        QFile::encodeName(AddTrailingSeparator(folder) + QStringLiteral("Protect.tmp"));
    // An entry of that name is replaced by removing the entry itself: opening it
    // would follow a link and could truncate or create whatever it points to. A
    // folder of that name cannot be removed, and the folder then counts as not
    // writable.
    ::unlink(probe.constData());
    const int fd =
        ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.constData());
    return true;
}

void SetFreeSpaceQuery(FreeSpaceQuery query)
{
    freeSpaceQuery() = query ? std::move(query) : FreeSpaceQuery(queryStatvfs);
}

bool HasEnoughFreeSpace(const QString& path)
{
    const FreeSpaceFigures figures = freeSpaceQuery()(path);
    if (figures.error != 0) {
        ShowMessage(SystemErrorText(figures.error), MessageIcon::Error);
        return true;
    }
    const uint64_t freeMiB = figures.freeBytes / kMiB;
    const uint64_t totalMiB = figures.totalBytes / kMiB;
    return freeMiB >= (totalMiB <= 2048 ? 50u : 500u);
}

QString NotEnoughFreeSpaceMessage()
{
    return QStringLiteral("ドライブの空き容量が少なくなっているため処理を中止します。空き容量を増やしてください。");
}

bool FolderExists(const QString& path)
{
    const QString name = LastPathComponent(path);
    if (name == QStringLiteral(".") || name == QStringLiteral(".."))
        return false;
    return QFileInfo(path).isDir();
}
