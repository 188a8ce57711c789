// The file operations engine against the system calls it is built on, all in
// folders of one file system (never a tmpfs, which would leave nothing for
// fsync to do):
// - copying 100 recordings of 2 MB into another folder, beside a loop that per
//   file opens both ends, runs copy_file_range to the end, fsyncs and closes;
// - moving 1,000 recordings into another folder, beside rename(2) per file;
// - deleting 1,000 recordings, beside unlink(2) per file (the engine reads each
//   file's header first, to keep protected ones: that counts as ours).
// Every pass starts from the same files with the file system synced. The disk
// is shared with whatever else runs, so each timed round runs ours and the
// reference back to back, taking turns at going first, after an untimed round
// that warms the sources up for both. Our figure includes the engine's
// bookkeeping of the document's lists; the host answers nothing and processes
// events on an empty queue. Beside the wall times, the process's CPU time
// (kernel included) of both tells our own work from waiting for the disk.
// Goals: the copy within 1.3 times its reference; the move and the delete
// under 1 ms per file beyond their system calls.
#include "CardBuilder.h"
#include "DiskBench.h"
#include "RecordingBuilder.h"
#include "document/TALVEN77PCDoc.h"
#include "fileops/FileOperations.h"
#include "recording/FileList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kCopyFiles = 100;
constexpr double kCopySeconds = 131.0; // at 128 kbit/s, 2 MB of audio
constexpr int kSmallFiles = 1000;
constexpr double kCopyGoal = 1.3;
constexpr double kOverheadGoalMicroseconds = 1000.0;

QString g_root;       // the benchmark's own folder
QString g_save;       // the save folder the document scans
QString g_copySource; // 100 × 2 MB, kept between runs
// Where both copies go, each pass into the emptied folder: file creation costs what the folder's
// part of the disk has seen (recently freed inodes are skipped), so both meet the same.
QString g_copyTo;
QString g_moveFrom;
QString g_moveTo;
QString g_delete;
QList<QByteArray> g_smallRecordings; // the bytes of each of the 1,000 small recordings
qint64 g_copyBytes = 0;

// The timed rounds, ours and the reference's.
struct Rounds
{
    enum Pass { kOurs, kReference };
    std::array<std::vector<Timing>, 2> passes;

    const std::vector<Timing>& ours() const { return passes[kOurs]; }
    const std::vector<Timing>& reference() const { return passes[kReference]; }
    double ratio() const { return mean(ours(), &Timing::wall) / mean(reference(), &Timing::wall); }
    double overheadPerFile(double Timing::*figure, int files) const
    {
        return (mean(ours(), figure) - mean(reference(), figure)) / files;
    }
};
Rounds g_copyRounds;
Rounds g_moveRounds;
Rounds g_deleteRounds;

// A document that scanned the save folder and shows one of its folders, as the
// window has it when the user pastes or deletes there.
struct Session
{
    CTALVEN77PCDoc document;
    QuietHost host{QuietHost::Events::Processed};
    CFileOperations engine{document, host};

    explicit Session(const QString& shown)
    {
        document.RunStartupChecks(g_save);
        document.SetCurrent(listOf(shown));
        document.pCurrent()->EnsureScanned();
    }
    int listOf(const QString& folder) const
    {
        return *document.FindSaveSubfolderId(QDir::toNativeSeparators(folder + QLatin1Char('/')));
    }
    QList<tagFileList> recordsOf(const QString& folder)
    {
        CFileList* list = document.FindList(listOf(folder));
        list->EnsureScanned();
        // In the reference's order, so that both lay out the same files in the same turn.
        QList<tagFileList> records = list->records();
        std::sort(records.begin(), records.end(), [](const tagFileList& a, const tagFileList& b) {
            return a.szFileName < b.szFileName;
        });
        return records;
    }
};

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QByteArray nativePath(const QString& folder, const QString& name)
{
    return QFile::encodeName(folder + QLatin1Char('/') + name);
}

void emptyFolder(const QString& folder)
{
    for (const QString& name : namesIn(folder))
        ::unlink(nativePath(folder, name).constData());
}

// Every small recording in the move's source folder, none in its destination.
void resetMove()
{
    for (const QString& name : namesIn(g_moveTo))
        ::rename(nativePath(g_moveTo, name).constData(), nativePath(g_moveFrom, name).constData());
    syncFileSystem(g_root);
}

bool writeSmallRecordings(const QString& folder)
{
    for (int i = 0; i < kSmallFiles; ++i)
        if (!WriteFileBytes(folder + QStringLiteral("/REC%1.MP3").arg(i, 4, 10, QLatin1Char('0')),
                            g_smallRecordings[i]))
            return false;
    return true;
}

// The copy's sources, kept between runs.
bool writeCopySources()
{
    QDir(g_save).removeRecursively();
    QDir().mkpath(g_copySource);
    const QByteArray audio = EncodeMp3(RecorderFormat(2), kCopySeconds, 11).bytes;
    for (int i = 0; i < kCopyFiles; ++i) {
        const QByteArray bytes = BuildRecording(
            MakeVoiceHeader(2, QStringLiteral("講義 %1").arg(i), {uint32_t(i % 9 + 1)}), audio);
        if (!WriteFileBytes(g_copySource +
                                QStringLiteral("/REC%1.MP3").arg(i, 4, 10, QLatin1Char('0')),
                            bytes))
            return false;
    }
    return true;
}

bool prepareFolders()
{
    g_root = benchFolder(QStringLiteral("fileops"));
    g_save = g_root + QStringLiteral("/save");
    g_copySource = g_save + QStringLiteral("/copy-source");
    g_copyTo = g_save + QStringLiteral("/copy-to");
    g_moveFrom = g_save + QStringLiteral("/move-from");
    g_moveTo = g_save + QStringLiteral("/move-to");
    g_delete = g_save + QStringLiteral("/delete");
    if (!keptBetweenRuns(g_root + QStringLiteral("/copy-source.complete"), writeCopySources))
        return false;
    emptyFolders({g_copyTo, g_moveFrom, g_moveTo, g_delete});
    for (int i = 0; i < kSmallFiles; ++i)
        g_smallRecordings.append(BuildRecording(
            MakeVoiceHeader(1, QStringLiteral("電話メモ %1").arg(i), {uint32_t(i % 5 + 1)}),
            ShortSpeechAudio()));
    if (!writeSmallRecordings(g_moveFrom))
        return false;
    g_copyBytes = QFileInfo(g_copySource + QStringLiteral("/REC0000.MP3")).size();
    announceFolders(g_root, QStringLiteral("copied recordings of %1 bytes").arg(g_copyBytes));
    return true;
}

// Timed rounds of our pass and the reference's, taking turns at going first (the reference
// in the first), after an untimed round of ours, then the reference's.
void runRounds(benchmark::State& state, Rounds& rounds, bool (*ours)(Timing&),
               bool (*reference)(Timing&), int files)
{
    const auto run = [&](int pass, Timing& timing) {
        return pass == Rounds::kOurs ? ours(timing) : reference(timing);
    };
    if (!runTurns(state, rounds.passes, run, Rounds::kOurs, Rounds::kReference))
        return;
    state.counters["reference_ms"] = mean(rounds.reference(), &Timing::wall) * 1e3;
    state.counters["ratio"] = rounds.ratio();
    state.counters["overhead_us_per_file"] = rounds.overheadPerFile(&Timing::wall, files) * 1e6;
    state.counters["cpu_overhead_us_per_file"] = rounds.overheadPerFile(&Timing::cpu, files) * 1e6;
}

bool engineCopy(Timing& timing)
{
    emptyFolder(g_copyTo);
    syncFileSystem(g_root);
    Session session(g_copyTo);
    session.engine.Remember(session.recordsOf(g_copySource), CFileOperations::ModeCopy);
    bool ok = false;
    timing = timed([&] { ok = session.engine.PasteCopy(QDir::toNativeSeparators(g_copyTo)); });
    return ok && namesIn(g_copyTo).size() == kCopyFiles &&
           session.document.pCurrent()->records().size() == kCopyFiles;
}

bool referenceCopy(Timing& timing)
{
    emptyFolder(g_copyTo);
    syncFileSystem(g_root);
    QList<std::pair<QByteArray, QByteArray>> paths;
    for (const QString& name : namesIn(g_copySource))
        paths.append({nativePath(g_copySource, name), nativePath(g_copyTo, name)});
    bool ok = true;
    timing = timed([&] {
        for (const auto& [source, destination] : paths) {
            const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
            const int out =
                ::open(destination.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            ssize_t copied;
            while ((copied = ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0)) >
                   0) {
            }
            ok = ok && copied == 0 && ::fsync(out) == 0;
            ::close(out);
            ::close(in);
        }
    });
    return ok && namesIn(g_copyTo).size() == kCopyFiles;
}

bool engineMove(Timing& timing)
{
    resetMove();
    Session session(g_moveTo);
    session.engine.Remember(session.recordsOf(g_moveFrom), CFileOperations::ModeCut);
    bool ok = false;
    timing = timed([&] { ok = session.engine.PasteMove(QDir::toNativeSeparators(g_moveTo)); });
    return ok && namesIn(g_moveTo).size() == kSmallFiles && namesIn(g_moveFrom).isEmpty();
}

bool referenceMove(Timing& timing)
{
    resetMove();
    QList<std::pair<QByteArray, QByteArray>> paths;
    for (const QString& name : namesIn(g_moveFrom))
        paths.append({nativePath(g_moveFrom, name), nativePath(g_moveTo, name)});
    bool ok = true;
    timing = timed([&] {
        for (const auto& [source, destination] : paths)
            ok = ::rename(source.constData(), destination.constData()) == 0 && ok;
    });
    return ok && namesIn(g_moveTo).size() == kSmallFiles;
}

bool engineDelete(Timing& timing)
{
    emptyFolder(g_delete);
    if (!writeSmallRecordings(g_delete))
        return false;
    syncFileSystem(g_root);
    Session session(g_delete);
    session.engine.Remember(session.recordsOf(g_delete), CFileOperations::ModeDelete);
    bool ok = false;
    timing = timed([&] { ok = session.engine.DeleteRememberedFiles(); });
    return ok && namesIn(g_delete).isEmpty() && session.document.pCurrent()->records().isEmpty();
}

bool referenceDelete(Timing& timing)
{
    emptyFolder(g_delete);
    if (!writeSmallRecordings(g_delete))
        return false;
    syncFileSystem(g_root);
    QList<QByteArray> paths;
    for (const QString& name : namesIn(g_delete))
        paths.append(nativePath(g_delete, name));
    bool ok = true;
    timing = timed([&] {
        for (const QByteArray& path : paths)
            ok = ::unlink(path.constData()) == 0 && ok;
    });
    return ok && namesIn(g_delete).isEmpty();
}

void BM_Copy(benchmark::State& state)
{
    runRounds(state, g_copyRounds, engineCopy, referenceCopy, kCopyFiles);
}
void BM_Move(benchmark::State& state)
{
    runRounds(state, g_moveRounds, engineMove, referenceMove, kSmallFiles);
}
void BM_Delete(benchmark::State& state)
{
    runRounds(state, g_deleteRounds, engineDelete, referenceDelete, kSmallFiles);
}

// Our wall time beside the reference's, the ratio and the overhead per file, then the CPU time of
// both: what the process itself spent, apart from waiting for the disk.
void printRounds(const QString& what, const Rounds& rounds, const char* calls, int files,
                 const QString& goal)
{
    if (rounds.ours().empty())
        return;
    const auto [low, high] = ratioSpread(rounds.ours(), rounds.reference());
    std::printf("%s: ours %.1f ms, %s %.1f ms; ratio %.2fx (rounds %.2fx to %.2fx); our overhead "
                "%.1f us per file; goal %s\n",
                qPrintable(what), mean(rounds.ours(), &Timing::wall) * 1e3, calls,
                mean(rounds.reference(), &Timing::wall) * 1e3, rounds.ratio(), low, high,
                rounds.overheadPerFile(&Timing::wall, files) * 1e6, qPrintable(goal));
    std::printf("  CPU: ours %.1f ms, reference %.1f ms; our CPU overhead %.1f us per file\n",
                mean(rounds.ours(), &Timing::cpu) * 1e3, mean(rounds.reference(), &Timing::cpu) * 1e3,
                rounds.overheadPerFile(&Timing::cpu, files) * 1e6);
}

} // namespace

// The time column is ours; the reference's is beside it, as reference_ms.
BENCHMARK(BM_Copy)->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Move)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Delete)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!prepareFolders()) {
        std::printf("The recordings could not be written.\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const QString overheadGoal = QStringLiteral("< %1 us per file").arg(kOverheadGoalMicroseconds);
    printRounds(QStringLiteral("Copy of %1 recordings of %2 MB")
                    .arg(kCopyFiles)
                    .arg(double(g_copyBytes) / 1e6, 0, 'f', 1),
                g_copyRounds, "copy_file_range + fsync per file", kCopyFiles,
                QStringLiteral("<= %1x").arg(kCopyGoal));
    printRounds(QStringLiteral("Move of %1 recordings").arg(kSmallFiles), g_moveRounds,
                "rename(2) per file", kSmallFiles, overheadGoal);
    printRounds(QStringLiteral("Delete of %1 recordings").arg(kSmallFiles), g_deleteRounds,
                "unlink(2) per file", kSmallFiles, overheadGoal);
    // The copied sources stay for the next run; the rest would be left lying around.
    for (const QString& folder : {g_copyTo, g_moveFrom, g_moveTo, g_delete})
        QDir(folder).removeRecursively();
    return 0;
}
