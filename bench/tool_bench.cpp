// talven77-tool as a user runs it, a whole process each time, against the least a program
// can do for the same work (bench/floor.c, a process too), in alternating rounds:
// - search with a warm index over 9,999 recordings in one folder and over 100,000 in 20
//   folders (one hit) against a walk that stats each file once, plus the tool's own start
//   (talven77-tool --help) measured alone;
// - scan of the 9,999 (no index) against a walk with stat + open + read 4 KiB + close per
//   file, plus the start;
// - export of a 40-minute MP3 section of a 1-hour recording, then sync of the output, against
//   cp of as many bytes, then sync of the copy.
// Goals: search and scan within 2 times their floor plus the start, export within 1.3 times
// cp + sync.
#include "CardBuilder.h"
#include "DiskBench.h"
#include "RecordingBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <array>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int kOneFolder = 9999;
constexpr int kFolders = 20;
constexpr int kPerFolder = 5000; // 20 folders of 5,000: 100,000
constexpr double kSearchScanGoal = 2.0;
constexpr double kExportGoal = 1.3;

QString g_root;
QString g_small;     // one folder of 9,999 recordings
QString g_large;     // 20 folders of 5,000 recordings
QString g_recording; // the 1-hour recording
QString g_sameBytes; // as many bytes as its exported section
QString g_out;
QString g_output;    // where a pass's standard output goes
QString g_exported;  // the file the last export wrote
std::vector<QByteArray> g_environment;

// Recordings of a few seconds with a header and a memo of their own each.
bool writeRecordings(const QString& folder, int first, int count, const QList<QByteArray>& audio)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = first; i < first + count; ++i) {
        const QByteArray bytes = BuildRecording(
            MakeVoiceHeader(uint8_t(i % 2), QStringLiteral("定例会議 第%1回").arg(i), {uint32_t(i % 7 + 1)}),
            audio[i % 2]);
        if (!WriteFileBytes(folder + QStringLiteral("/REC%1.MP3").arg(i, 6, 10, QLatin1Char('0')), bytes))
            return false;
    }
    return true;
}

bool prepare()
{
    g_root = benchFolder(QStringLiteral("tool"));
    g_small = g_root + QStringLiteral("/small");
    g_large = g_root + QStringLiteral("/large");
    g_out = g_root + QStringLiteral("/out");
    g_output = g_root + QStringLiteral("/stdout.txt");
    g_recording = g_root + QStringLiteral("/REC0001.MP3");
    g_sameBytes = g_root + QStringLiteral("/same-bytes.bin");
    const auto shortAudio = [] {
        return QList<QByteArray>{EncodeMp3(RecorderFormat(0), 3.0, 1).bytes, EncodeMp3(RecorderFormat(1), 2.0, 2).bytes};
    };
    const bool files = keptBetweenRuns(g_small + QStringLiteral(".complete"), [&] {
        QDir(g_small).removeRecursively();
        return writeRecordings(g_small + QStringLiteral("/2024-01-01"), 0, kOneFolder, shortAudio());
    }) && keptBetweenRuns(g_large + QStringLiteral(".complete"), [&] {
        QDir(g_large).removeRecursively();
        const QList<QByteArray> audio = shortAudio();
        for (int f = 0; f < kFolders; ++f) {
            if (!writeRecordings(g_large + QStringLiteral("/2024-01-%1").arg(f + 1, 2, 10, QLatin1Char('0')),
                                 f * kPerFolder, kPerFolder, audio))
                return false;
        }
        return true;
    }) && keptBetweenRuns(g_recording + QStringLiteral(".complete"), [] {
        const EncodedMp3 minute = EncodeMp3(RecorderFormat(2), 60.0, 5);
        QByteArray audio;
        for (int i = 0; i < 60; ++i)
            audio += minute.bytes;
        return minute.ok
            && WriteFileBytes(g_recording,
                              BuildRecording(MakeVoiceHeader(2, QStringLiteral("会議"), {700, 1200, 2500}), audio));
    });
    if (!files)
        return false;
    QDir().mkpath(g_out);
    // The environment of every pass: an index and settings of the benchmark's own.
    g_environment.clear();
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "XDG_CACHE_HOME=", 15) != 0 && std::strncmp(*variable, "XDG_CONFIG_HOME=", 16) != 0)
            g_environment.emplace_back(*variable);
    }
    g_environment.push_back("XDG_CACHE_HOME=" + QFile::encodeName(g_root + QStringLiteral("/cache")));
    g_environment.push_back("XDG_CONFIG_HOME=" + QFile::encodeName(g_root + QStringLiteral("/config")));
    return true;
}

// Runs a program with its standard output in g_output: its wall time and its processor
// time (user and system), and whether it ended with status 0.
bool spawn(const QString& program, const QStringList& arguments, Timing& timing)
{
    std::vector<QByteArray> bytes{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        bytes.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& each : bytes)
        argv.push_back(each.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (QByteArray& each : g_environment)
        envp.push_back(each.data());
    envp.push_back(nullptr);
    const QByteArray output = QFile::encodeName(g_output);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int status = -1;
    rusage usage{};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const bool started = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
    if (started)
        ::wait4(pid, &status, 0, &usage);
    timing.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    timing.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return started && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The lines the last pass printed.
QList<QByteArray> outputLines()
{
    QFile file(g_output);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

const QString kTool = QStringLiteral(TALVEN77_TOOL);
const QString kFloor = QStringLiteral(TALVEN77_FLOOR);

bool toolStart(Timing& timing)
{
    return spawn(kTool, {QStringLiteral("--help")}, timing);
}

// The floor's walk, which must meet every file.
bool floorWalk(const char* mode, const QString& root, int files, Timing& timing)
{
    return spawn(kFloor, {QLatin1String(mode), root}, timing) && outputLines() == QList<QByteArray>{QByteArray::number(files)};
}

bool searchOnce(const QString& root, int number, Timing& timing)
{
    const QString memo = QStringLiteral("第%1回").arg(number);
    if (!spawn(kTool, {QStringLiteral("search"), memo, root}, timing))
        return false;
    const QList<QByteArray> lines = outputLines();
    return lines.size() == 1 && lines.first().contains(memo.toUtf8());
}

enum Pass { Ours, Floor, Start, kPasses };
std::array<std::vector<Timing>, kPasses> g_search9999, g_search100000, g_scan9999;
std::array<std::vector<Timing>, 2> g_export;

// Ours against the floor plus the start.
double ratio(const std::array<std::vector<Timing>, kPasses>& rounds)
{
    return mean(rounds[Ours], &Timing::wall)
        / (mean(rounds[Floor], &Timing::wall) + mean(rounds[Start], &Timing::wall));
}

void setCounters(benchmark::State& state, const std::array<std::vector<Timing>, kPasses>& rounds)
{
    state.counters["floor_ms"] = mean(rounds[Floor], &Timing::wall) * 1e3;
    state.counters["start_ms"] = mean(rounds[Start], &Timing::wall) * 1e3;
    state.counters["ratio"] = ratio(rounds);
}

void compareWithFloor(benchmark::State& state, std::array<std::vector<Timing>, kPasses>& rounds,
                      const std::function<bool(Timing&)>& ours, const std::function<bool(Timing&)>& floor)
{
    const auto run = [&](int pass, Timing& timing) {
        return pass == Ours ? ours(timing) : pass == Floor ? floor(timing) : toolStart(timing);
    };
    if (runTurns(state, rounds, run, Ours))
        setCounters(state, rounds);
}

void BM_Search9999(benchmark::State& state)
{
    int round = 0;
    compareWithFloor(
        state, g_search9999, [&](Timing& timing) { return searchOnce(g_small, 37 * round++ % kOneFolder, timing); },
        [](Timing& timing) { return floorWalk("stat", g_small, kOneFolder, timing); });
}

void BM_Search100000(benchmark::State& state)
{
    int round = 0;
    compareWithFloor(
        state, g_search100000,
        [&](Timing& timing) { return searchOnce(g_large, 7919 * round++ % (kFolders * kPerFolder), timing); },
        [](Timing& timing) { return floorWalk("stat", g_large, kFolders * kPerFolder, timing); });
}

void BM_Scan9999(benchmark::State& state)
{
    compareWithFloor(
        state, g_scan9999,
        [](Timing& timing) {
            // Each recording on a line of its own, then the summary.
            return spawn(kTool, {QStringLiteral("scan"), g_small + QStringLiteral("/2024-01-01")}, timing)
                && outputLines().size() == kOneFolder + 1;
        },
        [](Timing& timing) { return floorWalk("read", g_small, kOneFolder, timing); });
}

// A pass of the export: what it wrote is removed and the disk synced before it, untimed.
bool exportPass(int pass, Timing& timing)
{
    emptyFolders({g_out});
    syncFileSystem(g_root);
    const QString copy = g_out + QStringLiteral("/copy.bin");
    Timing first, second;
    bool ok = false;
    if (pass == Ours) {
        ok = spawn(kTool, {QStringLiteral("export"), g_recording, QStringLiteral("--to"), g_out,
                           QStringLiteral("--section"), QStringLiteral("600-3000")},
                   first);
        const QList<QByteArray> lines = outputLines();
        g_exported = lines.size() == 1 ? QString::fromUtf8(lines.first()) : QString();
        ok = ok && !g_exported.isEmpty() && spawn(QStringLiteral("/bin/sync"), {g_exported}, second);
    } else {
        ok = spawn(QStringLiteral("/bin/cp"), {g_sameBytes, copy}, first)
            && spawn(QStringLiteral("/bin/sync"), {copy}, second);
    }
    timing = {first.wall + second.wall, first.cpu + second.cpu};
    return ok;
}

void BM_ExportSection(benchmark::State& state)
{
    // As many bytes as the section's export, for the reference.
    Timing once;
    if (!exportPass(Ours, once)) {
        state.SkipWithError("the export failed");
        return;
    }
    QFile::remove(g_sameBytes);
    if (!QFile::rename(g_exported, g_sameBytes)) {
        state.SkipWithError("cannot keep the reference's bytes");
        return;
    }
    if (!runTurns(state, g_export, exportPass, Ours))
        return;
    state.counters["cp_sync_ms"] = mean(g_export[Floor], &Timing::wall) * 1e3;
    state.counters["ratio"] = mean(g_export[Ours], &Timing::wall) / mean(g_export[Floor], &Timing::wall);
}

void report(const char* name, const std::array<std::vector<Timing>, kPasses>& rounds, const char* floorName)
{
    if (rounds[Ours].empty())
        return;
    std::printf("%s, %zu rounds:\n", name, rounds[Ours].size());
    std::printf("  %-34s %7.1f ms wall, %6.1f ms CPU\n", "talven77-tool", mean(rounds[Ours], &Timing::wall) * 1e3,
                mean(rounds[Ours], &Timing::cpu) * 1e3);
    std::printf("  %-34s %7.1f ms wall, %6.1f ms CPU\n", floorName, mean(rounds[Floor], &Timing::wall) * 1e3,
                mean(rounds[Floor], &Timing::cpu) * 1e3);
    std::printf("  %-34s %7.1f ms wall, %6.1f ms CPU\n", "the tool's start (--help)",
                mean(rounds[Start], &Timing::wall) * 1e3, mean(rounds[Start], &Timing::cpu) * 1e3);
    std::printf("  ours / (floor + start): %.2fx; goal <= %.1fx: %s\n", ratio(rounds), kSearchScanGoal,
                ratio(rounds) <= kSearchScanGoal ? "met" : "not met");
}

} // namespace

BENCHMARK(BM_Search9999)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search100000)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan9999)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportSection)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!prepare()) {
        std::printf("The benchmark's recordings could not be written in %s.\n", qPrintable(g_root));
        return 1;
    }
    announceFolders(g_root, QStringLiteral("9,999 and 100,000 recordings, a 1-hour recording"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    report("search over 9,999 recordings (warm index, 1 hit)", g_search9999, "floor: stat of each file");
    report("search over 100,000 recordings in 20 folders (warm index, 1 hit)", g_search100000,
           "floor: stat of each file");
    report("scan of 9,999 recordings (no index)", g_scan9999, "floor: stat + open + read 4 KiB + close");
    if (!g_export[Ours].empty()) {
        const double exportRatio = mean(g_export[Ours], &Timing::wall) / mean(g_export[Floor], &Timing::wall);
        const auto [low, high] = ratioSpread(g_export[Ours], g_export[Floor]);
        std::printf("export of a 40-minute MP3 section + sync, %zu rounds:\n", g_export[Ours].size());
        std::printf("  %-34s %7.1f ms wall, %6.1f ms CPU\n", "talven77-tool export + sync",
                    mean(g_export[Ours], &Timing::wall) * 1e3, mean(g_export[Ours], &Timing::cpu) * 1e3);
        std::printf("  %-34s %7.1f ms wall, %6.1f ms CPU\n", "cp + sync of as many bytes",
                    mean(g_export[Floor], &Timing::wall) * 1e3, mean(g_export[Floor], &Timing::cpu) * 1e3);
        std::printf("  ratio %.2fx (rounds %.2fx to %.2fx); goal <= %.1fx: %s\n", exportRatio, low, high, kExportGoal,
                    exportRatio <= kExportGoal ? "met" : "not met");
    }
    return 0;
}
