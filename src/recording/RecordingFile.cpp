#include "RecordingFile.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The earlier of birth and last-write time; the one there is; 0 for neither.
int64_t creationTimeOf(const struct statx& st)
{
    const bool hasWrite = st.stx_mask & STATX_MTIME;
    const bool hasBirth = (st.stx_mask & STATX_BTIME) && st.stx_btime.tv_sec > 0;
    if (hasBirth && hasWrite)
        return std::min<int64_t>(st.stx_btime.tv_sec, st.stx_mtime.tv_sec);
    if (hasBirth)
        return st.stx_btime.tv_sec;
    if (hasWrite)
        return st.stx_mtime.tv_sec;
    return 0;
}

// The first read covers a recording's tag, header and first audio frames;
// later reads (a walk through padding or audio data) take larger steps.
constexpr size_t kFirstWindow = 4096;
constexpr size_t kLaterWindow = 65536;

RecordingFile::LockFunction& lockFunction()
{
    static RecordingFile::LockFunction lock = ::flock;
    return lock;
}

// Whether the file may be used without the exclusive lock that failed with
// error. Another holder (EWOULDBLOCK) always keeps it closed. A file system
// without locks (ENOLCK, EOPNOTSUPP) guards against nobody, so refusing there
// would only make its recordings vanish and their headers unwritable. NFS
// emulates flock with byte-range locks, and an exclusive one needs a writable
// descriptor: EBADF on a read-only open is that, not a holder.
bool mayGoOnUnlocked(int error, RecordingFile::Access access)
{
    if (error == ENOLCK || error == EOPNOTSUPP)
        return true;
    return error == EBADF && access == RecordingFile::Access::Read;
}

} // namespace

void RecordingFile::SetLockFunction(LockFunction lock)
{
    lockFunction() = lock ? std::move(lock) : LockFunction(::flock);
}

RecordingFile::~RecordingFile()
{
    close();
}

bool RecordingFile::open(const QString& path, Access access)
{
    return open(QFile::encodeName(path), access);
}

bool RecordingFile::IsRegularFile(const QByteArray& nativePath, int& error)
{
    return IsRegularFileAt(AT_FDCWD, nativePath.constData(), error);
}

bool RecordingFile::IsRegularFileAt(int folder, const char* name, int& error)
{
    struct stat st {};
    if (::fstatat(folder, name, &st, 0) != 0) {
        error = errno;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
        return false;
    }
    return true;
}

int64_t RecordingFile::CreationTimeOf(const QString& path)
{
    struct statx st {};
    if (statx(AT_FDCWD, QFile::encodeName(path).constData(), 0, STATX_MTIME | STATX_BTIME, &st) != 0)
        return 0;
    return creationTimeOf(st);
}

int RecordingFile::OpenKeepingAccessTime(const QByteArray& nativePath, int flags)
{
    return OpenKeepingAccessTimeAt(AT_FDCWD, nativePath.constData(), flags);
}

int RecordingFile::OpenKeepingAccessTimeAt(int folder, const char* name, int flags)
{
    for (const int extra : {O_NOATIME, 0}) {
        int fd;
        do {
            fd = ::openat(folder, name, flags | extra);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0 || errno != EPERM || extra == 0)
            return fd;
    }
    return -1;
}

bool RecordingFile::open(const QByteArray& nativePath, Access access, bool knownRegular)
{
    return openAt(AT_FDCWD, nativePath.constData(), access, knownRegular);
}

bool RecordingFile::openAt(int folder, const char* name, Access access, bool knownRegular)
{
    close();
    if (!knownRegular && !IsRegularFileAt(folder, name, m_error))
        return false;
    // Without O_NONBLOCK a FIFO named like a recording would hold the open until
    // something writes to it; regular files ignore the flag.
    const int flags =
        (access == Access::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const int fd = OpenKeepingAccessTimeAt(folder, name, flags);
    if (fd < 0) {
        m_error = errno;
        return false;
    }
    int locked;
    do {
        locked = lockFunction()(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0 && !mayGoOnUnlocked(errno, access)) {
        m_error = errno;
        ::close(fd);
        return false;
    }
    struct statx st {};
    constexpr unsigned kWanted = STATX_TYPE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME
                              | STATX_CTIME | STATX_INO;
    if (statx(fd, "", AT_EMPTY_PATH, kWanted, &st) != 0) {
        m_error = errno;
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.stx_mode)) {
        m_error = S_ISDIR(st.stx_mode) ? EISDIR : kNotRegularFile;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_error = 0;
    m_size = int64_t(st.stx_size);
    const bool hasWrite = st.stx_mask & STATX_MTIME;
    m_times[0] = st.stx_mask & STATX_ATIME ? timespec{st.stx_atime.tv_sec, st.stx_atime.tv_nsec}
                                           : timespec{0, UTIME_OMIT};
    m_times[1] =
        hasWrite ? timespec{st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec} : timespec{0, UTIME_OMIT};
    m_creationTime = creationTimeOf(st);
    m_identity = {makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino};
    m_stamp = FileStamp::FromStatx(st);
    return true;
}

FileStamp RecordingFile::currentStamp() const
{
    struct statx st {};
    constexpr unsigned kWanted = STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME;
    if (m_fd < 0 || statx(m_fd, "", AT_EMPTY_PATH, kWanted, &st) != 0)
        return m_stamp;
    return FileStamp::FromStatx(st);
}

void RecordingFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock as well
    m_fd = -1;
    m_window.clear();
    m_windowStart = 0;
}

size_t RecordingFile::readAt(int64_t position, void* destination, size_t length)
{
    if (m_fd < 0 || position < 0 || position >= m_size)
        return 0;
    auto* out = static_cast<unsigned char*>(destination);
    size_t done = 0;
    while (done < length) {
        const int64_t at = position + int64_t(done);
        if (at >= m_size)
            break;
        const int64_t windowEnd = m_windowStart + int64_t(m_window.size());
        if (at < m_windowStart || at >= windowEnd) {
            if (fillWindow(at, m_window.empty() && at == 0 ? kFirstWindow : kLaterWindow) == 0)
                break;
            continue;
        }
        const size_t offset = size_t(at - m_windowStart);
        const size_t take = std::min(length - done, m_window.size() - offset);
        std::memcpy(out + done, m_window.data() + offset, take);
        done += take;
    }
    return done;
}

size_t RecordingFile::fillWindow(int64_t position, size_t want)
{
    m_window.resize(want);
    ssize_t got;
    do {
        got = ::pread(m_fd, m_window.data(), want, position);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        m_window.clear();
        return 0;
    }
    m_window.resize(size_t(got));
    m_windowStart = position;
    return size_t(got);
}

int64_t RecordingFile::nextNonZero(int64_t position)
{
    static const unsigned char zeros[4096] = {};
    while (m_fd >= 0 && position < m_size) {
        // Where the file system knows its holes, jump to the next data and scan
        // only up to the hole after it; elsewhere everything counts as data.
        int64_t dataEnd = m_size;
        const off_t data = ::lseek(m_fd, position, SEEK_DATA);
        if (data >= 0) {
            position = data;
            const off_t hole = ::lseek(m_fd, position, SEEK_HOLE);
            if (hole > position)
                dataEnd = std::min<int64_t>(hole, m_size);
        } else if (errno == ENXIO) {
            return m_size; // a hole up to the end
        }
        while (position < dataEnd) {
            const size_t got = fillWindow(position, kLaterWindow);
            if (got == 0)
                return m_size;
            const unsigned char* bytes = m_window.data();
            for (size_t offset = 0; offset < got; offset += sizeof zeros) {
                const size_t piece = std::min(sizeof zeros, got - offset);
                if (std::memcmp(bytes + offset, zeros, piece) == 0)
                    continue;
                for (size_t i = offset;; ++i) {
                    if (bytes[i] != 0)
                        return position + int64_t(i);
                }
            }
            position += int64_t(got);
        }
    }
    return std::max(position, m_size);
}

bool RecordingFile::writeAtAndSync(int64_t position, const void* source, size_t length, bool* timesRestored)
{
    if (!writeAt(position, source, length, timesRestored))
        return false;
    // One sync makes the bytes and the times lasting together, so a card pulled
    // at once still shows the recording's own start time.
    if (::fsync(m_fd) != 0) {
        m_error = errno;
        return false;
    }
    return true;
}

bool RecordingFile::writeAt(int64_t position, const void* source, size_t length, bool* timesRestored)
{
    if (m_fd < 0)
        return false;
    const auto* in = static_cast<const unsigned char*>(source);
    size_t done = 0;
    int error = 0;
    while (done < length) {
        const ssize_t put = ::pwrite(m_fd, in + done, length - done, position + int64_t(done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            error = put < 0 ? errno : EIO;
            break;
        }
        done += size_t(put);
    }
    m_window.clear(); // whatever was cached may now be stale
    // Even a write that failed part-way may have moved the times: they go back either way.
    const bool restored = ::futimens(m_fd, m_times) == 0;
    if (timesRestored)
        *timesRestored = restored;
    if (error != 0) {
        m_error = error;
        return false;
    }
    m_size = std::max(m_size, position + int64_t(length));
    return true;
}
