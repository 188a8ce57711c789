#include "SinkMonitor.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A low latency keeps the sink's blocks short, so that a block arrives as it is played;
// TALVEN77_MONITOR_LATENCY_MS overrides it to watch the sink as other clients leave it.
const char* latency()
{
    static const std::string option = "--latency-msec="
                                      + std::string(std::getenv("TALVEN77_MONITOR_LATENCY_MS")
                                                        ? std::getenv("TALVEN77_MONITOR_LATENCY_MS")
                                                        : "5");
    return option.c_str();
}

} // namespace

SinkMonitor::~SinkMonitor()
{
    stop();
}

double SinkMonitor::now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool SinkMonitor::start()
{
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    const std::string rate = "--rate=" + std::to_string(kRate);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execlp("parec", "parec", "--device=@DEFAULT_MONITOR@", "--raw", "--format=s16le", "--channels=1",
                 rate.c_str(), latency(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (m_pid < 0) {
        ::close(fds[0]);
        return false;
    }
    m_reader = std::thread([this, fd = fds[0]] { readLoop(fd); });
    const double deadline = now() + 5.0;
    while (now() < deadline) {
        {
            std::lock_guard lock(m_mutex);
            if (m_samples.size() > size_t(kRate / 10))
                return true;
        }
        ::usleep(10000);
    }
    stop();
    return false;
}

void SinkMonitor::stop()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (m_reader.joinable())
        m_reader.join();
}

void SinkMonitor::readLoop(int fd)
{
    int16_t block[256];
    size_t carried = 0; // a byte of a sample split between two reads
    char* bytes = reinterpret_cast<char*>(block);
    for (;;) {
        const ssize_t got = ::read(fd, bytes + carried, sizeof block - carried);
        if (got <= 0)
            break;
        const double arrived = now();
        const size_t total = carried + size_t(got);
        const size_t count = total / 2;
        std::lock_guard lock(m_mutex);
        m_samples.insert(m_samples.end(), block, block + count);
        m_start = std::min(m_start, arrived - double(m_samples.size()) / kRate);
        carried = total % 2;
        if (carried)
            bytes[0] = bytes[total - 1];
    }
    ::close(fd);
}

double SinkMonitor::timeOfLocked(size_t sample) const
{
    return m_start + double(sample) / kRate;
}

size_t SinkMonitor::sampleAtLocked(double time) const
{
    return time <= m_start ? 0 : size_t((time - m_start) * kRate);
}

double SinkMonitor::firstLoud(double since, int threshold, double timeout) const
{
    const double deadline = now() + timeout;
    size_t from = 0;
    bool placed = false;
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (!placed) {
                from = sampleAtLocked(since);
                placed = true;
            }
            for (size_t i = from; i < m_samples.size(); ++i) {
                if (std::abs(int(m_samples[i])) > threshold)
                    return timeOfLocked(i);
            }
            from = std::max(from, m_samples.size());
        }
        if (now() > deadline)
            return -1;
        ::usleep(2000);
    }
}

std::vector<double> SinkMonitor::onsets(double since, double until, int threshold, double quietSeconds) const
{
    while (now() < until)
        ::usleep(5000);
    std::lock_guard lock(m_mutex);
    std::vector<double> found;
    const size_t quiet = size_t(quietSeconds * kRate);
    size_t quietRun = quiet;
    const size_t end = std::min(m_samples.size(), sampleAtLocked(until));
    for (size_t i = sampleAtLocked(since); i < end; ++i) {
        if (std::abs(int(m_samples[i])) > threshold) {
            if (quietRun >= quiet)
                found.push_back(timeOfLocked(i));
            quietRun = 0;
        } else {
            ++quietRun;
        }
    }
    return found;
}
