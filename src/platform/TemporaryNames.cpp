#include "TemporaryNames.h"

#include "FileCalls.h"
#include "FolderMemo.h"
#include "NumberedNames.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <optional>
#include <set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace FileCalls;

namespace {

constexpr int TemporaryNameAttempts = 100;

// Every temporary name of the program: ".talven77-<kind>-<8 letters>-<name>.tmp". The
// suffix keeps it out of every list of recordings (those end with ".mp3").
constexpr char TemporaryPrefix[] = ".talven77-";
constexpr char TemporarySuffix[] = ".tmp";
constexpr qsizetype TemporarySuffixLength = sizeof TemporarySuffix - 1;
constexpr int TemporaryLetters = 8;

enum class TemporaryKind { Copy, Rename };

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

} // namespace

int FileCalls::createTemporary(int folderFd, const QByteArray& name, QByteArray& temporary)
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

int FileCalls::renameThroughHiddenName(const QByteArray& from, const QByteArray& to)
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

void FileCalls::tidyBeforeWriting(int folderFd)
{
    struct stat folderStat {};
    if (tidiedFolders && ::fstat(folderFd, &folderStat) == 0
        && !tidiedFolders->emplace(folderStat.st_dev, folderStat.st_ino).second)
        return;
    tidyFolder(folderFd, false);
}

TidyEachFolderOnce::TidyEachFolderOnce() : m_outer(tidiedFolders)
{
    tidiedFolders = &m_tidied;
}

TidyEachFolderOnce::~TidyEachFolderOnce()
{
    tidiedFolders = m_outer;
}

void RemoveStaleCopies(const QString& folder)
{
    const int fd = openRetrying(AT_FDCWD, QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    tidyFolder(fd, false);
    ::close(fd);
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
