#pragma once

#include "FileStamp.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <ctime>
#include <functional>
#include <vector>

// Which file a path named when it was opened: a file renamed, replaced or
// deleted meanwhile is another one (or none) at the same path.
struct FileIdentity
{
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// A recording opened for exclusive access for the length of one operation.
// The open takes a non-blocking exclusive lock, so two writers never interleave
// and a file held by another operation fails to open. Reads go through a small
// window so that the header walk and the duration probe share one read of the
// file's start.
class RecordingFile
{
public:
    enum class Access { Read, ReadWrite };

    RecordingFile() = default;
    ~RecordingFile();
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;

    // error() of a FIFO, device or socket: they are never read as recordings.
    static constexpr int kNotRegularFile = -1;

    // Whether a path names a regular file (through links), looked at before it
    // is opened: opening a device can have effects of its own (a tape rewinds,
    // a watchdog starts). False with errno, EISDIR or kNotRegularFile in error.
    static bool IsRegularFile(const QByteArray& nativePath, int& error);
    // The same for a name in the folder open as folder (or a path, with AT_FDCWD).
    static bool IsRegularFileAt(int folder, const char* name, int& error);

    // open(2) with flags, asking that reads leave the access time alone: a
    // recording looked at, listed or played is not touched in any way. Where
    // the file system or the file's owner does not allow that (EPERM for a file
    // of another user), the file is opened as usual. -1 with errno on failure.
    static int OpenKeepingAccessTime(const QByteArray& nativePath, int flags);
    static int OpenKeepingAccessTimeAt(int folder, const char* name, int flags);

    // Opens without creating or truncating, and without waiting on special
    // files. On failure error() holds errno (EISDIR for a folder, EWOULDBLOCK
    // for a file that another operation holds), or kNotRegularFile.
    // Where the file system cannot lock (ENOLCK, EOPNOTSUPP) the file is used
    // without the lock; so is a file opened for reading over NFS, whose
    // exclusive locks need a writable descriptor (EBADF).
    // knownRegular: the caller has just seen the entry as a regular file (a
    // folder listing says so), so the look before the open is spared.
    bool open(const QString& path, Access access);
    bool open(const QByteArray& nativePath, Access access, bool knownRegular = false);
    // The same for a name in the folder open as folder, which spares the walk along the path.
    bool openAt(int folder, const char* name, Access access, bool knownRegular = false);
    void close();

    bool isOpen() const { return m_fd >= 0; }
    int error() const { return m_error; }
    int descriptor() const { return m_fd; }
    int64_t size() const { return m_size; }
    // The earlier of birth time and last-write time, in seconds since 1970; the
    // last-write time where the file system reports no birth time; 0 for neither.
    int64_t creationTime() const { return m_creationTime; }
    FileIdentity identity() const { return m_identity; }
    // The file's status as found at open.
    const FileStamp& stamp() const { return m_stamp; }
    // The open file's status now (after a write); the stamp found at open when it
    // cannot be looked at.
    FileStamp currentStamp() const;
    // The creation time of a file, looked at without opening it (a file that
    // another operation holds still has one); 0 when it cannot be looked at.
    static int64_t CreationTimeOf(const QString& path);

    // Reads up to length bytes at a 64-bit position; returns the bytes read,
    // fewer at the end of the file and none past it.
    size_t readAt(int64_t position, void* destination, size_t length);
    // The position of the first byte that is not zero at or after position, or
    // size() when only zeros follow. Holes of a sparse file are passed over
    // without reading them.
    int64_t nextNonZero(int64_t position);
    // Writes all bytes at position, puts back the access and last-write times
    // found at open, and waits until both have reached the device (one sync for
    // the two). A recording's start time is the earlier of birth and last-write
    // time, and a copy's birth time is the moment of copying, so a header write
    // must not move them. False when the bytes did not reach the device;
    // timesRestored tells whether the file system took the times back (a file
    // of another owner that this user may write but not re-date refuses them).
    bool writeAtAndSync(int64_t position, const void* source, size_t length, bool* timesRestored = nullptr);
    // The same without the sync: the bytes and times reach the device with a later
    // sync of the file system, which a caller making many writes shares among them.
    bool writeAt(int64_t position, const void* source, size_t length, bool* timesRestored = nullptr);

    // The lock call, flock(2) unless replaced. Tests stand in for file systems
    // whose locks fail in their own ways; an empty function restores flock.
    using LockFunction = std::function<int(int fd, int operation)>;
    static void SetLockFunction(LockFunction lock);

private:
    // Reads up to want bytes at position into the window; the bytes read.
    size_t fillWindow(int64_t position, size_t want);

    int m_fd = -1;
    int m_error = 0;
    int64_t m_size = 0;
    int64_t m_creationTime = 0;
    FileIdentity m_identity;
    FileStamp m_stamp;
    timespec m_times[2]{}; // access, last write; UTIME_OMIT where unknown
    std::vector<unsigned char> m_window;
    int64_t m_windowStart = 0;
};
