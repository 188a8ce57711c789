#include "CopyBatch.h"

#include "FileCalls.h"

#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace FileCalls;

namespace {

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

} // namespace

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
