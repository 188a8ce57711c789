// Opening a folder of 9,999 recordings in the main window, as the user meets it:
// the window (main frame, view, control panel) on the offscreen platform with a
// warm index, the folder's node in the tree clicked with the mouse (the test
// seam's synthetic click), and the time until the recording list's viewport has
// painted its first rows, wall clock and the process's processor time. Beside
// it, in the same run, the click on an empty folder of the same save folder
// until its (empty) list is painted. Goal: the rows painted within 150 ms of the
// click; the first row's loading into the panel and its analysis come after.
//
// Then memory: the resident size of the whole process with the empty folder
// shown, with the 9,999 rows listed, and after going back to the empty folder.
// Each figure is taken after malloc_trim(0): glibc keeps freed memory at the top
// of its heaps and in its arenas for reuse, which is no memory the program holds.
// Goals: leaving the list gives back its rows' memory to within 2 MB of the empty
// window; the process grows by under 1 KB per listed row.
#include "MeetingRecordings.h"
#include "app/MainFrame.h"
#include "document/TALVEN77PCDoc.h"
#include "library/RecordingIndex.h"
#include "recording/FileList.h"
#include "settings/Setting.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "view/TALVEN77PCView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <malloc.h>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFiles = 9999;
constexpr int kRounds = 7;
constexpr double kGoalMs = 150.0;

QString g_base;
const QString kFullName = QStringLiteral("2024-01-01");
const QString kEmptyName = QStringLiteral("2024-01-02");
const QString kFewName = QStringLiteral("2024-01-03");
constexpr int kFew = 10;

// A save folder with one subfolder of 9,999 recordings, one empty subfolder and
// one with ten recordings.
bool prepareSaveFolder(const QString& save)
{
    const QString full = save + u'/' + kFullName;
    const QString few = save + u'/' + kFewName;
    QDir().mkpath(save + u'/' + kEmptyName);
    if (QFile::exists(save + QStringLiteral("/.complete")))
        return true;
    for (const QString& folder : {full, few}) {
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
    }
    return WriteMeetingRecordings(full, kFiles) && WriteMeetingRecordings(few, kFew)
           && WriteFileBytes(save + QStringLiteral("/.complete"), "1");
}

double cpuSeconds()
{
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

// The process's resident memory after glibc has handed back what it keeps: all
// of it, and the anonymous part (the heaps: what the program holds). The rest is
// pages of mapped files (code, fonts) touched once and shared with the page cache.
struct Resident
{
    double totalMb = 0;
    double anonymousMb = 0;
};

Resident resident()
{
    malloc_trim(0);
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    Resident figures;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        if (fields[0] == "VmRSS:")
            figures.totalMb = fields[1].toDouble() / 1024.0;
        else if (fields[0] == "RssAnon:")
            figures.anonymousMb = fields[1].toDouble() / 1024.0;
    }
    return figures;
}

// Notes the first paint of the list's viewport once the list has rows (or,
// for the empty folder, once it has none).
class PaintWatch : public QObject
{
public:
    PaintWatch(QWidget* viewport, const RecordingListModel& model) : m_viewport(viewport), m_model(model)
    {
        viewport->installEventFilter(this);
    }
    void arm(bool wantRows)
    {
        m_wantRows = wantRows;
        m_painted = false;
    }
    bool painted() const { return m_painted; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_viewport && event->type() == QEvent::Paint && !m_painted
            && (m_model.rowCount() > 0) == m_wantRows)
            m_painted = true;
        return false;
    }

private:
    QWidget* m_viewport;
    const RecordingListModel& m_model;
    bool m_wantRows = false;
    bool m_painted = true;
};

struct Open
{
    double wallMs = 0;
    double cpuMs = 0;
    double settledCpuMs = 0; // the processor time up to 300 ms after the paint
};

struct Window
{
    CTALVEN77PCDoc document;
    CSetting setting;
    int authenticated = 1;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<PaintWatch> watch;

    explicit Window(const QString& save)
    {
        setting.Load();
        setting.m_strSavePath = save;
        document.RunStartupChecks(save);
        frame = std::make_unique<CMainFrame>(document, setting, authenticated);
        frame->resize(1024, 700);
        frame->show();
        if (!QTest::qWaitForWindowExposed(frame.get()))
            std::fprintf(stderr, "the window did not show\n");
        CTALVEN77PCView& view = *frame->view();
        watch = std::make_unique<PaintWatch>(view.recordingList()->viewport(), *view.recordings());
        view.folderTree()->expandAll();
        QApplication::processEvents();
    }

    QTreeWidgetItem* node(const QString& name) const
    {
        const QList<QTreeWidgetItem*> found =
            frame->view()->folderTree()->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }

    // Clicks the folder's node; the time until the list has painted its rows.
    std::optional<Open> open(const QString& name, bool rows, int count = kFiles)
    {
        QTreeWidget* tree = frame->view()->folderTree();
        QTreeWidgetItem* item = node(name);
        if (!item)
            return std::nullopt;
        tree->scrollToItem(item);
        const QPoint where = tree->visualItemRect(item).center();
        watch->arm(rows);
        QElapsedTimer wall;
        const double cpu = cpuSeconds();
        wall.start();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, where);
        while (!watch->painted() && wall.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        Open figures{double(wall.nsecsElapsed()) / 1e6, (cpuSeconds() - cpu) * 1e3, 0};
        // What the window does after the paint (the panel's loading) ends before the next click.
        QTest::qWait(300);
        figures.settledCpuMs = (cpuSeconds() - cpu) * 1e3;
        if (!watch->painted() || (frame->view()->recordings()->rowCount() == count) != rows)
            return std::nullopt;
        return figures;
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    g_base = qEnvironmentVariable("TALVEN77_BENCH_DIR", QDir::tempPath() + QStringLiteral("/talven77-bench"));
    const QString home = g_base + QStringLiteral("/folder-open-home");
    // Settings, caches and the index of the benchmark's own, never the user's.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/cache")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/data")));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString save = g_base + QStringLiteral("/folder-open-save");
    if (!prepareSaveFolder(save)) {
        std::fprintf(stderr, "cannot prepare the benchmark folder %s\n", qPrintable(save));
        return 1;
    }
    RecordingIndex index;
    SetScanCache(&index);
    SetFolderMemo(&index);
    {
        // Warms the index (and the page cache) as an earlier run of the program would.
        CFileList warm(kListSaveFolder, false);
        warm.SetFolder(save + u'/' + kFullName);
        warm.Rescan();
    }
    int failures = 0;
    {
        Window window(save);
        if (!window.open(kEmptyName, false)) {
            std::fprintf(stderr, "the empty folder did not show\n");
            return 1;
        }
        const Resident coldWindow = resident();
        // The window once it has shown a few recordings (code, fonts and the panel's
        // first use), then the empty folder again: what the rows are measured against.
        if (!window.open(kFewName, true, kFew) || !window.open(kEmptyName, false)) {
            std::fprintf(stderr, "the folder of %d recordings did not show\n", kFew);
            return 1;
        }
        const Resident emptyWindow = resident();
        std::vector<double> fullWall, fullCpu, fullSettled, emptyWall, emptyCpu;
        double firstWall = 0;
        Resident listed, left;
        for (int round = 0; round < kRounds; ++round) {
            const std::optional<Open> full = window.open(kFullName, true);
            if (round == 0)
                listed = resident();
            const std::optional<Open> empty = window.open(kEmptyName, false);
            if (round == 0)
                left = resident();
            if (!full || !empty) {
                ++failures;
                continue;
            }
            fullWall.push_back(full->wallMs);
            fullCpu.push_back(full->cpuMs);
            fullSettled.push_back(full->settledCpuMs);
            if (round == 0)
                firstWall = full->wallMs;
            emptyWall.push_back(empty->wallMs);
            emptyCpu.push_back(empty->cpuMs);
        }
        const Resident leftLast = resident();
        if (fullWall.empty()) {
            std::fprintf(stderr, "the folder of %d recordings did not show\n", kFiles);
            return 1;
        }
        const long cores = sysconf(_SC_NPROCESSORS_ONLN);
        double load[3] = {};
        getloadavg(load, 3);
        std::printf("Load average %.2f on %ld cores; median of %zu clicks each\n", load[0], cores, fullWall.size());
        std::printf("Click to painted rows, %d recordings: %.1f ms wall, %.1f ms CPU (goal %.0f ms wall)\n", kFiles,
                    median(fullWall), median(fullCpu), kGoalMs);
        std::printf("  first click %.1f ms wall; processor time up to 300 ms after the paint %.1f ms\n", firstWall,
                    median(fullSettled));
        std::printf("Click to painted list, empty folder:  %.1f ms wall, %.1f ms CPU\n", median(emptyWall),
                    median(emptyCpu));
        std::printf("Ratio to the empty folder: %.2fx wall\n", median(fullWall) / median(emptyWall));
        const auto report = [&](const char* what, double Resident::*part) {
            std::printf("%s, after malloc_trim(0): empty window %.1f MB; %d rows listed %.1f MB (%.0f bytes a row, "
                        "goal under 1024); left %.1f MB (%+.1f MB, goal within 2 MB); after %d rounds %.1f MB "
                        "(%+.1f MB)\n",
                        what, emptyWindow.*part, kFiles, listed.*part,
                        (listed.*part - emptyWindow.*part) * 1024 * 1024 / kFiles, left.*part,
                        left.*part - emptyWindow.*part, kRounds, leftLast.*part, leftLast.*part - emptyWindow.*part);
        };
        std::printf("Resident before any recording was listed: %.1f MB, %.1f MB of it anonymous\n", coldWindow.totalMb,
                    coldWindow.anonymousMb);
        report("Resident", &Resident::totalMb);
        report("Anonymous", &Resident::anonymousMb);
    }
    SetScanCache(nullptr);
    SetFolderMemo(nullptr);
    return failures == 0 ? 0 : 1;
}
