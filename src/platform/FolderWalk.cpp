#include "FolderWalk.h"

#include "FileCalls.h"
#include "FolderMemo.h"

#include <QFile>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace FileCalls;

namespace {

// The first boundary below the folder open as fd (whose path is path), depth first.
QByteArray findMountRoot(int fd, const QByteArray& path, dev_t topDev)
{
    Entries entries;
    readEntries(fd, entries);
    for (const auto& [name, type] : entries) {
        if (!isFolderEntry(fd, name, type))
            continue;
        if (isBoundary(fd, name, topDev))
            return path + '/' + name;
        const int child = openRetrying(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0)
            continue;
        const QByteArray found = findMountRoot(child, path + '/' + name, topDev);
        ::close(child);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

// Removes everything in the folder open as fd (taken over) without following links
// or entering another file system (EXDEV): fd's tree lies on device topDev.
int removeContents(int fd, dev_t topDev)
{
    const auto closeFolder = qScopeGuard([fd] { ::close(fd); });
    // Read first: entries removed while reading may make readdir skip others.
    Entries entries;
    if (const int error = readEntries(fd, entries))
        return error;
    for (const auto& [name, type] : entries) {
        bool isFolder = type == DT_DIR;
        if (type == DT_UNKNOWN) {
            struct stat entryStat {};
            if (::fstatat(fd, name.constData(), &entryStat, AT_SYMLINK_NOFOLLOW) != 0)
                return errno;
            isFolder = S_ISDIR(entryStat.st_mode);
        }
        if (isFolder) {
            if (isBoundary(fd, name, topDev))
                return EXDEV;
            const int child = openRetrying(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0)
                return errno;
            if (const int error = removeContents(child, topDev))
                return error;
        }
        if (::unlinkat(fd, name.constData(), isFolder ? AT_REMOVEDIR : 0) != 0)
            return errno;
    }
    return 0;
}

} // namespace

int FileCalls::readEntries(int fd, Entries& entries, bool (*keep)(const char* name, unsigned char type))
{
    const int copy = ::dup(fd);
    if (copy < 0)
        return errno;
    DIR* folder = ::fdopendir(copy);
    if (!folder) {
        const int error = errno;
        ::close(copy);
        return error;
    }
    const auto closeFolder = qScopeGuard([folder] { ::closedir(folder); });
    ::rewinddir(folder);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder);
        if (!entry)
            break;
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0
            && (!keep || keep(entry->d_name, entry->d_type)))
            entries.emplace_back(QByteArray(entry->d_name), entry->d_type);
    }
    return errno;
}

bool FileCalls::isFolderEntry(int folderFd, const QByteArray& name, unsigned char type)
{
    if (type != DT_UNKNOWN)
        return type == DT_DIR;
    struct stat entryStat {};
    return ::fstatat(folderFd, name.constData(), &entryStat, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(entryStat.st_mode);
}

bool FileCalls::isBoundary(int folderFd, const QByteArray& path, dev_t topDev)
{
    constexpr int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
    struct statx entry {};
    if (::statx(folderFd, path.constData(), flags, STATX_BASIC_STATS | STATX_MNT_ID, &entry) != 0)
        return false;
    if (makedev(entry.stx_dev_major, entry.stx_dev_minor) != topDev)
        return true;
    if (entry.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        return (entry.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    struct statx parent {};
    if (::statx(folderFd, (path + "/..").constData(), flags, STATX_BASIC_STATS | STATX_MNT_ID, &parent) != 0)
        return false;
    if (entry.stx_mask & parent.stx_mask & STATX_MNT_ID)
        return entry.stx_mnt_id != parent.stx_mnt_id;
    return entry.stx_dev_major != parent.stx_dev_major || entry.stx_dev_minor != parent.stx_dev_minor;
}

FileResult RemoveFile(const QString& path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return lastError();
    return {};
}

FileResult RemoveFolderTree(const QString& path)
{
    // A trailing slash would make lstat and open follow a link to a folder.
    const QByteArray nativePath = withoutTrailingSlashes(QFile::encodeName(path));
    struct stat pathStat {};
    if (::lstat(nativePath.constData(), &pathStat) != 0)
        return lastError();
    if (S_ISLNK(pathStat.st_mode))
        return ::unlink(nativePath.constData()) == 0 ? FileResult{} : lastError();
    if (!S_ISDIR(pathStat.st_mode))
        return result(ENOTDIR);
    if (!FindMountPoint(path).isEmpty())
        return result(EXDEV);
    const int fd = openRetrying(AT_FDCWD, nativePath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return lastError();
    if (const int error = removeContents(fd, pathStat.st_dev))
        return result(error);
    if (::rmdir(nativePath.constData()) != 0)
        return lastError();
    return {};
}

QString FindMountPoint(const QString& folder)
{
    const QByteArray nativePath = withoutTrailingSlashes(QFile::encodeName(folder));
    struct stat pathStat {};
    if (::lstat(nativePath.constData(), &pathStat) != 0 || !S_ISDIR(pathStat.st_mode))
        return {};
    if (isBoundary(AT_FDCWD, nativePath, pathStat.st_dev))
        return QFile::decodeName(nativePath);
    const int fd = openRetrying(AT_FDCWD, nativePath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    const QByteArray found = findMountRoot(fd, nativePath, pathStat.st_dev);
    ::close(fd);
    return QFile::decodeName(found);
}

bool IsFileSystemBoundary(const QByteArray& nativePath, dev_t topDev)
{
    return isBoundary(AT_FDCWD, nativePath, topDev);
}

QList<QByteArray> SubfolderNames(int fd, const QByteArray& key)
{
    QList<QByteArray> names;
    FolderStamp stamp;
    FolderMemo* const memo = CurrentFolderMemo();
    if (memo && FolderStamp::Of(fd, stamp) && memo->knownSubfolders(key, stamp, names))
        return names;
    names.clear();
    Entries entries;
    readEntries(fd, entries, [](const char*, unsigned char type) { return type == DT_DIR || type == DT_UNKNOWN; });
    for (const auto& [name, type] : entries) {
        if (isFolderEntry(fd, name, type))
            names.append(name);
    }
    return names;
}
