#pragma once

#include <QByteArray>
#include <QString>
#include <csignal>
#include <cstdint>
#include <functional>

// Small helpers for tests that work on real files.
QByteArray ReadWholeFile(const QString& path);

// Runs work on a thread of its own and waits for it. When it has not finished
// after timeoutMs, unblock is called every 100 ms until it does, and the
// answer is false: a test of something that must not hang fails instead of
// hanging. unblock must be able to free whatever work waits for.
bool FinishesWithin(int timeoutMs, const std::function<void()>& work,
                    const std::function<void()>& unblock);

// Makes a FIFO (named pipe) at path.
bool MakeFifo(const QString& path);
// Lets every reader that waits on the FIFO go on: it is opened for writing and
// closed again, so a reader blocked in open sees the end of its data.
void ReleaseFifoReaders(const QString& path);

// The bytes and times of a file: equal snapshots mean nothing wrote to it
// (the change time moves with every write, even one that puts the other
// times back). An empty snapshot for a file that cannot be looked at.
struct FileSnapshot
{
    QByteArray bytes;
    int64_t times[3][2] = {}; // access, modification, change: seconds, nanoseconds
    bool operator==(const FileSnapshot&) const = default;
};
FileSnapshot SnapshotFile(const QString& path);

// Holds the process's file-size limit (RLIMIT_FSIZE) at bytes while it lives: a write
// beyond it fails with EFBIG, as a full disk makes it fail, and SIGXFSZ is ignored
// meanwhile so that the process lives on. ok() tells whether the limit was set.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(int64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return m_set; }

private:
    bool m_set = false;
    uint64_t m_savedCurrent = 0; // the soft limit before
    void (*m_savedHandler)(int) = SIG_ERR;
};
