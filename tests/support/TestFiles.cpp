#include "TestFiles.h"

#include <QFile>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

QByteArray ReadWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool FinishesWithin(int timeoutMs, const std::function<void()>& work,
                    const std::function<void()>& unblock)
{
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread worker([&] {
        work();
        done.set_value();
    });
    using std::chrono::milliseconds;
    const bool inTime = finished.wait_for(milliseconds(timeoutMs)) == std::future_status::ready;
    while (finished.wait_for(milliseconds(inTime ? 0 : 100)) != std::future_status::ready)
        unblock();
    worker.join();
    return inTime;
}

bool MakeFifo(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
}

void ReleaseFifoReaders(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
}

FileSnapshot SnapshotFile(const QString& path)
{
    FileSnapshot snapshot;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return snapshot;
    // Read without moving the access time, where this process may ask for that.
    int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd < 0)
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QFile file;
    if (fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        snapshot.bytes = file.readAll();
    else if (fd >= 0)
        ::close(fd);
    const timespec times[3] = {st.st_atim, st.st_mtim, st.st_ctim};
    for (int i = 0; i < 3; ++i) {
        snapshot.times[i][0] = times[i].tv_sec;
        snapshot.times[i][1] = times[i].tv_nsec;
    }
    return snapshot;
}

FileSizeLimit::FileSizeLimit(int64_t bytes)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return;
    m_savedCurrent = limit.rlim_cur;
    m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = rlim_t(bytes);
    m_set = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    if (m_set && ::getrlimit(RLIMIT_FSIZE, &limit) == 0) {
        limit.rlim_cur = rlim_t(m_savedCurrent);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (m_savedHandler != SIG_ERR)
        std::signal(SIGXFSZ, m_savedHandler);
}
