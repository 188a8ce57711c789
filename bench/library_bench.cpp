// The index of the archive: start-up and F5 with 9,999 recordings against their
// references (an empty save folder; stat of the same files alone; a scan without
// the index), and search over 100,000 indexed memos with the index's size.
#include "CardBuilder.h"
#include "FakePanel.h"
#include "MeetingRecordings.h"
#include "RatioReporter.h"
#include "RecordingBuilder.h"
#include "document/TALVEN77PCDoc.h"
#include "library/RecordingIndex.h"
#include "recording/FileList.h"
#include "settings/Setting.h"
#include "view/TALVEN77PCView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTreeWidget>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFiles = 9999;
constexpr int kSearchEntries = 100000;
QString g_base;
QString g_save;      // save folder with one subfolder of 9,999 recordings
QString g_empty;     // save folder with one empty subfolder
QString g_folder;    // the subfolder
QList<QByteArray> g_paths;

// Copies of three encoded files, each with a header and memo of its own.
bool prepareFolders()
{
    g_base = qEnvironmentVariable("TALVEN77_BENCH_DIR", QDir::tempPath() + QStringLiteral("/talven77-bench"));
    g_save = g_base + QStringLiteral("/library-save");
    g_empty = g_base + QStringLiteral("/library-empty");
    g_folder = g_save + QStringLiteral("/2024-01-01");
    QDir().mkpath(g_empty + QStringLiteral("/2024-01-01"));
    if (!QFile::exists(g_save + QStringLiteral("/.complete"))) {
        QDir(g_save).removeRecursively();
        QDir().mkpath(g_folder);
        if (!WriteMeetingRecordings(g_folder, kFiles))
            return false;
        if (!WriteFileBytes(g_save + QStringLiteral("/.complete"), "1"))
            return false;
    }
    for (const QString& name : QDir(g_folder).entryList(QDir::Files))
        g_paths.append(QFile::encodeName(g_folder + u'/' + name));
    return g_paths.size() == kFiles;
}

QString indexFile(const char* name)
{
    return g_base + QStringLiteral("/cache/") + QLatin1String(name) + QStringLiteral(".sqlite");
}

void removeIndex(const QString& file)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(file + QLatin1String(suffix));
}

// F5 of the folder: a scan through a warm index.
void BM_F5Indexed(benchmark::State& state)
{
    RecordingIndex index(indexFile("f5"));
    SetScanCache(&index);
    CFileList list(kListSaveFolder, false);
    list.SetFolder(g_folder);
    list.Rescan();
    for (auto _ : state) {
        list.Rescan();
        benchmark::DoNotOptimize(list.GetRecordCount());
    }
    SetScanCache(nullptr);
    if (list.GetRecordCount() != kFiles)
        state.SkipWithError("the scan did not find every recording");
}

void BM_StatAlone(benchmark::State& state)
{
    for (auto _ : state) {
        for (const QByteArray& path : std::as_const(g_paths)) {
            struct stat st {};
            benchmark::DoNotOptimize(stat(path.constData(), &st));
        }
    }
}

// The scan as it was before the index, and the first scan that builds it.
void BM_ScanWithoutIndex(benchmark::State& state)
{
    CFileList list(kListSaveFolder, false);
    list.SetFolder(g_folder);
    for (auto _ : state) {
        list.Rescan();
        benchmark::DoNotOptimize(list.GetRecordCount());
    }
}

void BM_ScanBuildingIndex(benchmark::State& state)
{
    const QString file = indexFile("first");
    CFileList list(kListSaveFolder, false);
    list.SetFolder(g_folder);
    for (auto _ : state) {
        state.PauseTiming();
        removeIndex(file);
        state.ResumeTiming();
        RecordingIndex index(file);
        SetScanCache(&index);
        list.Rescan();
        SetScanCache(nullptr);
        benchmark::DoNotOptimize(list.GetRecordCount());
    }
}

// Start-up to the main window with its first list filled: the document's
// start-up checks, the window with its tree, shown. Start-up itself lists the
// top node, as the program does; with openFolder the subfolder of 9,999
// recordings is then selected as the user would, which fills the list.
void startUp(const QString& save, RecordingIndex* index, bool openFolder = false)
{
    SetScanCache(index);
    SetFolderMemo(index);
    CSetting setting;
    setting.m_strSavePath = save;
    CTALVEN77PCDoc document;
    document.RunStartupChecks(save);
    CTALVEN77PCView view(document, setting);
    FakePanel panel;
    view.setPanel(&panel);
    view.OnInitialUpdate();
    view.show();
    QApplication::processEvents();
    if (openFolder) {
        QTreeWidgetItem* saveRoot = view.folderTree()->topRoot();
        for (int i = 0; i < saveRoot->childCount(); ++i) {
            if (saveRoot->child(i)->childCount() > 0) {
                view.folderTree()->setCurrentItem(saveRoot->child(i)->child(0));
                break;
            }
        }
        QApplication::processEvents();
    }
    benchmark::DoNotOptimize(view.recordingList());
    view.setPanel(nullptr);
    SetScanCache(nullptr);
    SetFolderMemo(nullptr);
}

void BM_StartUpIndexed(benchmark::State& state)
{
    RecordingIndex index(indexFile("startup"));
    startUp(g_save, &index, true);
    for (auto _ : state)
        startUp(g_save, &index);
}

void BM_StartUpEmpty(benchmark::State& state)
{
    RecordingIndex index(indexFile("empty"));
    for (auto _ : state)
        startUp(g_empty, &index);
}

void BM_StartUpWithoutIndex(benchmark::State& state)
{
    for (auto _ : state)
        startUp(g_save, nullptr);
}

void BM_StartUpBuildingIndex(benchmark::State& state)
{
    const QString file = indexFile("startup-first");
    for (auto _ : state) {
        state.PauseTiming();
        removeIndex(file);
        state.ResumeTiming();
        RecordingIndex index(file);
        startUp(g_save, &index);
    }
}

// Start-up and then the folder of 9,999 opened: with a warm index, and as
// before the index, reading every file.
void BM_OpenFolderIndexed(benchmark::State& state)
{
    RecordingIndex index(indexFile("startup"));
    startUp(g_save, &index, true);
    for (auto _ : state)
        startUp(g_save, &index, true);
}

void BM_OpenFolderWithoutIndex(benchmark::State& state)
{
    for (auto _ : state)
        startUp(g_save, nullptr, true);
}

// 100,000 entries (hard links to one recording, so each has a file to check
// against) with memos made of common words, then the first screen of results.
struct SearchIndex
{
    QString file = indexFile("search");
    QList<SearchPlace> places;
    qint64 memoBytes = 0;
};

const QStringList kWords{QStringLiteral("定例"), QStringLiteral("会議"), QStringLiteral("予算"), QStringLiteral("顧客"),
                         QStringLiteral("打ち合わせ"), QStringLiteral("電話"), QStringLiteral("報告"),
                         QStringLiteral("営業"), QStringLiteral("開発"), QStringLiteral("進捗"), QStringLiteral("確認"),
                         QStringLiteral("決定"), QStringLiteral("見積"), QStringLiteral("契約"), QStringLiteral("来期"),
                         QStringLiteral("計画"), QStringLiteral("採用"), QStringLiteral("面接"), QStringLiteral("研修"),
                         QStringLiteral("出張")};

SearchIndex& searchIndex()
{
    static SearchIndex built = [] {
        SearchIndex s;
        const QString root = g_base + QStringLiteral("/library-search");
        const QString source = g_folder + QStringLiteral("/REC00000.MP3");
        constexpr int kFolders = 10;
        for (int f = 0; f < kFolders; ++f) {
            const QString folder = root + QStringLiteral("/f%1/").arg(f);
            QDir().mkpath(folder);
            s.places.append({folder, false});
            for (int i = f; i < kSearchEntries; i += kFolders) {
                const QByteArray link = QFile::encodeName(folder + QStringLiteral("R%1.MP3").arg(i, 6, 10, QLatin1Char('0')));
                if (access(link.constData(), F_OK) != 0)
                    ::link(QFile::encodeName(source).constData(), link.constData());
            }
        }
        FileStamp stamp;
        FileStamp::OfRegularFile(QFile::encodeName(source), stamp);
        removeIndex(s.file);
        RecordingIndex index(s.file);
        tagFileList record;
        index.beginScan();
        for (int f = 0; f < kFolders; ++f) {
            index.beginFolder(s.places[f].folder);
            for (int i = f; i < kSearchEntries; i += kFolders) {
                QString memo = QStringLiteral("第%1回 ").arg(i);
                for (int w = 0; w < 3 + i % 4; ++w)
                    memo += kWords[(i * 7 + w * 13 + i / 17) % kWords.size()];
                record.header = MakeVoiceHeader(uint8_t(i % 3), memo);
                record.tmCreate = 1700000000 + i * 600;
                record.nDuration = 60 + i % 3600;
                s.memoBytes += strnlen(record.header.memo, kMemoBytes);
                index.store(QStringLiteral("R%1.MP3").arg(i, 6, 10, QLatin1Char('0')), stamp, record);
            }
            index.endFolder();
        }
        index.endScan();
        return s;
    }();
    return built;
}

void BM_SearchFirstResults(benchmark::State& state, QString text)
{
    SearchIndex& s = searchIndex();
    RecordingIndex index(s.file);
    SearchQuery query;
    query.memo = text;
    int found = 0;
    for (auto _ : state)
        found = int(index.search(query, s.places, 100).size());
    state.counters["found"] = found;
}

} // namespace

BENCHMARK(BM_F5Indexed)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_StatAlone)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ScanBuildingIndex)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ScanWithoutIndex)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StartUpIndexed)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_StartUpEmpty)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_StartUpBuildingIndex)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StartUpWithoutIndex)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenFolderIndexed)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_OpenFolderWithoutIndex)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_SearchFirstResults, trigram, QStringLiteral("予算計画"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchFirstResults, two_characters, QStringLiteral("面接"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchFirstResults, rare, QStringLiteral("第12345回"))->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!prepareFolders()) {
        std::fprintf(stderr, "cannot prepare the benchmark folder %s\n", qPrintable(g_save));
        return 1;
    }
    RunComparing(&argc, argv,
                 {{"BM_F5Indexed", "BM_StatAlone", kFiles},
                  {"BM_ScanBuildingIndex", "BM_ScanWithoutIndex", kFiles},
                  {"BM_StartUpIndexed", "BM_StartUpEmpty"},
                  {"BM_StartUpBuildingIndex", "BM_StartUpWithoutIndex"},
                  {"BM_OpenFolderIndexed", "BM_OpenFolderWithoutIndex"}});
    const SearchIndex& s = searchIndex();
    const qint64 size = QFileInfo(s.file).size() + QFileInfo(s.file + QStringLiteral("-wal")).size();
    std::printf("Index of %d recordings: %lld bytes; %.0f bytes per recording besides the memo text (%.0f bytes "
                "of memo on average); goal under 300\n",
                kSearchEntries, static_cast<long long>(size), double(size - s.memoBytes) / kSearchEntries,
                double(s.memoBytes) / kSearchEntries);
    std::printf("Search goal: first results under 30 ms (see BM_SearchFirstResults above)\n");
    return 0;
}
