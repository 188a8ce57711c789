#include "NumberedNames.h"

#include "FileCalls.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace FileCalls;

QByteArray NumberedFileName(const QByteArray& fileName, int number)
{
    const qsizetype dot = fileName.lastIndexOf('.');
    QByteArray base = dot > 0 ? fileName.left(dot) : fileName;
    const QByteArray extension = dot > 0 ? fileName.mid(dot) : QByteArray();
    const qsizetype bracket = base.lastIndexOf('(');
    if (bracket >= 0)
        base.truncate(bracket);
    return base + '(' + QByteArray::number(number) + ')' + extension;
}

namespace {

int renameNoReplaceNative(const QByteArray& from, const QByteArray& to)
{
    return renameNoReplaceAt(AT_FDCWD, from.constData(), to.constData());
}

// True when to finds the very directory entry from names: another spelling of it on a
// case-insensitive file system. A second hard link in the folder is a name of its own.
bool isOtherSpelling(const QByteArray& from, const QByteArray& to)
{
    const auto [fromFolder, fromName] = splitPath(from);
    const auto [toFolder, toName] = splitPath(to);
    if (fromName == toName)
        return false;
    struct stat fromFolderStat {}, toFolderStat {}, fromStat {}, toStat {};
    if (::stat(fromFolder.constData(), &fromFolderStat) != 0 || ::stat(toFolder.constData(), &toFolderStat) != 0
        || ::lstat(from.constData(), &fromStat) != 0 || ::lstat(to.constData(), &toStat) != 0)
        return false;
    return sameFile(fromFolderStat, toFolderStat) && sameFile(fromStat, toStat)
           && (S_ISDIR(fromStat.st_mode) || fromStat.st_nlink == 1);
}

} // namespace

int FileCalls::renameNoReplaceAt(int folderFd, const char* from, const char* to)
{
    if (::renameat2(folderFd, from, folderFd, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    struct stat fromStat {};
    if (::fstatat(folderFd, from, &fromStat, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!S_ISDIR(fromStat.st_mode)) {
        if (::linkat(folderFd, from, folderFd, to, 0) == 0) {
            if (::unlinkat(folderFd, from, 0) == 0)
                return 0;
            const int error = errno;
            ::unlinkat(folderFd, to, 0);
            return error;
        }
        if (errno != EPERM && errno != EOPNOTSUPP)
            return errno;
    }
    struct stat toStat {};
    if (::fstatat(folderFd, to, &toStat, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::renameat(folderFd, from, folderFd, to) == 0 ? 0 : errno;
}

FileResult RenameNoReplace(const QString& from, const QString& to)
{
    const QByteArray fromPath = QFile::encodeName(from);
    const QByteArray toPath = QFile::encodeName(to);
    int error = renameNoReplaceNative(fromPath, toPath);
    if (error == EEXIST && isOtherSpelling(fromPath, toPath))
        error = renameThroughHiddenName(fromPath, toPath);
    return result(error);
}
