#include "TestFiles.h"

#include <QFile>
#include <chrono>
#include <fcntl.h>
#include <future>
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
