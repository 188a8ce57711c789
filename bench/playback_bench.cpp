// Playback cost: decoding + tempo per second of audio at each speed, beside
// plain libmpg123 decoding of the same file; and how long a seek takes to
// reach the first sample of the new position.
#include "Mp3Encoder.h"
#include "RatioReporter.h"
#include "RecordingBuilder.h"
#include "audio/Mp3Ctrl.h"
#include "audio/PlaybackSource.h"
#include "platform/QtAudioOutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <mpg123.h>
#include <vector>

namespace {

constexpr double kSeconds = 30.0;
QString g_file;

void BM_PlainDecode(benchmark::State& state)
{
    mpg123_init();
    std::vector<unsigned char> buffer(16384);
    for (auto _ : state) {
        mpg123_handle* handle = mpg123_new(nullptr, nullptr);
        mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        mpg123_open(handle, QFile::encodeName(g_file).constData());
        size_t done = 0;
        int result;
        while ((result = mpg123_read(handle, buffer.data(), buffer.size(), &done)) == MPG123_OK
               || result == MPG123_NEW_FORMAT)
            benchmark::DoNotOptimize(buffer.data());
        mpg123_close(handle);
        mpg123_delete(handle);
    }
}

void BM_Playback(benchmark::State& state)
{
    const int speed = int(state.range(0));
    std::vector<int16_t> buffer(8192);
    for (auto _ : state) {
        PlaybackSource source;
        source.open(g_file, nullptr);
        source.setTempo(CMp3Ctrl::Tempo(speed));
        source.setGain(0.5f);
        while (source.read(buffer.data(), int64_t(buffer.size()) / source.channels()) > 0)
            benchmark::DoNotOptimize(buffer.data());
    }
    state.SetLabel(speed == CMp3Ctrl::Fast ? "fast" : speed == CMp3Ctrl::Slow ? "slow" : "normal");
}

// The decoder's side of a seek: from the call to the first block of samples of the new place.
void BM_SeekToFirstSamples(benchmark::State& state)
{
    PlaybackSource source;
    source.open(g_file, nullptr);
    source.setTempo(CMp3Ctrl::Tempo(int(state.range(0))));
    std::vector<int16_t> buffer(2048);
    int second = 0;
    for (auto _ : state) {
        second = (second + 7) % int(kSeconds - 1);
        source.seek(int64_t(second) * source.sampleRate());
        benchmark::DoNotOptimize(source.read(buffer.data(), 1024));
    }
}

// The whole seek as the engine does it on the sound server: stop the output,
// move the source, start again; until the output takes the first samples.
void BM_SeekThroughTheOutput(benchmark::State& state)
{
    if (!QtAudioOutput::hasOutputDevice()) {
        state.SkipWithError("no sound server");
        return;
    }
    PlaybackSource source;
    source.open(g_file, nullptr);
    QtAudioOutput output;
    output.open(source.sampleRate(), source.channels(), &source, nullptr);
    output.start();
    int second = 0;
    for (auto _ : state) {
        second = (second + 7) % int(kSeconds - 1);
        output.stop();
        const int64_t before = output.pulledFrames();
        source.seek(int64_t(second) * source.sampleRate());
        output.start();
        while (output.pulledFrames() == before)
            QThread::usleep(100);
    }
    output.stop();
}

} // namespace

BENCHMARK(BM_PlainDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Playback)->Arg(CMp3Ctrl::Fast)->Arg(CMp3Ctrl::Normal)->Arg(CMp3Ctrl::Slow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeekToFirstSamples)->Arg(CMp3Ctrl::Normal)->Arg(CMp3Ctrl::Fast)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SeekThroughTheOutput)->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = qEnvironmentVariable("TALVEN77_BENCH_DIR", QDir::tempPath() + QStringLiteral("/talven77-bench"));
    QDir().mkpath(folder);
    g_file = folder + QStringLiteral("/playback-30s.mp3");
    // The heaviest of the recorder's formats: 44.1 kHz stereo at 128 kbit/s.
    if (!WriteFileBytes(g_file, BuildRecording(MakeVoiceHeader(2), EncodeMp3({44100, 2, 128, false, true}, kSeconds, 5).bytes)))
        return 1;
    // Per second of audio.
    RunComparing(&argc, argv,
                 {{"BM_Playback/0", "BM_PlainDecode", kSeconds},
                  {"BM_Playback/1", "BM_PlainDecode", kSeconds},
                  {"BM_Playback/2", "BM_PlainDecode", kSeconds}});
    return 0;
}
