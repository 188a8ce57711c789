// Scanning a folder of 9,999 recordings (warm cache) against a bare loop that
// enumerates the same files and reads the first 4 KiB of each.
#include "CardBuilder.h"
#include "RatioReporter.h"
#include "RecordingBuilder.h"
#include "recording/FileList.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFiles = 9999;
QString g_folder;

// Distinct files: a few real MP3s of the recorder's modes, each file with a header of its own.
bool prepareFolder()
{
    const QString base = qEnvironmentVariable("TALVEN77_BENCH_DIR", QDir::tempPath() + QStringLiteral("/talven77-bench"));
    g_folder = base + QStringLiteral("/scan-9999");
    if (QFile::exists(g_folder + QStringLiteral("/.complete")))
        return true;
    QDir(g_folder).removeRecursively();
    QDir().mkpath(g_folder);
    QList<QByteArray> audio;
    for (uint8_t mode = 0; mode < 3; ++mode)
        audio.append(EncodeMp3(RecorderFormat(mode), 3.0, mode).bytes);
    for (int i = 0; i < kFiles; ++i) {
        const QByteArray bytes = BuildRecording(
            MakeVoiceHeader(uint8_t(i % 3), QStringLiteral("録音 %1").arg(i), {uint32_t(i % 7 + 1)}),
            audio[i % 3], 256);
        if (!WriteFileBytes(g_folder + QStringLiteral("/REC%1.MP3").arg(i, 5, 10, QLatin1Char('0')), bytes))
            return false;
    }
    return WriteFileBytes(g_folder + QStringLiteral("/.complete"), "1");
}

void BM_Rescan(benchmark::State& state)
{
    CFileList list(kListRegistered, false);
    list.SetFolder(g_folder);
    for (auto _ : state) {
        list.Rescan();
        benchmark::DoNotOptimize(list.GetRecordCount());
    }
    if (list.GetRecordCount() != kFiles)
        state.SkipWithError("the scan did not find every recording");
}

void BM_BareLoop(benchmark::State& state)
{
    const QByteArray folder = QFile::encodeName(g_folder) + '/';
    char buffer[4096];
    for (auto _ : state) {
        int files = 0;
        DIR* dir = opendir(folder.constData());
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const QByteArray path = folder + entry->d_name;
            struct stat st {};
            if (stat(path.constData(), &st) != 0)
                continue;
            const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            benchmark::DoNotOptimize(read(fd, buffer, sizeof buffer));
            close(fd);
            ++files;
        }
        closedir(dir);
        benchmark::DoNotOptimize(files);
    }
}

} // namespace

BENCHMARK(BM_Rescan)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BareLoop)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv)
{
    if (!prepareFolder()) {
        std::fprintf(stderr, "cannot prepare the benchmark folder %s\n", qPrintable(g_folder));
        return 1;
    }
    RunComparing(&argc, argv, {{"BM_Rescan", "BM_BareLoop", kFiles}});
    return 0;
}
