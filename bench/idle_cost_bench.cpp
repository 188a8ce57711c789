// What the engine costs the whole process while the user listens or waits: processor time
// (as a share of one core) and wake-ups (context switches of all its threads, voluntary
// and not) over a few seconds stopped, paused and playing at each speed, into the default
// audio output; beside `mpg123 -o pulse` playing the same file in the same run, measured
// the same way from /proc. Goals: paused costs what stopped costs (under 0.2 % of a core,
// under 10 wake-ups per second); playing at normal speed within 1.3 times mpg123's
// processor time and wake-ups.
#include "CardBuilder.h"
#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "audio/Mp3Ctrl.h"
#include "platform/QtAudioOutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr double kRecordingSeconds = 30.0;
// Each state settles this long before it is measured (the output's buffers fill, a
// player's start is over), then is measured this long.
constexpr int kSettleMs = 1000;
constexpr int kMeasureMs = 5000;

// A process's processor time and context switches so far, summed over its threads.
struct Usage
{
    double cpuSeconds = 0;
    double switches = 0;
};

// From /proc/<pid>/task/*: schedstat's time on a processor (nanoseconds) and status's
// voluntary and involuntary context switches.
std::optional<Usage> usageOf(const QString& pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty())
        return std::nullopt;
    Usage usage;
    for (const QString& thread : threads) {
        QFile schedstat(tasks + u'/' + thread + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly))
            usage.cpuSeconds += QString::fromLatin1(schedstat.readAll()).section(u' ', 0, 0).toDouble() / 1e9;
        QFile status(tasks + u'/' + thread + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                usage.switches += line.mid(line.indexOf(':') + 1).trimmed().toDouble();
        }
    }
    return usage;
}

double monotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Per second of wall time: the share of one core in percent, and wake-ups.
struct Cost
{
    double corePercent = 0;
    double wakeUpsPerSecond = 0;
};

// Lets the event loop run for the time (this process's own thread sleeps in it).
void runFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Measures the process over kMeasureMs while the event loop runs.
std::optional<Cost> measure(const QString& pid)
{
    const std::optional<Usage> before = usageOf(pid);
    const double start = monotonicSeconds();
    runFor(kMeasureMs);
    const std::optional<Usage> after = usageOf(pid);
    const double wall = monotonicSeconds() - start;
    if (!before || !after)
        return std::nullopt;
    return Cost{(after->cpuSeconds - before->cpuSeconds) * 100.0 / wall, (after->switches - before->switches) / wall};
}

std::optional<Cost> measureSelf()
{
    return measure(QString::number(getpid()));
}

// mpg123 playing the file to the default sound server, measured after it settled.
std::optional<Cost> measureMpg123(const QString& file)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("mpg123"));
    if (program.isEmpty())
        return std::nullopt;
    const QByteArray path = QFile::encodeName(program);
    const QByteArray audio = QFile::encodeName(file);
    char* arguments[] = {const_cast<char*>(path.constData()), const_cast<char*>("-q"), const_cast<char*>("-o"),
                         const_cast<char*>("pulse"), const_cast<char*>(audio.constData()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, path.constData(), nullptr, nullptr, arguments, environ) != 0)
        return std::nullopt;
    runFor(kSettleMs);
    std::optional<Cost> cost = measure(QString::number(pid));
    int status = 0;
    // Still playing after the measured time: it is ended here. Ended already: it did not play.
    const bool running = waitpid(pid, &status, WNOHANG) == 0;
    ::kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
    if (!running)
        return std::nullopt;
    return cost;
}

void printRow(const char* what, const std::optional<Cost>& cost)
{
    if (cost)
        std::printf("  %-34s %6.2f %% of a core  %7.1f wake-ups/s\n", what, cost->corePercent, cost->wakeUpsPerSecond);
    else
        std::printf("  %-34s not measured\n", what);
}

void printRatio(const char* what, const std::optional<Cost>& ours, const std::optional<Cost>& reference,
                const char* goal)
{
    if (!ours || !reference || reference->corePercent <= 0 || reference->wakeUpsPerSecond <= 0)
        return;
    std::printf("%s: processor time %.2fx, wake-ups %.2fx (%s)\n", what, ours->corePercent / reference->corePercent,
                ours->wakeUpsPerSecond / reference->wakeUpsPerSecond, goal);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!QtAudioOutput::hasOutputDevice()) {
        std::printf("No audio output: nothing to measure (start a sound server first).\n");
        return 0;
    }
    const QString folder =
        qEnvironmentVariable("TALVEN77_BENCH_DIR", QDir::tempPath() + QStringLiteral("/talven77-bench"));
    QDir().mkpath(folder);
    const QString file = folder + QStringLiteral("/idle-cost-30s.mp3");
    // The heaviest of the recorder's formats: 44.1 kHz stereo at 128 kbit/s.
    if (!WriteFileBytes(file, BuildRecording(MakeVoiceHeader(2), EncodeMp3(RecorderFormat(2), kRecordingSeconds, 5).bytes)))
        return 1;

    CMp3Ctrl engine;
    if (!engine.Open(file)) {
        std::printf("The recording did not open.\n");
        return 1;
    }
    runFor(kSettleMs);
    const std::optional<Cost> opened = measureSelf();

    // Played from the start: 1.0x, paused, resumed at 1.5x, then 0.75x; in all some 20 s of
    // the recording, so that it never reaches its end while measured.
    const auto measurePlaying = [&] {
        runFor(kSettleMs);
        std::optional<Cost> cost = measureSelf();
        return engine.m_state == CMp3Ctrl::Playing ? cost : std::nullopt;
    };
    std::optional<Cost> playing[3];
    engine.Play();
    playing[CMp3Ctrl::Normal] = measurePlaying();
    engine.Pause();
    runFor(kSettleMs);
    const std::optional<Cost> paused = engine.m_state == CMp3Ctrl::Paused ? measureSelf() : std::nullopt;
    engine.Play();
    engine.SetSpeed(CMp3Ctrl::Fast);
    playing[CMp3Ctrl::Fast] = measurePlaying();
    engine.SetSpeed(CMp3Ctrl::Slow);
    playing[CMp3Ctrl::Slow] = measurePlaying();
    engine.SetSpeed(CMp3Ctrl::Normal);
    engine.Stop();
    runFor(kSettleMs);
    const std::optional<Cost> stopped = measureSelf();
    engine.Close();

    const std::optional<Cost> mpg123 = measureMpg123(file);

    std::printf("The whole process over %.0f s in each state (a %.0f s recording, 44.1 kHz stereo, 128 kbit/s):\n",
                kMeasureMs / 1000.0, kRecordingSeconds);
    printRow("opened, never played", opened);
    printRow("stopped", stopped);
    printRow("paused", paused);
    printRow("playing at 1.0x", playing[CMp3Ctrl::Normal]);
    printRow("playing at 1.5x", playing[CMp3Ctrl::Fast]);
    printRow("playing at 0.75x", playing[CMp3Ctrl::Slow]);
    printRow("mpg123 -o pulse playing (reference)", mpg123);
    printRatio("Paused against stopped", paused, stopped, "goal: under 0.2 % of a core and 10 wake-ups/s");
    printRatio("Playing at 1.0x against mpg123", playing[CMp3Ctrl::Normal], mpg123, "goal: within 1.3x");
    if (!mpg123)
        std::printf("mpg123 did not play (is it installed?): no reference.\n");
    return 0;
}
