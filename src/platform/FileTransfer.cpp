#include "FileTransfer.h"

#include "FolderMemo.h"
#include "Paths.h"

#include "SystemErrorText.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <tuple>
#include <set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr size_t ChunkBytes = size_t(1) << 20;
constexpr int TemporaryNameAttempts = 100;

// Every temporary name of the program: ".talven77-<kind>-<8 letters>-<name>.tmp". The
// suffix keeps it out of every list of recordings (those end with ".mp3").
constexpr char TemporaryPrefix[] = ".talven77-";
constexpr char TemporarySuffix[] = ".tmp";
constexpr qsizetype TemporarySuffixLength = sizeof TemporarySuffix - 1;
constexpr int TemporaryLetters = 8;

enum class TemporaryKind { Copy, Rename };

std::atomic<int64_t> faultAfterBytes{-1};
std::atomic<int> faultError{0};
std::atomic<int64_t> corruptOffset{-1};
std::function<void(const QString&)> folderSyncObserver;

// fsync of an open folder; EINVAL (a file system that keeps no folder to sync) counts as done.
int syncFolder(int fd, const QByteArray& path)
{
    if (::fsync(fd) != 0 && errno != EINVAL)
        return errno;
    if (folderSyncObserver)
        folderSyncObserver(QFile::decodeName(path));
    return 0;
}

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

QByteArray kindWord(TemporaryKind kind)
{
    return kind == TemporaryKind::Copy ? QByteArrayLiteral("copy") : QByteArrayLiteral("rename");
}

// The program's hidden name for name. A copy's may be cut (at a character boundary) to
// stay within NAME_MAX; a rename's must hold the whole new name and is empty when it cannot.
QByteArray temporaryName(TemporaryKind kind, const QByteArray& name)
{
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray prefix = TemporaryPrefix + kindWord(kind) + '-';
    for (int i = 0; i < TemporaryLetters; ++i)
        prefix += Letters[QRandomGenerator::global()->bounded(int(sizeof Letters - 1))];
    prefix += '-';
    const qsizetype room = NAME_MAX - prefix.size() - TemporarySuffixLength;
    if (kind == TemporaryKind::Rename && name.size() > room)
        return {};
    qsizetype cut = std::min<qsizetype>(name.size(), room);
    while (cut > 0 && cut < name.size() && (uchar(name[cut]) & 0xC0) == 0x80)
        --cut;
    return prefix + name.left(cut) + TemporarySuffix;
}

// The kind of one of the program's temporary names, and the name that follows its letters.
std::optional<TemporaryKind> parseTemporaryName(const QByteArray& entry, QByteArray* name)
{
    for (const TemporaryKind kind : {TemporaryKind::Copy, TemporaryKind::Rename}) {
        const QByteArray prefix = TemporaryPrefix + kindWord(kind) + '-';
        const qsizetype nameStart = prefix.size() + TemporaryLetters + 1;
        if (!entry.startsWith(prefix) || !entry.endsWith(TemporarySuffix)
            || entry.size() < nameStart + 1 + TemporarySuffixLength)
            continue;
        const QByteArray letters = entry.mid(prefix.size(), TemporaryLetters);
        const bool lettersOk = std::all_of(letters.begin(), letters.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        });
        if (!lettersOk || entry[prefix.size() + TemporaryLetters] != '-')
            return std::nullopt;
        *name = entry.mid(nameStart, entry.size() - nameStart - TemporarySuffixLength);
        return kind;
    }
    return std::nullopt;
}

// Whether name in the folder open as folderFd still is the file open as fd.
bool stillNamed(int folderFd, const char* name, int fd)
{
    struct stat opened {}, named {};
    return ::fstat(fd, &opened) == 0 && opened.st_nlink > 0
           && ::fstatat(folderFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(opened, named);
}

int flockRetrying(int fd, int operation)
{
    int done;
    do
        done = ::flock(fd, operation);
    while (done != 0 && errno == EINTR);
    return done;
}

// Opens an entry to take its lock: read-write where permitted (a lock on a network
// share needs it), never following a link or waiting on a FIFO.
int openForLock(int folderFd, const char* name, bool folder)
{
    if (folder)
        return openRetrying(folderFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int fd = openRetrying(folderFd, name, O_RDWR | flags);
    if (fd >= 0 || (errno != EACCES && errno != EPERM && errno != EROFS && errno != ETXTBSY))
        return fd;
    return openRetrying(folderFd, name, O_RDONLY | flags);
}

// Creates a temporary file for name and takes its exclusive lock, which it keeps for
// as long as the file is open: a tidy-up meanwhile (here, in another process or on
// another machine sharing the folder) leaves it alone.
int createTemporary(int folderFd, const QByteArray& name, QByteArray& temporary)
{
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        temporary = temporaryName(TemporaryKind::Copy, name);
        const int fd = openRetrying(folderFd, temporary.constData(),
                                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return fd;
        }
        // A file system without locks lets no tidy-up lock the file either, so none removes it.
        // A tidy-up that got the lock between the create and this lock has removed the file.
        if (flockRetrying(fd, LOCK_EX) != 0 || stillNamed(folderFd, temporary.constData(), fd))
            return fd;
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
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
        if (const int error = WriteAll(out, buffer.data(), size_t(allowed)))
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

// Puts the patches' bytes into a chunk of the source read at position.
void applyPatches(const std::vector<CopyPatch>& patches, int64_t position, char* chunk, size_t size)
{
    for (const CopyPatch& patch : patches) {
        const int64_t from = std::max(patch.offset, position);
        const int64_t to = std::min(patch.offset + int64_t(patch.bytes.size()), position + int64_t(size));
        if (from < to)
            std::memcpy(chunk + (from - position), patch.bytes.constData() + (from - patch.offset), size_t(to - from));
    }
}

int writePatches(int out, const std::vector<CopyPatch>& patches, int64_t size)
{
    for (const CopyPatch& patch : patches) {
        if (patch.offset < 0 || patch.offset + patch.bytes.size() > size)
            return EINVAL;
        for (qsizetype done = 0; done < patch.bytes.size();) {
            const ssize_t put = ::pwrite(out, patch.bytes.constData() + done, size_t(patch.bytes.size() - done),
                                         off_t(patch.offset + done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return put < 0 ? errno : EIO;
            done += put;
        }
    }
    return 0;
}

// Reads the written file (open as check) back from the device and compares it with the
// source. It must have been fsync'ed: its clean pages are then dropped from the page
// cache, so the comparison reads what the device holds, not what was handed to it.
// cacheDropped: the caller has dropped the file's pages already (and may have asked for
// them to be read from the device ahead).
int verifyCopy(int in, int check, int64_t size, const CopyProgress& progress,
               const std::vector<CopyPatch>& patches = {}, bool cacheDropped = false)
{
    if (!cacheDropped)
        ::posix_fadvise(check, 0, 0, POSIX_FADV_DONTNEED);
    struct stat checkStat {};
    if (::fstat(check, &checkStat) != 0)
        return errno;
    if (checkStat.st_size != size)
        return EIO;
    // Kept from one file to the next: two fresh chunks a file cost more in page faults
    // and zeroing than the comparison itself.
    static thread_local std::vector<char> expected(ChunkBytes), actual(ChunkBytes);
    for (int64_t position = 0;;) {
        size_t fromSource = 0, fromCopy = 0;
        if (const int error = readFullyAt(in, expected.data(), expected.size(), position, fromSource))
            return error;
        if (const int error = readFullyAt(check, actual.data(), actual.size(), position, fromCopy))
            return error;
        applyPatches(patches, position, expected.data(), fromSource);
        if (fromSource != fromCopy || std::memcmp(expected.data(), actual.data(), fromSource) != 0)
            return EIO;
        if (fromSource == 0)
            return position == size ? 0 : EIO;
        position += int64_t(fromSource);
        if (progress)
            progress(std::min(position, size), size);
    }
}

int renameNoReplaceAt(int folderFd, const char* from, const char* to)
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

// The hidden name holds the new name whole, so that a crash between the two renames
// leaves an entry that the next start brings to its new name. The entry is locked
// throughout: a tidy-up elsewhere meanwhile leaves it alone.
int renameThroughHiddenName(const QByteArray& from, const QByteArray& to)
{
    const auto [folder, name] = splitPath(to);
    const QByteArray fromName = splitPath(from).second;
    const int folderFd = openRetrying(AT_FDCWD, folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return errno;
    const auto closeFolder = qScopeGuard([folderFd] { ::close(folderFd); });
    struct stat fromStat {};
    if (::fstatat(folderFd, fromName.constData(), &fromStat, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    const int lockFd = openForLock(folderFd, fromName.constData(), S_ISDIR(fromStat.st_mode));
    const auto closeLock = qScopeGuard([lockFd] {
        if (lockFd >= 0)
            ::close(lockFd);
    });
    if (lockFd >= 0 && flockRetrying(lockFd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return EBUSY;
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        const QByteArray hidden = temporaryName(TemporaryKind::Rename, name);
        if (hidden.isEmpty())
            return ENAMETOOLONG;
        int error = renameNoReplaceAt(folderFd, fromName.constData(), hidden.constData());
        if (error == EEXIST)
            continue;
        if (error != 0)
            return error;
        error = renameNoReplaceAt(folderFd, hidden.constData(), name.constData());
        if (error != 0)
            renameNoReplaceAt(folderFd, hidden.constData(), fromName.constData());
        return error;
    }
    return EEXIST;
}

using Entries = std::vector<std::pair<QByteArray, unsigned char>>;

// The entries of the folder open as fd (which stays open), without "." and "..";
// with keep, only those it accepts (looked at before anything is copied).
int readEntries(int fd, Entries& entries, bool (*keep)(const char* name, unsigned char type) = nullptr)
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

bool isFolderEntry(int folderFd, const QByteArray& name, unsigned char type)
{
    if (type != DT_UNKNOWN)
        return type == DT_DIR;
    struct stat entryStat {};
    return ::fstatat(folderFd, name.constData(), &entryStat, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(entryStat.st_mode);
}

// Whether path, relative to the folder open as folderFd, is a boundary that a walk of a tree
// on device topDev never crosses: the root of a mount (another file system, or a folder of
// this one bound there, which keeps st_dev), or a file system nested without a mount of its
// own (a btrfs subvolume: no mount root, but its st_dev differs).
bool isBoundary(int folderFd, const QByteArray& path, dev_t topDev)
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

QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// Takes the lock of an entry that nobody holds; -1 when it is held, gone or cannot be locked.
int lockUnheld(int folderFd, const QByteArray& name, bool folder)
{
    const int fd = openForLock(folderFd, name.constData(), folder);
    if (fd < 0)
        return -1;
    if (flockRetrying(fd, LOCK_EX | LOCK_NB) != 0 || !stillNamed(folderFd, name.constData(), fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Gives the entry that a crash left under a rename's hidden name its new name or, when
// that is taken by now, the first free numbered one: it is the user's recording or
// folder, and must be seen again.
void finishRename(int folderFd, const QByteArray& hidden, const QByteArray& newName)
{
    int error = renameNoReplaceAt(folderFd, hidden.constData(), newName.constData());
    for (int number = 2; error == EEXIST && number <= LastFileNumber; ++number)
        error = renameNoReplaceAt(folderFd, hidden.constData(), NumberedFileName(newName, number).constData());
}

// Whether an entry may be a temporary one, by its name's start.
bool mayBeTemporary(const char* name, unsigned char)
{
    return std::strncmp(name, TemporaryPrefix, sizeof TemporaryPrefix - 1) == 0;
}

// Whether an entry may be a temporary one or a folder to look into.
bool mayBeTemporaryOrFolder(const char* name, unsigned char type)
{
    return type == DT_DIR || type == DT_UNKNOWN || mayBeTemporary(name, type);
}

// Removes, of the entries read from the folder open as folderFd, the temporary
// copies whose writer is gone and, with finishRenames, gives an entry left under a
// rename's hidden name its new name. True when an entry got a new name.
bool tidyEntries(int folderFd, const Entries& entries, bool finishRenames)
{
    bool renamed = false;
    for (const auto& entry : entries) {
        const QByteArray& name = entry.first;
        if (!mayBeTemporary(name.constData(), entry.second))
            continue;
        QByteArray newName;
        const std::optional<TemporaryKind> kind = parseTemporaryName(name, &newName);
        if (!kind || (*kind == TemporaryKind::Rename && !finishRenames))
            continue;
        struct stat entryStat {};
        if (::fstatat(folderFd, name.constData(), &entryStat, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const bool folder = S_ISDIR(entryStat.st_mode);
        if (!S_ISREG(entryStat.st_mode) && !(folder && *kind == TemporaryKind::Rename))
            continue;
        const int lock = lockUnheld(folderFd, name, folder);
        if (lock < 0)
            continue;
        if (*kind == TemporaryKind::Copy) {
            ::unlinkat(folderFd, name.constData(), 0);
        } else {
            finishRename(folderFd, name, newName);
            renamed = true;
        }
        ::close(lock);
    }
    return renamed;
}

void tidyFolder(int folderFd, bool finishRenames)
{
    Entries entries;
    readEntries(folderFd, entries, mayBeTemporary);
    tidyEntries(folderFd, entries, finishRenames);
}

// The folders (device, inode) tidied during the operation now running on this thread,
// or none when no operation said it runs (TidyEachFolderOnce).
thread_local std::set<std::pair<dev_t, ino_t>>* tidiedFolders = nullptr;

// Tidies the folder open as folderFd before a copy writes into it: once per operation
// when one runs, else every time.
void tidyBeforeWriting(int folderFd)
{
    struct stat folderStat {};
    if (tidiedFolders && ::fstat(folderFd, &folderStat) == 0
        && !tidiedFolders->emplace(folderStat.st_dev, folderStat.st_ino).second)
        return;
    tidyFolder(folderFd, false);
}

int64_t wallClockNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The folder open as fd, whose native path is path (no trailing separator). With a
// memo, a folder whose stamp has not moved since it was last found clean is neither
// read nor tidied: its subfolders come from the memo.
void recoverFolder(int fd, const QByteArray& path, bool withSubfolders, dev_t topDev, FolderMemo* memo)
{
    QList<QByteArray> subfolders;
    FolderStamp stamp;
    const bool stamped = memo && withSubfolders && FolderStamp::Of(fd, stamp);
    if (!stamped || !memo->knownSubfolders(path, stamp, subfolders)) {
        const int64_t readAt = wallClockNs();
        // One reading of a large folder serves both passes, unless a folder got its
        // new name in the first.
        Entries entries;
        readEntries(fd, entries, withSubfolders ? mayBeTemporaryOrFolder : mayBeTemporary);
        const bool renamed = tidyEntries(fd, entries, true);
        if (!withSubfolders)
            return;
        if (renamed) {
            entries.clear();
            readEntries(fd, entries, mayBeTemporaryOrFolder);
        }
        bool clean = !renamed;
        for (const auto& [name, type] : entries) {
            if (mayBeTemporary(name.constData(), type))
                clean = false;
            if (isFolderEntry(fd, name, type))
                subfolders.append(name);
        }
        if (stamped && clean && stamp.settledBefore(readAt))
            memo->rememberSubfolders(path, stamp, subfolders);
    }
    for (const QByteArray& name : std::as_const(subfolders)) {
        if (isBoundary(fd, name, topDev))
            continue;
        const int child = openRetrying(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0)
            continue;
        recoverFolder(child, path + '/' + name, true, topDev, memo);
        ::close(child);
    }
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

// The two ends of a copy: the source open for reading (a regular file, looked at before
// and after the open), its status, and the destination's folder open, with the
// destination's folder path and name. errno of a failure, with nothing left open.
int openCopyEnds(const QString& source, const QString& destination, int& in, struct stat& sourceStat,
                 int& folderFd, QByteArray& folder, QByteArray& name)
{
    const QByteArray sourcePath = QFile::encodeName(source);
    const QByteArray destinationPath = QFile::encodeName(destination);
    if (::stat(sourcePath.constData(), &sourceStat) != 0)
        return errno;
    if (const int error = sourceKindError(sourceStat.st_mode))
        return error;
    in = openRetrying(AT_FDCWD, sourcePath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in < 0)
        return errno;
    auto closeSource = qScopeGuard([&in] {
        ::close(in);
        in = -1;
    });
    // The path may have been replaced between stat and open.
    if (::fstat(in, &sourceStat) != 0)
        return errno;
    if (const int error = sourceKindError(sourceStat.st_mode))
        return error;
    // O_NONBLOCK only kept the open from waiting on a FIFO; reads should block as usual.
    const int flags = ::fcntl(in, F_GETFL);
    if (flags >= 0)
        ::fcntl(in, F_SETFL, flags & ~O_NONBLOCK);

    std::tie(folder, name) = splitPath(destinationPath);
    if (name.isEmpty())
        return EISDIR;
    struct stat destinationStat {};
    if (::stat(destinationPath.constData(), &destinationStat) == 0) {
        if (sameFile(sourceStat, destinationStat))
            return EINVAL;
        if (S_ISDIR(destinationStat.st_mode))
            return EISDIR;
    }
    folderFd = openRetrying(AT_FDCWD, folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return errno;
    closeSource.dismiss();
    return 0;
}

// The source's permission bits and, with copyTimes, its access and modification times
// for the written copy; bits the file system refuses are kept as it has them.
int takeSourceAttributes(int out, const struct stat& sourceStat, bool copyTimes)
{
    if (::fchmod(out, sourceStat.st_mode & 0777) != 0 && !permissionsUnsupported(errno))
        return errno;
    if (copyTimes) {
        const timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
        if (::futimens(out, times) != 0)
            return errno;
    }
    return 0;
}

} // namespace

int WriteAll(int fd, const char* data, size_t size)
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

TidyEachFolderOnce::TidyEachFolderOnce() : m_outer(tidiedFolders)
{
    tidiedFolders = &m_tidied;
}

TidyEachFolderOnce::~TidyEachFolderOnce()
{
    tidiedFolders = m_outer;
}

QString FileResult::message() const
{
    if (ok())
        return {};
    return SystemErrorText(error);
}

FileResult CopyFileDurably(const QString& source, const QString& destination, const CopyProgress& progress,
                           bool copyTimes, CopyCheck check)
{
    int in = -1, folderFd = -1;
    struct stat sourceStat {};
    QByteArray folder, name;
    if (const int error = openCopyEnds(source, destination, in, sourceStat, folderFd, folder, name))
        return result(error);
    const auto closeSource = qScopeGuard([in] { ::close(in); });
    const auto closeFolder = qScopeGuard([folderFd] { ::close(folderFd); });

    // What an earlier copy into this folder left behind when its writer died.
    tidyBeforeWriting(folderFd);
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
    if (const int error = takeSourceAttributes(out, sourceStat, copyTimes))
        return result(error);
    if (::fsync(out) != 0)
        return lastError();
    if (check == CopyCheck::ReadBack) {
        if (const int error = verifyCopy(in, out, sourceStat.st_size, progress))
            return result(error);
    }
    // The file is read back through, and closed after the rename by, the one descriptor
    // that holds its lock: where flock is emulated with byte-range locks (NFS), closing
    // any descriptor of the file would release it.
    if (::renameat(folderFd, temporary.constData(), folderFd, name.constData()) != 0)
        return lastError();
    removeTemporary.dismiss();
    // The close still reports what a network file system could not write; the copy then
    // has its name but is no success.
    const int closed = ::close(out);
    out = -1;
    if (closed != 0)
        return lastError();
    return result(syncFolder(folderFd, folder));
}

DurableNewFile::~DurableNewFile()
{
    if (m_out >= 0) {
        ::close(m_out);
        ::unlinkat(m_folder, m_temporary.constData(), 0);
    }
    if (m_folder >= 0)
        ::close(m_folder);
}

FileResult DurableNewFile::create(const QString& folder)
{
    m_folderPath = withoutTrailingSlashes(QFile::encodeName(folder));
    if (m_folderPath.isEmpty())
        m_folderPath = "/";
    m_folder = openRetrying(AT_FDCWD, m_folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0)
        return lastError();
    tidyBeforeWriting(m_folder);
    m_out = createTemporary(m_folder, QByteArrayLiteral("export"), m_temporary);
    if (m_out < 0)
        return lastError();
    // A new file of the user's: the permissions any new file gets (the temporary copy
    // is created private).
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(m_out, 0666 & ~mask);
    return result(0);
}

FileResult DurableNewFile::write(const char* data, size_t size)
{
    return result(m_out < 0 ? EBADF : WriteAll(m_out, data, size));
}

FileResult DurableNewFile::commit(const QString& name, Replace replace)
{
    if (m_out < 0)
        return result(EBADF);
    if (::fsync(m_out) != 0)
        return lastError();
    const QByteArray nativeName = QFile::encodeName(name);
    if (replace == Replace::Yes) {
        if (::renameat(m_folder, m_temporary.constData(), m_folder, nativeName.constData()) != 0)
            return lastError();
    } else if (const int error = renameNoReplaceAt(m_folder, m_temporary.constData(), nativeName.constData())) {
        return result(error);
    }
    // Closed after the rename through the descriptor that holds the lock (see CopyFileDurably).
    const int closed = ::close(m_out);
    m_out = -1;
    if (closed != 0)
        return lastError();
    return result(syncFolder(m_folder, m_folderPath));
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
    // The source goes only once the copy has been read back from the device and found whole.
    const FileResult copied = CopyFileDurably(source, destination, progress, true, CopyCheck::ReadBack);
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

void RemoveStaleCopies(const QString& folder)
{
    const int fd = openRetrying(AT_FDCWD, QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    tidyFolder(fd, false);
    ::close(fd);
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

void RecoverTemporaryNames(const QString& folder, bool withSubfolders)
{
    // A relative folder would be taken from wherever the program was started.
    if (!QDir::isAbsolutePath(folder))
        return;
    const int fd = openRetrying(AT_FDCWD, QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat folderStat {};
    FolderMemo* const memo = withSubfolders ? CurrentFolderMemo() : nullptr;
    if (memo)
        memo->beginWalk();
    if (::fstat(fd, &folderStat) == 0)
        recoverFolder(fd, FolderMemoKey(QFile::encodeName(folder)), withSubfolders, folderStat.st_dev, memo);
    if (memo)
        memo->endWalk();
    ::close(fd);
}

CopyBatch::~CopyBatch()
{
    discard();
}

void CopyBatch::remove(Pending& copy)
{
    if (copy.out >= 0)
        ::close(copy.out);
    if (!copy.temporary.isEmpty())
        ::unlinkat(copy.folder, copy.temporary.constData(), 0);
    ::close(copy.folder);
    ::close(copy.in);
}

void CopyBatch::discard()
{
    for (Pending& copy : m_pending)
        remove(copy);
    m_pending.clear();
}

FileResult CopyBatch::add(const QString& source, const QString& destination, const CopyProgress& progress,
                          const std::vector<CopyPatch>& patches)
{
    Pending copy;
    struct stat sourceStat {};
    if (const int error = openCopyEnds(source, destination, copy.in, sourceStat, copy.folder, copy.folderPath, copy.name))
        return result(error);
    copy.size = sourceStat.st_size;
    copy.patches = patches;
    auto removeCopy = qScopeGuard([&copy] { remove(copy); });
    // What an earlier copy into this folder left behind when its writer died; the
    // copies waiting here hold their locks, so they stay.
    const bool folderSeen = std::any_of(m_pending.begin(), m_pending.end(),
                                        [&copy](const Pending& other) { return other.folderPath == copy.folderPath; });
    if (!folderSeen)
        tidyBeforeWriting(copy.folder);
    copy.out = createTemporary(copy.folder, copy.name, copy.temporary);
    if (copy.out < 0) {
        const int error = errno;
        copy.temporary.clear();
        return result(error);
    }
    if (const int error = copyBytes(copy.in, copy.out, copy.size, progress))
        return result(error);
    if (const int error = writePatches(copy.out, patches, copy.size))
        return result(error);
    if (const int error = takeSourceAttributes(copy.out, sourceStat, true))
        return result(error);
    removeCopy.dismiss();
    m_pending.push_back(std::move(copy));
    return {};
}

FileResult CopyBatch::commit(int* committed)
{
    if (committed)
        *committed = 0;
    int error = 0;
    // One sync of each file system makes every temporary file's bytes, size and times
    // lasting; it reports a write that failed on that file system since the folder
    // was opened, before the copy was written.
    std::vector<dev_t> synced;
    for (const Pending& copy : m_pending) {
        struct stat folderStat {};
        if (::fstat(copy.folder, &folderStat) != 0) {
            error = errno;
            break;
        }
        if (std::find(synced.begin(), synced.end(), folderStat.st_dev) != synced.end())
            continue;
        if (::syncfs(copy.folder) != 0) {
            error = errno;
            break;
        }
        synced.push_back(folderStat.st_dev);
    }
    // Every synced copy leaves the page cache, and the device is asked for all of them at
    // once: each is then compared while the next ones are still being read.
    if (error == 0 && m_check == CopyCheck::ReadBack) {
        for (const Pending& copy : m_pending) {
            ::posix_fadvise(copy.out, 0, 0, POSIX_FADV_DONTNEED);
            ::posix_fadvise(copy.out, 0, 0, POSIX_FADV_WILLNEED);
        }
    }
    std::vector<std::pair<dev_t, ino_t>> folders; // folders that took a name
    size_t done = 0;
    for (; error == 0 && done < m_pending.size(); ++done) {
        Pending& copy = m_pending[done];
        if (m_check == CopyCheck::ReadBack) {
            error = verifyCopy(copy.in, copy.out, copy.size, {}, copy.patches, true);
            if (error != 0)
                break;
        }
        // As a single copy: read back through, and closed after the rename by, the one
        // descriptor that holds the file's lock (closing any other would release it on NFS).
        if (::renameat(copy.folder, copy.temporary.constData(), copy.folder, copy.name.constData()) != 0) {
            error = errno;
            break;
        }
        copy.temporary.clear();
        const bool closed = ::close(copy.out) == 0;
        copy.out = -1;
        if (!closed) {
            error = errno;
            break;
        }
        struct stat folderStat {};
        if (::fstat(copy.folder, &folderStat) != 0) {
            error = errno;
            break;
        }
        if (std::find(folders.begin(), folders.end(), std::pair(folderStat.st_dev, folderStat.st_ino)) == folders.end()) {
            folders.emplace_back(folderStat.st_dev, folderStat.st_ino);
            const int folderError = syncFolder(copy.folder, copy.folderPath);
            if (folderError != 0) {
                error = folderError;
                break;
            }
        }
    }
    // Copies renamed before a later one failed still carry their names; their folders
    // were synced as each first took a name.
    if (committed)
        *committed = error == 0 ? int(m_pending.size()) : int(done);
    discard();
    return result(error);
}

FileResult CreateFolderDurably(const QString& folder, const QString& root)
{
    const auto trimmed = [](QByteArray path) {
        while (path.size() > 1 && path.endsWith('/'))
            path.chop(1);
        return path;
    };
    const QByteArray path = trimmed(QFile::encodeName(folder));
    const QByteArray top = trimmed(QFile::encodeName(root));
    if (path.isEmpty())
        return result(ENOENT);
    // The missing folders, deepest first, up to the first one that exists.
    std::vector<QByteArray> missing;
    QByteArray existing = path;
    struct stat existingStat {};
    while (::stat(existing.constData(), &existingStat) != 0) {
        if (errno != ENOENT)
            return lastError();
        missing.push_back(existing);
        const QByteArray parent = splitPath(existing).first;
        if (parent == existing)
            return result(ENOENT);
        existing = parent;
    }
    if (!S_ISDIR(existingStat.st_mode))
        return result(ENOTDIR);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->constData(), 0777) != 0 && errno != EEXIST)
            return lastError();
        struct stat made {};
        if (::stat(it->constData(), &made) != 0)
            return lastError();
        if (!S_ISDIR(made.st_mode))
            return result(ENOTDIR);
    }
    // From the folder up: each folder up to root, and each folder that gained an entry.
    const bool belowRoot = !top.isEmpty() && (path == top || path.startsWith(top == "/" ? top : top + '/'));
    const QByteArray highest = missing.empty() ? QByteArray() : splitPath(missing.back()).first;
    bool passedRoot = !belowRoot, passedNew = missing.empty();
    for (QByteArray at = path;;) {
        const int fd = openRetrying(AT_FDCWD, at.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return lastError();
        const int error = syncFolder(fd, at);
        ::close(fd);
        if (error != 0)
            return result(error);
        passedRoot = passedRoot || at == top;
        passedNew = passedNew || at == highest;
        const QByteArray parent = splitPath(at).first;
        if ((passedRoot && passedNew) || parent == at)
            break;
        at = parent;
    }
    return {};
}

void SetCopyWriteFault(int64_t afterBytes, int error)
{
    faultError.store(error);
    faultAfterBytes.store(afterBytes);
}

void SetFolderSyncObserver(std::function<void(const QString& folder)> observer)
{
    folderSyncObserver = std::move(observer);
}

void SetCopyCorruption(int64_t offset)
{
    corruptOffset.store(offset);
}
