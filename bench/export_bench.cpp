// Export of a section of a 1-hour recording (high quality: MPEG-1 44.1 kHz 128 kbit/s
// stereo, 57 MB), against what it is built on, in folders of one file system:
// - the MP3 section (minutes 10 to 50, 38 MB) cut without re-encoding and written
//   durably, beside cp of a file of the same size followed by a sync of the copy;
// - the WAV of minutes 10 to 15, beside decoding that section alone (no writing).
// The recording is one minute of real LAME audio repeated, a valid stream whose every
// repetition starts without a reservoir. Goals: MP3 within 1.5 times cp, WAV within
// 1.2 times the decoding.
#include "Mp3Encoder.h"
#include "RatioReporter.h"
#include "RecordingBuilder.h"
#include "CardBuilder.h"
#include "export/RecordingExport.h"
#include "audio/Mp3Decoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>
#include <vector>

namespace {

QString g_folder;
QString g_recording;
QString g_sameBytes; // a file as large as the MP3 section's export
const ExportSpan kMp3Section{600'000, 3'000'000};
const ExportSpan kWavSection{600'000, 900'000};

bool prepare()
{
    static QTemporaryDir dir(QDir::current().filePath(QStringLiteral("export-bench-XXXXXX")));
    if (!dir.isValid())
        return false;
    g_folder = dir.path();
    const EncodedMp3 minute = EncodeMp3(RecorderFormat(2), 60.0, 5);
    if (!minute.ok)
        return false;
    QByteArray audio;
    for (int i = 0; i < 60; ++i)
        audio += minute.bytes;
    g_recording = g_folder + QStringLiteral("/REC0001.MP3");
    if (!WriteFileBytes(g_recording, BuildRecording(MakeVoiceHeader(2, QStringLiteral("会議"), {700, 1200, 2500}), audio)))
        return false;
    QDir().mkpath(g_folder + QStringLiteral("/out"));
    ExportOptions options;
    options.section = kMp3Section;
    const ExportResult once = ExportRecording(g_recording, g_folder + QStringLiteral("/out"), options);
    if (!once.ok)
        return false;
    g_sameBytes = g_folder + QStringLiteral("/same-bytes.bin");
    QFile::remove(g_sameBytes);
    return QFile::rename(once.outputPath, g_sameBytes);
}

// Removes what a pass wrote, off the clock.
void clearOutUntimed(benchmark::State& state)
{
    state.PauseTiming();
    QDir out(g_folder + QStringLiteral("/out"));
    for (const QString& name : out.entryList(QDir::Files))
        out.remove(name);
    state.ResumeTiming();
}

void exportEachPass(benchmark::State& state, const ExportOptions& options)
{
    for (auto _ : state) {
        const ExportResult result = ExportRecording(g_recording, g_folder + QStringLiteral("/out"), options);
        if (!result.ok)
            state.SkipWithError("export failed");
        clearOutUntimed(state);
    }
}

void BM_ExportMp3Section(benchmark::State& state)
{
    ExportOptions options;
    options.section = kMp3Section;
    exportEachPass(state, options);
}

void BM_CpAndSync(benchmark::State& state)
{
    const QByteArray command = QFile::encodeName(QStringLiteral("cp '%1' '%2/out/copy.bin' && sync '%2/out/copy.bin'")
                                                     .arg(g_sameBytes, g_folder));
    for (auto _ : state) {
        if (std::system(command.constData()) != 0)
            state.SkipWithError("cp failed");
        clearOutUntimed(state);
    }
}

void BM_ExportWavSection(benchmark::State& state)
{
    ExportOptions options;
    options.format = ExportFormat::Wav;
    options.section = kWavSection;
    exportEachPass(state, options);
}

void BM_DecodeSection(benchmark::State& state)
{
    std::vector<float> samples(8192 * 2);
    for (auto _ : state) {
        Mp3Decoder decoder;
        if (!decoder.open(g_recording, nullptr))
            state.SkipWithError("cannot decode");
        const int64_t begin = kWavSection.beginMs * decoder.sampleRate() / 1000;
        const int64_t end = kWavSection.endMs * decoder.sampleRate() / 1000;
        decoder.seek(begin);
        for (int64_t done = 0; done < end - begin;) {
            const int64_t got = decoder.read(samples.data(), std::min<int64_t>(8192, end - begin - done));
            if (got <= 0)
                break;
            done += got;
        }
        benchmark::DoNotOptimize(samples.data());
    }
}

BENCHMARK(BM_ExportMp3Section)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CpAndSync)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ExportWavSection)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeSection)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    if (!prepare()) {
        std::fprintf(stderr, "cannot prepare the benchmark's recording\n");
        return 1;
    }
    RunComparing(&argc, argv, {{"BM_ExportMp3Section", "BM_CpAndSync"}, {"BM_ExportWavSection", "BM_DecodeSection"}});
    return 0;
}
