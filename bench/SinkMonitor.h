#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

// What the default sink plays, recorded from its monitor by parec, with the time at which
// each sample was played on the steady clock. The time of a sample is found from when the
// blocks arrived: a block cannot arrive before its last sample was played, so the earliest
// arrival, less the samples before it, fixes the recording's start.
class SinkMonitor
{
public:
    static constexpr int kRate = 44100;

    ~SinkMonitor();
    // Starts recording; false when parec cannot be run or records nothing.
    bool start();
    void stop();

    // Seconds on the steady clock.
    static double now();

    // The time at which a sample louder than the threshold was first played at or after
    // since, waiting up to timeout seconds for it; a negative number when none came.
    double firstLoud(double since, int threshold, double timeout) const;
    // The times after since at which the sound became louder than the threshold after at
    // least quietSeconds below it, waiting until the given time.
    std::vector<double> onsets(double since, double until, int threshold, double quietSeconds) const;

private:
    void readLoop(int fd);
    double timeOfLocked(size_t sample) const;
    size_t sampleAtLocked(double time) const;

    pid_t m_pid = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::vector<int16_t> m_samples;
    double m_start = 1e300; // steady-clock time of sample 0
    std::atomic<bool> m_stop{false};
};
