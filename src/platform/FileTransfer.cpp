#include "FileTransfer.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t ChunkBytes = size_t(1) << 20;
constexpr int TemporaryNameAttempts = 100;

std::atomic<int64_t> faultAfterBytes{-1};
std::atomic<int> faultError{0};
std::atomic<int64_t> corruptOffset{-1};

FileResult result(int error)
{
    return FileResult{error};
}

FileResult lastError()
{
    return result(errno);
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// FAT refuses changes of the read and execute bits outright.
bool permissionsUnsupported(int error)
{
    return error == EPERM || error == EOPNOTSUPP;
}

int sourceKindError(mode_t mode)
{
    if (S_ISREG(mode))
        return 0;
    return S_ISDIR(mode) ? EISDIR : EOPNOTSUPP;
}

int openRetrying(int folderFd, const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::openat(folderFd, path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Folder and last component of a native path; the folder is "." for a bare name.
std::pair<QByteArray, QByteArray> splitPath(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {QByteArrayLiteral("."), path};
    return {slash == 0 ? QByteArrayLiteral("/") : path.left(slash), path.mid(slash + 1)};
}

// A hidden name derived from name, cut at a character boundary to stay within NAME_MAX.
QByteArray temporaryName(const QByteArray& name)
{
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray suffix(".");
    for (int i = 0; i < 6; ++i)
        suffix += Letters[QRandomGenerator::global()->bounded(int(sizeof Letters - 1))];
    suffix += ".tmp";
    qsizetype cut = std::min<qsizetype>(name.size(), NAME_MAX - 1 - suffix.size());
    while (cut > 0 && cut < name.size() && (uchar(name[cut]) & 0xC0) == 0x80)
        --cut;
    return '.' + name.left(cut) + suffix;
}

int createTemporary(int folderFd, const QByteArray& name, QByteArray& temporary)
{
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        temporary = temporaryName(name);
        const int fd = openRetrying(folderFd, temporary.constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

int writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= size_t(written);
    }
    return 0;
}

// Copies from the current offsets to the end of in; returns the errno of a failure.
int copyBytes(int in, int out, int64_t size, const CopyProgress& progress)
{
    const int64_t faultAfter = faultAfterBytes.load();
    const int64_t corruptAt = corruptOffset.load();
    int64_t done = 0;
    const auto report = [&] {
        if (progress)
            progress(done, std::max(size, done));
    };
    report();
    bool inKernel = faultAfter < 0 && corruptAt < 0;
    std::vector<char> buffer;
    for (;;) {
        if (inKernel) {
            const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, ChunkBytes, 0);
            if (copied > 0) {
                done += copied;
                report();
                continue;
            }
            if (copied < 0 && errno == EINTR)
                continue;
            if (copied < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
                return errno;
            // Both offsets have moved on with what was copied, so read/write continues from there.
            // A 0 is taken for the end only once read() agrees: some file systems give 0 for
            // files whose size they do not know.
            inKernel = false;
            continue;
        }
        if (buffer.empty())
            buffer.resize(ChunkBytes);
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        int64_t allowed = got;
        if (faultAfter >= 0)
            allowed = std::clamp<int64_t>(faultAfter - done, 0, got);
        if (corruptAt >= done && corruptAt < done + allowed)
            buffer[size_t(corruptAt - done)] = char(~buffer[size_t(corruptAt - done)]);
        if (const int error = writeAll(out, buffer.data(), size_t(allowed)))
            return error;
        done += allowed;
        if (allowed < got) {
            const int error = faultError.load();
            return error != 0 ? error : EIO;
        }
        report();
    }
}

int readFullyAt(int fd, char* data, size_t size, int64_t position, size_t& got)
{
    got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, data + got, size - got, off_t(position + int64_t(got)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break;
        got += size_t(n);
    }
    return 0;
}

// Reads the written file back from the device and compares it with the source.
// written must have been fsync'ed: its clean pages are then dropped from the page
// cache, so the comparison reads what the device holds, not what was handed to it.
int verifyCopy(int in, int folderFd, const QByteArray& written, int64_t size, const CopyProgress& progress)
{
    const int check = openRetrying(folderFd, written.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (check < 0)
        return errno;
    const auto closeCheck = qScopeGuard([check] { ::close(check); });
    ::posix_fadvise(check, 0, 0, POSIX_FADV_DONTNEED);
    struct stat checkStat {};
    if (::fstat(check, &checkStat) != 0)
        return errno;
    if (checkStat.st_size != size)
        return EIO;
    std::vector<char> expected(ChunkBytes), actual(ChunkBytes);
    for (int64_t position = 0;;) {
        size_t fromSource = 0, fromCopy = 0;
        if (const int error = readFullyAt(in, expected.data(), expected.size(), position, fromSource))
            return error;
        if (const int error = readFullyAt(check, actual.data(), actual.size(), position, fromCopy))
            return error;
        if (fromSource != fromCopy || std::memcmp(expected.data(), actual.data(), fromSource) != 0)
            return EIO;
        if (fromSource == 0)
            return position == size ? 0 : EIO;
        position += int64_t(fromSource);
        if (progress)
            progress(std::min(position, size), size);
    }
}

int renameNoReplaceNative(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    struct stat fromStat {};
    if (::lstat(from.constData(), &fromStat) != 0)
        return errno;
    if (!S_ISDIR(fromStat.st_mode)) {
        if (::link(from.constData(), to.constData()) == 0) {
            if (::unlink(from.constData()) == 0)
                return 0;
            const int error = errno;
            ::unlink(to.constData());
            return error;
        }
        if (errno != EPERM && errno != EOPNOTSUPP)
            return errno;
    }
    struct stat toStat {};
    if (::lstat(to.constData(), &toStat) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
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

int renameThroughHiddenName(const QByteArray& from, const QByteArray& to)
{
    const auto [folder, name] = splitPath(to);
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        const QByteArray hidden = folder + '/' + temporaryName(name);
        int error = renameNoReplaceNative(from, hidden);
        if (error == EEXIST)
            continue;
        if (error != 0)
            return error;
        error = renameNoReplaceNative(hidden, to);
        if (error != 0)
            renameNoReplaceNative(hidden, from);
        return error;
    }
    return EEXIST;
}

// Removes everything in the folder open as fd (taken over) without following links.
int removeContents(int fd)
{
    DIR* folder = ::fdopendir(fd);
    if (!folder) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    const auto closeFolder = qScopeGuard([folder] { ::closedir(folder); });
    // Read first: entries removed while reading may make readdir skip others.
    std::vector<std::pair<QByteArray, unsigned char>> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder);
        if (!entry)
            break;
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            entries.emplace_back(QByteArray(entry->d_name), entry->d_type);
    }
    if (errno != 0)
        return errno;
    for (const auto& [name, type] : entries) {
        bool isFolder = type == DT_DIR;
        if (type == DT_UNKNOWN) {
            struct stat entryStat {};
            if (::fstatat(fd, name.constData(), &entryStat, AT_SYMLINK_NOFOLLOW) != 0)
                return errno;
            isFolder = S_ISDIR(entryStat.st_mode);
        }
        if (isFolder) {
            const int child = openRetrying(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0)
                return errno;
            if (const int error = removeContents(child))
                return error;
        }
        if (::unlinkat(fd, name.constData(), isFolder ? AT_REMOVEDIR : 0) != 0)
            return errno;
    }
    return 0;
}

} // namespace

QString FileResult::message() const
{
    if (ok())
        return {};
    char buffer[256];
    return QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof buffer));
}

FileResult CopyFileDurably(const QString& source, const QString& destination, const CopyProgress& progress,
                           bool copyTimes, CopyCheck check)
{
    const QByteArray sourcePath = QFile::encodeName(source);
    const QByteArray destinationPath = QFile::encodeName(destination);
    struct stat sourceStat {};
    if (::stat(sourcePath.constData(), &sourceStat) != 0)
        return lastError();
    if (const int error = sourceKindError(sourceStat.st_mode))
        return result(error);
    const int in = openRetrying(AT_FDCWD, sourcePath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in < 0)
        return lastError();
    const auto closeSource = qScopeGuard([in] { ::close(in); });
    // The path may have been replaced between stat and open.
    if (::fstat(in, &sourceStat) != 0)
        return lastError();
    if (const int error = sourceKindError(sourceStat.st_mode))
        return result(error);
    // O_NONBLOCK only kept the open from waiting on a FIFO; reads should block as usual.
    const int flags = ::fcntl(in, F_GETFL);
    if (flags >= 0)
        ::fcntl(in, F_SETFL, flags & ~O_NONBLOCK);

    const auto [folder, name] = splitPath(destinationPath);
    if (name.isEmpty())
        return result(EISDIR);
    struct stat destinationStat {};
    if (::stat(destinationPath.constData(), &destinationStat) == 0) {
        if (sameFile(sourceStat, destinationStat))
            return result(EINVAL);
        if (S_ISDIR(destinationStat.st_mode))
            return result(EISDIR);
    }
    const int folderFd = openRetrying(AT_FDCWD, folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return lastError();
    const auto closeFolder = qScopeGuard([folderFd] { ::close(folderFd); });

    QByteArray temporary;
    int out = createTemporary(folderFd, name, temporary);
    if (out < 0)
        return lastError();
    auto removeTemporary = qScopeGuard([&] {
        if (out >= 0)
            ::close(out);
        ::unlinkat(folderFd, temporary.constData(), 0);
    });
    if (const int error = copyBytes(in, out, sourceStat.st_size, progress))
        return result(error);
    if (::fchmod(out, sourceStat.st_mode & 0777) != 0 && !permissionsUnsupported(errno))
        return lastError();
    if (copyTimes) {
        const timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
        if (::futimens(out, times) != 0)
            return lastError();
    }
    if (::fsync(out) != 0)
        return lastError();
    if (check == CopyCheck::ReadBack) {
        if (const int error = verifyCopy(in, folderFd, temporary, sourceStat.st_size, progress))
            return result(error);
    }
    const int closed = ::close(out);
    out = -1;
    if (closed != 0)
        return lastError();
    if (::renameat(folderFd, temporary.constData(), folderFd, name.constData()) != 0)
        return lastError();
    removeTemporary.dismiss();
    // EINVAL: the file system keeps no folder to sync.
    if (::fsync(folderFd) != 0 && errno != EINVAL)
        return lastError();
    return {};
}

FileResult CopyFileTimes(const QString& source, const QString& destination)
{
    const QByteArray destinationPath = QFile::encodeName(destination);
    struct stat sourceStat {};
    if (::stat(QFile::encodeName(source).constData(), &sourceStat) != 0)
        return lastError();
    if (::chmod(destinationPath.constData(), sourceStat.st_mode & 0777) != 0 && !permissionsUnsupported(errno))
        return lastError();
    const timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    if (::utimensat(AT_FDCWD, destinationPath.constData(), times, 0) != 0)
        return lastError();
    return {};
}

FileResult MoveFile(const QString& source, const QString& destination, const CopyProgress& progress)
{
    const QByteArray sourcePath = QFile::encodeName(source);
    const QByteArray destinationPath = QFile::encodeName(destination);
    struct stat sourceStat {}, destinationStat {};
    if (::stat(sourcePath.constData(), &sourceStat) == 0 && ::stat(destinationPath.constData(), &destinationStat) == 0
        && sameFile(sourceStat, destinationStat))
        return result(EINVAL);
    if (::rename(sourcePath.constData(), destinationPath.constData()) == 0)
        return {};
    if (errno != EXDEV)
        return lastError();
    const FileResult copied = CopyFileDurably(source, destination, progress, true);
    if (!copied.ok())
        return copied;
    if (::unlink(sourcePath.constData()) != 0)
        return lastError();
    return {};
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

FileResult RemoveFile(const QString& path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return lastError();
    return {};
}

FileResult RemoveFolderTree(const QString& path)
{
    QByteArray nativePath = QFile::encodeName(path);
    // A trailing slash would make lstat and open follow a link to a folder.
    while (nativePath.size() > 1 && nativePath.endsWith('/'))
        nativePath.chop(1);
    struct stat pathStat {};
    if (::lstat(nativePath.constData(), &pathStat) != 0)
        return lastError();
    if (S_ISLNK(pathStat.st_mode))
        return ::unlink(nativePath.constData()) == 0 ? FileResult{} : lastError();
    if (!S_ISDIR(pathStat.st_mode))
        return result(ENOTDIR);
    const int fd = openRetrying(AT_FDCWD, nativePath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return lastError();
    if (const int error = removeContents(fd))
        return result(error);
    if (::rmdir(nativePath.constData()) != 0)
        return lastError();
    return {};
}

void SetCopyWriteFault(int64_t afterBytes, int error)
{
    faultError.store(error);
    faultAfterBytes.store(afterBytes);
}

void SetCopyCorruption(int64_t offset)
{
    corruptOffset.store(offset);
}
