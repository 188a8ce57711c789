// The envelope of a recording and the overview strip.
//   - analysis of a 1-hour recording (the recorder's long-play format) beside the same
//     file decoded alone by libmpg123 with the same output format, in alternating
//     rounds; goal: at least 95 % of the plain decode's speed;
//   - the first part of the strip after loading (goal 100 ms), and a cached envelope
//     shown (goal 10 ms), beside reading the cache entry's bytes alone;
//   - a repaint of the strip 1,600 pixels wide beside an empty widget's; goal 1 ms;
//   - the envelope of ten hours in memory; goal under 10 MB.
#include "CardBuilder.h"
#include "Mp3Encoder.h"
#include "RatioReporter.h"
#include "RecordingBuilder.h"
#include "analysis/EnvelopeAnalysis.h"
#include "analysis/EnvelopeCache.h"
#include "player/OverviewStrip.h"
#include "analysis/RecordingAnalysis.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <ctime>
#include <mpg123.h>
#include <vector>

namespace {

QString g_hour;
QString g_cacheFolder;
LevelEnvelope g_envelope;

// The reference: libmpg123 decoding the file, nothing else.
void referenceDecode(const QString& path)
{
    mpg123_handle* handle = mpg123_new(nullptr, nullptr);
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_FLOAT | MPG123_GAPLESS, 0);
    if (mpg123_open(handle, QFile::encodeName(path).constData()) == MPG123_OK) {
        std::vector<unsigned char> buffer(8192 * sizeof(float));
        int64_t total = 0;
        while (true) {
            size_t done = 0;
            const int result = mpg123_read(handle, buffer.data(), buffer.size(), &done);
            total += int64_t(done);
            if (result == MPG123_NEW_FORMAT)
                continue;
            if (result != MPG123_OK || done == 0)
                break;
        }
        benchmark::DoNotOptimize(total);
        mpg123_close(handle);
    }
    mpg123_delete(handle);
}

void analyse(const QString& path)
{
    LevelEnvelope envelope;
    const std::atomic<bool> never{false};
    AnalyseEnvelope(path, envelope, never);
    benchmark::DoNotOptimize(envelope.levels.data());
}

// The processor time of this thread: a machine shared with other work preempts
// the two loops by different amounts, which wall time would count.
double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Each round decodes both ways, the order swapped every round, so that neither
// always runs on a warmer cache or a cooler processor.
double g_oursSeconds = 0, g_referenceSeconds = 0;
void BM_AnalysisAgainstDecode(benchmark::State& state)
{
    int round = 0;
    for (auto _ : state) {
        double ours = 0, reference = 0;
        for (int part = 0; part < 2; ++part) {
            const bool oursNow = (part == 0) == (round % 2 == 0);
            const double start = threadSeconds();
            if (oursNow)
                analyse(g_hour);
            else
                referenceDecode(g_hour);
            (oursNow ? ours : reference) = threadSeconds() - start;
        }
        g_oursSeconds += ours;
        g_referenceSeconds += reference;
        state.SetIterationTime(ours);
        ++round;
    }
}

double g_firstPartMs = 0, g_cachedMs = 0, g_entryReadMs = 0;
void BM_FirstPartAndCached(benchmark::State& state)
{
    for (auto _ : state) {
        QDir(g_cacheFolder).removeRecursively();
        RecordingAnalysis analysis{EnvelopeCache(g_cacheFolder)};
        OverviewStrip strip;
        strip.resize(1600, 56);
        strip.show();
        QSignalSpy changed(&analysis, &RecordingAnalysis::envelopeChanged);
        QElapsedTimer clock;
        clock.start();
        analysis.load(g_hour);
        strip.setEnvelope(&analysis.envelope(), 3600);
        changed.clear();
        while (analysis.envelope().buckets() == 0 && changed.wait(10000)) {
        }
        strip.envelopeChanged();
        strip.repaint();
        g_firstPartMs = double(clock.nsecsElapsed()) / 1e6;
        QSignalSpy completed(&analysis, &RecordingAnalysis::completed);
        if (!analysis.isComplete())
            completed.wait(60000);

        clock.start();
        analysis.load(g_hour);
        strip.setEnvelope(&analysis.envelope(), 3600);
        strip.repaint();
        g_cachedMs = double(clock.nsecsElapsed()) / 1e6;
        if (!analysis.fromCache())
            state.SkipWithError("the cache was not used");

        clock.start();
        QFile entry(EnvelopeCache(g_cacheFolder).entryPath(*FileKey::Of(g_hour)));
        if (entry.open(QIODevice::ReadOnly))
            benchmark::DoNotOptimize(entry.readAll().size());
        g_entryReadMs = double(clock.nsecsElapsed()) / 1e6;
        state.SetIterationTime(g_cachedMs / 1e3);
    }
}

void BM_StripRepaint(benchmark::State& state)
{
    OverviewStrip strip;
    strip.resize(1600, 56);
    strip.setEnvelope(&g_envelope, 3600);
    strip.setSection(600, 3000);
    strip.setMarks({300, 900, 1800, 2400, 3300});
    strip.setDimmed({{120'000, 200'000}, {1'000'000, 1'100'000}});
    strip.show();
    QCoreApplication::processEvents();
    strip.repaint(); // draws the waveform pictures once
    uint64_t position = 0;
    for (auto _ : state) {
        position += 2250; // a new pixel column every repaint
        strip.setPosition(position);
        strip.repaint();
    }
}

void BM_PlainRepaint(benchmark::State& state)
{
    QWidget blank;
    blank.resize(1600, 56);
    blank.setAutoFillBackground(true);
    blank.show();
    QCoreApplication::processEvents();
    for (auto _ : state)
        blank.repaint();
}

} // namespace

BENCHMARK(BM_AnalysisAgainstDecode)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstPartAndCached)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StripRepaint)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainRepaint)->Iterations(2000)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString folder =
        qEnvironmentVariable("TALVEN77_BENCH_DIR", QDir::tempPath() + QStringLiteral("/talven77-bench"));
    QDir().mkpath(folder);
    g_hour = folder + QStringLiteral("/analysis-1h.mp3");
    g_cacheFolder = folder + QStringLiteral("/analysis-cache");
    if (!QFile::exists(g_hour)) {
        // An hour of speech with pauses: one encoded minute, repeated (no Info frame, so the minutes join).
        Mp3Format format = RecorderFormat(0);
        format.infoFrame = false;
        const EncodedMp3 minute =
            EncodeMp3Spans(format, {{Signal::Speech, 25}, {Signal::Silence, 5}, {Signal::Speech, 30}}, 4);
        QByteArray audio;
        for (int i = 0; i < 60; ++i)
            audio += minute.bytes;
        if (!minute.ok || !WriteFileBytes(g_hour, BuildRecording(MakeVoiceHeader(0), audio)))
            return 1;
    }
    const std::atomic<bool> never{false};
    AnalyseEnvelope(g_hour, g_envelope, never);

    RunComparing(&argc, argv, {{"BM_StripRepaint", "BM_PlainRepaint"}});

    if (g_oursSeconds > 0)
        std::printf("Analysis of 1 h: %.1f ms of processor time a round; libmpg123 decoding alone: %.1f ms; speed %.1f %% of the "
                    "plain decode (goal >= 95 %%)\n",
                    g_oursSeconds * 1e3 / 10, g_referenceSeconds * 1e3 / 10, 100.0 * g_referenceSeconds / g_oursSeconds);
    if (g_firstPartMs > 0)
        std::printf("First part of the strip: %.1f ms after loading (goal 100 ms); a cached overview shown in %.2f ms "
                    "(goal 10 ms), reading its entry alone %.2f ms\n",
                    g_firstPartMs, g_cachedMs, g_entryReadMs);
    LevelEnvelope tenHours;
    EnvelopeAccumulator accumulator(tenHours, 8000, 1);
    std::vector<float> second(8000, 0.1f);
    for (int s = 0; s < 36000; ++s)
        accumulator.add(second.data(), int64_t(second.size()));
    accumulator.finish();
    std::printf("Envelope of 10 h: %.2f MB held (%.2f MB of levels); goal under 10 MB\n",
                double(tenHours.levels.capacity()) / 1e6, double(tenHours.levels.size()) / 1e6);
    std::printf("Goal: a repaint of the strip under 1000 us.\n");
    return 0;
}
