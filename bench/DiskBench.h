#pragma once

#include "fileops/FileOperations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <initializer_list>
#include <linux/magic.h>
#include <span>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

// What the benchmarks that write to the disk share: their folder, the syncs between passes,
// the timing of one pass with its figures over the rounds, and a window side that shows nothing.

// Wall and CPU seconds of one pass, the CPU time as cpuSeconds() counts it.
struct Timing
{
    double wall = 0;
    double cpu = 0;
};

// The mean of one figure (&Timing::wall or &Timing::cpu) over rounds.
inline double mean(const std::vector<Timing>& timings, double Timing::*figure)
{
    double sum = 0;
    for (const Timing& timing : timings)
        sum += timing.*figure;
    return sum / double(timings.size());
}

// The lowest and highest wall time ratio of one round's pair, ours to the reference's: how
// much the disk's other users moved the figures.
inline std::pair<double, double> ratioSpread(const std::vector<Timing>& ours,
                                             const std::vector<Timing>& reference)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size(); ++i)
        ratios.push_back(ours[i].wall / reference[i].wall);
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    return {*low, *high};
}

// The process's CPU time and that of the children it has waited for, kernel time included,
// so that a reference run as a command (cp) counts its own work too.
inline double cpuSeconds()
{
    timespec self{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &self);
    rusage children{};
    ::getrusage(RUSAGE_CHILDREN, &children);
    double seconds = double(self.tv_sec) + double(self.tv_nsec) / 1e9;
    for (const timeval& time : {children.ru_utime, children.ru_stime})
        seconds += double(time.tv_sec) + double(time.tv_usec) / 1e6;
    return seconds;
}

// The time of work alone: a pass sets up before it and checks what it left after it.
template <typename Work> Timing timed(Work work)
{
    const auto wall = std::chrono::steady_clock::now();
    const double cpu = cpuSeconds();
    work();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(),
            cpuSeconds() - cpu};
}

// Timed rounds of passes that take turns at going first, after an untimed round that runs each
// pass in order: timed round r runs them from pass (first + r) % passes on. A pass gives its
// time and whether it left the files it should. rounds[p] gets pass p's time of each round (one
// vector a pass), the iteration's time is that of pass timedPass. False, with the run skipped,
// when a pass failed.
inline bool runTurns(benchmark::State& state, std::span<std::vector<Timing>> rounds,
                     const std::function<bool(int pass, Timing&)>& run, int timedPass, int first = 0)
{
    const int passes = int(rounds.size());
    Timing warmUp;
    for (int pass = 0; pass < passes; ++pass) {
        if (!run(pass, warmUp)) {
            state.SkipWithError("the warm-up round failed");
            return false;
        }
    }
    for (std::vector<Timing>& times : rounds)
        times.clear();
    int round = 0;
    for (auto _ : state) {
        std::vector<Timing> timings(rounds.size());
        for (int i = 0; i < passes; ++i) {
            const int pass = (first + round + i) % passes;
            if (!run(pass, timings[size_t(pass)])) {
                state.SkipWithError("a pass did not leave the files it should");
                return false;
            }
        }
        ++round;
        state.SetIterationTime(timings[size_t(timedPass)].wall);
        for (int pass = 0; pass < passes; ++pass)
            rounds[size_t(pass)].push_back(timings[size_t(pass)]);
    }
    return true;
}

// A tmpfs leaves nothing for fsync to do, so its figures would say nothing of a disk.
inline bool onTmpfs(const QString& path)
{
    struct statfs fs = {};
    return ::statfs(QFile::encodeName(path).constData(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

// The folder of the benchmark called name: below TALVEN77_BENCH_DIR when it is set, else below
// talven77-bench in the temporary folder, or in the program's own folder when the temporary
// one is a tmpfs, where fsync would cost nothing.
inline QString benchFolder(const QString& name)
{
    QString base = qEnvironmentVariable("TALVEN77_BENCH_DIR");
    if (base.isEmpty())
        base = (onTmpfs(QDir::tempPath()) ? QCoreApplication::applicationDirPath()
                                          : QDir::tempPath()) +
               QStringLiteral("/talven77-bench");
    return base + QLatin1Char('/') + name;
}

// Files kept between runs: write makes them when the marker is missing, and the marker is
// written once they are whole, so that a run stopped halfway makes them again.
inline bool keptBetweenRuns(const QString& marker, const std::function<bool()>& write)
{
    if (QFile::exists(marker))
        return true;
    if (!write())
        return false;
    QFile file(marker);
    return file.open(QIODevice::WriteOnly) && file.write("1") == 1;
}

// Folders that passes write into, made again empty.
inline void emptyFolders(std::initializer_list<QString> folders)
{
    for (const QString& folder : folders) {
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
    }
}

// Syncs the file system that holds folder: nothing of an earlier pass left in flight for the
// next one to pay for.
inline void syncFileSystem(const QString& folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

// Says where the benchmark writes and what it prepared there (detail), with a warning on a
// tmpfs, and syncs the file system: the first pass starts from a synced disk.
inline void announceFolders(const QString& root, const QString& detail)
{
    if (onTmpfs(root))
        std::printf("Warning: %s is a tmpfs, where fsync costs nothing.\n", qPrintable(root));
    std::printf("Folders in %s; %s.\n", qPrintable(root), qPrintable(detail));
    syncFileSystem(root);
}

// The window side with nothing to show: every question is cancelled, so a pass must meet no
// name clash. With Events::Processed each turn the engine gives the window runs the event
// loop once, on an empty queue, as the window would.
class QuietHost : public FileOperationsHost
{
public:
    enum class Events
    {
        Ignored,
        Processed
    };

    explicit QuietHost(Events events = Events::Ignored) : m_events(events) {}

    bool askOverwrite(const QString&, const QString&, int&, bool&) override { return false; }
    void showProgress(int, int) override {}
    void setProgress(int, const QString&, const QString&) override {}
    bool cancelRequested() const override { return false; }
    void statusText(const QString&) override {}
    void processEvents() override
    {
        if (m_events == Events::Processed)
            QCoreApplication::processEvents();
    }
    void addRow(const tagFileList&) override {}
    void replaceRow(const tagFileList&) override {}
    void refillList() override {}

private:
    Events m_events;
};
