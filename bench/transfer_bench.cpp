// The transfer of a card's recordings into the save folder against cp(1) of the same files
// followed by a sync, all in folders of one file system (never a tmpfs, which would leave
// nothing for fsync to do):
// - 200 recordings of 1 MB, in four day folders of a simulated card (Device.Dat on its root,
//   the drive named in a simulated drive list), transferred by the engine into
//   <save>/001/2026-11/ with each copy read back from the disk before its source is marked,
//   as the program does;
// - the same transfer without the read-back, to show what the read-back costs;
// - one cp of all 200 files into one folder, then a sync of the file system;
// - the same cp and sync, then every copy read back from the disk as the transfer reads its
//   copies (dropped from the page cache, read in chunks of 1 MiB and compared with the
//   source). The read-back reads every copy from the device, a cost cp and sync do not have,
//   so this second reference tells the price of the check itself from our overhead around it.
// Every pass starts from unmarked sources, empty destination folders (the folders themselves
// stay, for all) and a synced file system; the sources stay in the page cache for all four,
// so the figures compare writing and reading back the copies, not reading the card. Our
// figures include the engine's headers on both sides and its bookkeeping of the document's
// card list; the document is set up before the clock starts, as the window has it when the
// user starts the transfer. The disk is shared with whatever else runs, so each timed round
// runs the four passes back to back, taking turns at going first (each pass once in four
// rounds), after an untimed round. Beside the wall times, the CPU time (kernel included; cp's
// own and the read-back's for the references) tells work from waiting for the disk.
// Goal: the transfer with its read-back within 1.3 times cp, sync and the read-back, the
// physical work of a verified copy; beside it, the factor against cp and sync alone.
#include "CardBuilder.h"
#include "DiskBench.h"
#include "RecordingBuilder.h"
#include "document/TALVEN77PCDoc.h"
#include "fileops/FileOperations.h"
#include "platform/SimulatedDriveSource.h"
#include "recording/FileList.h"
#include "recording/VoiceHeader.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <array>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kFiles = 200;
constexpr int kDays = 4;              // day folders 202611/02 to 202611/05
constexpr double kSeconds = 250.0;    // at 32 kbit/s, 1 MB of audio
constexpr double kGoal = 1.3;   // against cp + sync + read back
constexpr size_t kChunkBytes = size_t(1) << 20; // the transfer's read-back reads 1 MiB at a time

QString g_root;       // the benchmark's own folder
QString g_card;       // the simulated card, kept between runs
QString g_save;       // the save folder
QString g_saveMonth;  // where the transfer puts every recording
QString g_copyTo;     // where cp puts them
QString g_driveList;  // the simulated drive list
QStringList g_sources;
qint64 g_fileBytes = 0;

enum Pass { Verified, Unverified, Reference, ReadBackReference, kPasses };
const std::array<const char*, kPasses> kPassNames = {
    "transfer with read-back", "transfer without read-back", "cp + sync",
    "cp + sync + read back"};

std::array<std::vector<Timing>, kPasses> g_rounds;

double ratio(Pass ours, Pass reference)
{
    return mean(g_rounds[ours], &Timing::wall) / mean(g_rounds[reference], &Timing::wall);
}

// Removes the files below folder, keeping the folders.
void emptyFilesBelow(const QString& folder)
{
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ::unlink(QFile::encodeName(it.next()).constData());
}

int filesIn(const QString& folder)
{
    return int(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size());
}

int markedSources()
{
    int marked = 0;
    for (const QString& source : g_sources) {
        tagVoiceHeader header{};
        if (ReadVoiceHeader(source, header) && header.transferredFlag != 0)
            ++marked;
    }
    return marked;
}

// Every source unmarked again, as the card was before the transfer.
bool unmarkSources()
{
    for (const QString& source : g_sources) {
        tagVoiceHeader header{};
        if (!ReadVoiceHeader(source, header))
            return false;
        if (header.transferredFlag == 0)
            continue;
        header.transferredFlag = 0;
        if (!WriteVoiceHeader(source, header))
            return false;
    }
    return true;
}

bool writeCard()
{
    QDir(g_card).removeRecursively();
    if (!QDir().mkpath(g_card) ||
        !WriteFileBytes(g_card + QStringLiteral("/Device.Dat"), DeviceDatBytes(1)))
        return false;
    const QByteArray audio = EncodeMp3(RecorderFormat(1), kSeconds, 11).bytes;
    for (int i = 0; i < kFiles; ++i) {
        const int day = 2 + i * kDays / kFiles;
        const QString folder =
            g_card + QStringLiteral("/001_TALVEN-77/202611/%1").arg(day, 2, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        const QByteArray bytes =
            BuildRecording(MakeVoiceHeader(1, QStringLiteral("電話メモ %1").arg(i)), audio);
        const QDateTime recorded(QDate(2026, 11, day), QTime(9, 0).addSecs(i * 300));
        if (!WriteFileBytes(folder + QStringLiteral("/rec%1.mp3").arg(i, 3, 10, QLatin1Char('0')),
                            bytes, recorded))
            return false;
    }
    return true;
}

bool prepareFolders()
{
    g_root = benchFolder(QStringLiteral("transfer"));
    g_card = g_root + QStringLiteral("/card");
    g_save = g_root + QStringLiteral("/save");
    g_saveMonth = g_save + QStringLiteral("/001/2026-11");
    g_copyTo = g_root + QStringLiteral("/cp-to/001/2026-11");
    g_driveList = g_root + QStringLiteral("/drives.txt");
    if (!keptBetweenRuns(g_root + QStringLiteral("/card.complete"), writeCard))
        return false;
    QDirIterator it(g_card + QStringLiteral("/001_TALVEN-77"), {QStringLiteral("*.mp3")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        g_sources.append(it.next());
    g_sources.sort();
    if (g_sources.size() != kFiles)
        return false;
    emptyFolders({g_save, g_copyTo});
    // The folder the transfer writes into stays between passes, as cp's does.
    QDir().mkpath(g_saveMonth);
    if (!WriteFileBytes(g_driveList, (QStringLiteral("card ") + g_card).toUtf8()))
        return false;
    g_fileBytes = QFileInfo(g_sources.first()).size();
    announceFolders(g_root, QStringLiteral("%1 recordings of %2 bytes").arg(kFiles).arg(g_fileBytes));
    return true;
}

bool engineTransfer(bool verify, Timing& timing)
{
    emptyFilesBelow(g_save);
    if (!unmarkSources())
        return false;
    CTALVEN77PCDoc document;
    QuietHost host;
    CFileOperations engine{document, host};
    engine.setVerifyCopies(verify);
    document.RunStartupChecks(g_save);
    for (const auto& list : document.fileLists())
        if (list->nKind() == kListCard)
            list->EnsureScanned();
    QList<tagFileList> records;
    const std::optional<QString> card = document.GetCardDrive();
    if (!card || document.CollectUntransferred(kListCard, records) != kFiles)
        return false;
    syncFileSystem(g_root);
    bool ok = false;
    bool folderPrepared = false;
    timing = timed([&] {
        ok = engine.TransferFiles(records, kListCard, *card, g_save, folderPrepared);
    });
    return ok && filesIn(g_saveMonth) == kFiles && markedSources() == kFiles;
}

// Reads up to buffer.size() bytes, fewer only at the end of the file.
bool readChunk(int fd, std::vector<char>& buffer, size_t& got)
{
    got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return true;
}

// Every copy, synced, read back from the disk and compared with its source, which is read
// through the page cache.
bool readBackCopies()
{
    std::vector<char> expected(kChunkBytes), actual(kChunkBytes);
    for (const QString& source : g_sources) {
        const QString copy = g_copyTo + QLatin1Char('/') + QFileInfo(source).fileName();
        const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
        const int check = ::open(QFile::encodeName(copy).constData(), O_RDONLY | O_CLOEXEC);
        bool same = in >= 0 && check >= 0;
        if (same)
            ::posix_fadvise(check, 0, 0, POSIX_FADV_DONTNEED);
        while (same) {
            size_t fromSource = 0, fromCopy = 0;
            same = readChunk(in, expected, fromSource) && readChunk(check, actual, fromCopy) &&
                   fromSource == fromCopy &&
                   std::memcmp(expected.data(), actual.data(), fromSource) == 0;
            if (fromSource == 0)
                break;
        }
        if (in >= 0)
            ::close(in);
        if (check >= 0)
            ::close(check);
        if (!same)
            return false;
    }
    return true;
}

bool referenceCopy(bool readBack, Timing& timing)
{
    emptyFilesBelow(g_copyTo);
    syncFileSystem(g_root);
    std::vector<QByteArray> arguments{"cp"};
    for (const QString& source : g_sources)
        arguments.push_back(QFile::encodeName(source));
    arguments.push_back(QFile::encodeName(g_copyTo));
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int status = -1;
    bool readBackSame = true;
    timing = timed([&] {
        pid_t pid = 0;
        if (::posix_spawn(&pid, "/bin/cp", nullptr, nullptr, argv.data(), environ) == 0)
            ::waitpid(pid, &status, 0);
        syncFileSystem(g_root);
        if (readBack)
            readBackSame = readBackCopies();
    });
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && filesIn(g_copyTo) == kFiles &&
           readBackSame;
}

bool runPass(Pass pass, Timing& timing)
{
    switch (pass) {
    case Verified:
        return engineTransfer(true, timing);
    case Unverified:
        return engineTransfer(false, timing);
    case Reference:
        return referenceCopy(false, timing);
    default:
        return referenceCopy(true, timing);
    }
}

// An untimed round, then timed rounds of the four passes, each round starting with the next.
void BM_Transfer(benchmark::State& state)
{
    if (!runTurns(state, g_rounds, [](int pass, Timing& timing) { return runPass(Pass(pass), timing); },
                  Verified))
        return;
    state.counters["unverified_ms"] = mean(g_rounds[Unverified], &Timing::wall) * 1e3;
    state.counters["reference_ms"] = mean(g_rounds[Reference], &Timing::wall) * 1e3;
    state.counters["readback_reference_ms"] =
        mean(g_rounds[ReadBackReference], &Timing::wall) * 1e3;
    state.counters["ratio"] = ratio(Verified, Reference);
    state.counters["unverified_ratio"] = ratio(Unverified, Reference);
    state.counters["readback_ratio"] = ratio(Verified, ReadBackReference);
}

} // namespace

// The time column is the transfer with its read-back; the others are beside it.
BENCHMARK(BM_Transfer)->Iterations(4)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!prepareFolders()) {
        std::printf("The card's recordings could not be written.\n");
        return 1;
    }
    SimulatedDriveSource drives(g_driveList);
    SetDriveSource(&drives);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SetDriveSource(nullptr);

    if (!g_rounds[Verified].empty()) {
        std::printf("Transfer of %d recordings of %.1f MB, %zu rounds:\n", kFiles,
                    double(g_fileBytes) / 1e6, g_rounds[Verified].size());
        for (int pass = 0; pass < kPasses; ++pass)
            std::printf("  %-27s %8.1f ms wall, %7.1f ms CPU\n", kPassNames[pass],
                        mean(g_rounds[pass], &Timing::wall) * 1e3,
                        mean(g_rounds[pass], &Timing::cpu) * 1e3);
        const std::array<std::pair<Pass, Pass>, 3> pairs = {
            {{Verified, Reference}, {Unverified, Reference}, {Verified, ReadBackReference}}};
        for (const auto& [ours, reference] : pairs) {
            const auto [low, high] = ratioSpread(g_rounds[ours], g_rounds[reference]);
            std::printf("  %s / %s: %.2fx (rounds %.2fx to %.2fx)\n", kPassNames[ours],
                        kPassNames[reference], ratio(ours, reference), low, high);
        }
        std::printf("  goal: transfer with read-back <= %.1fx cp + sync + read back: %s\n", kGoal,
                    ratio(Verified, ReadBackReference) <= kGoal ? "met" : "not met");
    }
    // The card stays for the next run, its sources unmarked; the copies would be left lying
    // around.
    unmarkSources();
    QDir(g_save).removeRecursively();
    QDir(g_root + QStringLiteral("/cp-to")).removeRecursively();
    return 0;
}
