#include "DurableCopy.h"

#include "FileCalls.h"

#include <QByteArray>
#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace FileCalls;

namespace {

constexpr size_t ChunkBytes = size_t(1) << 20;

std::atomic<int64_t> faultAfterBytes{-1};
std::atomic<int> faultError{0};
std::atomic<int64_t> corruptOffset{-1};
std::function<void(const QString&)> folderSyncObserver;

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

} // namespace

int FileCalls::syncFolder(int fd, const QByteArray& path)
{
    if (::fsync(fd) != 0 && errno != EINVAL)
        return errno;
    if (folderSyncObserver)
        folderSyncObserver(QFile::decodeName(path));
    return 0;
}

int FileCalls::copyBytes(int in, int out, int64_t size, const CopyProgress& progress)
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

int FileCalls::verifyCopy(int in, int check, int64_t size, const CopyProgress& progress,
               const std::vector<CopyPatch>& patches, bool cacheDropped)
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

int FileCalls::openCopyEnds(const QString& source, const QString& destination, int& in, struct stat& sourceStat,
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

int FileCalls::takeSourceAttributes(int out, const struct stat& sourceStat, bool copyTimes)
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
