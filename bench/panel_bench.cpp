// The control panel's cost: a 20 s recording played to its end by the engine
// alone, then through the shown panel (its 250 ms timer running), both into the
// default audio output; the process's CPU time per second of audio for each,
// and the difference as a share of one core. Then the display's synchronous
// repaint, playing and paused, beside a plain repaint of an empty widget of the
// same size. Goals: the panel adds less than 1 % of one core; a display repaint
// takes under 1 ms.
#include "CardBuilder.h"
#include "RatioReporter.h"
#include "RecordingBuilder.h"
#include "VirtualAudioOutput.h"
#include "platform/QtAudioOutput.h"
#include "audio/Mp3Ctrl.h"
#include "player/PanelDlg.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <ctime>
#include <optional>

namespace {

constexpr double kSeconds = 20.0;
constexpr int kRepaints = 2000;
QString g_file;
bool g_audio = false;

double cpuSeconds(clockid_t clock)
{
    timespec time{};
    clock_gettime(clock, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

struct PlaybackFigures
{
    double wall = 0;    // seconds from Play to the end's notice
    double process = 0; // CPU seconds of the whole process over that time
    double gui = 0;     // CPU seconds of the thread running the event loop

    double msPerAudioSecond() const { return process * 1e3 / kSeconds; }
    double corePercent() const { return process * 100.0 / wall; }
    double guiPercent() const { return gui * 100.0 / wall; }
};
std::optional<PlaybackFigures> g_engine;
std::optional<PlaybackFigures> g_panel;

// Runs the event loop from play() until ended() says so after a graphNotify of
// the engine; nothing when playback does not end in time.
std::optional<PlaybackFigures> playToEnd(CMp3Ctrl& engine, const std::function<bool()>& play,
                                         const std::function<bool()>& ended)
{
    QEventLoop loop;
    bool done = false;
    QObject::connect(&engine, &CMp3Ctrl::graphNotify, &loop, [&] {
        if (ended()) {
            done = true;
            loop.quit();
        }
    });
    QTimer::singleShot(int(kSeconds * 1500) + 5000, &loop, &QEventLoop::quit);
    QElapsedTimer wall;
    const double process = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double gui = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    wall.start();
    if (!play())
        return std::nullopt;
    loop.exec();
    PlaybackFigures figures{double(wall.nsecsElapsed()) / 1e9,
                            cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process,
                            cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - gui};
    if (!done)
        return std::nullopt;
    return figures;
}

void report(benchmark::State& state, const PlaybackFigures& figures)
{
    state.SetIterationTime(figures.wall);
    state.counters["cpu_ms_per_audio_s"] = figures.msPerAudioSecond();
    state.counters["core_pct"] = figures.corePercent();
    state.counters["gui_thread_pct"] = figures.guiPercent();
}

void BM_EnginePlayback(benchmark::State& state)
{
    if (!g_audio) {
        state.SkipWithError("no audio output");
        return;
    }
    CMp3Ctrl engine;
    if (!engine.Open(g_file)) {
        state.SkipWithError("the recording did not open");
        return;
    }
    for (auto _ : state) {
        g_engine = playToEnd(
            engine, [&] { return engine.Play(); }, [&] { return engine.DrainEvents(); });
        if (!g_engine) {
            state.SkipWithError("playback did not end");
            return;
        }
        report(state, *g_engine);
    }
}

void BM_PanelPlayback(benchmark::State& state)
{
    if (!g_audio) {
        state.SkipWithError("no audio output");
        return;
    }
    CPanelDlg panel;
    panel.show();
    panel.setControlsAllowed(true);
    panel.LoadRecording(g_file, 1);
    QCoreApplication::processEvents();
    // The session takes the end's notice first and acts on it at once, saying so.
    bool ended = false;
    QObject::connect(&panel.session(), &PlaybackSession::reachedEnd, &panel, [&] { ended = true; });
    for (auto _ : state) {
        ended = false;
        g_panel = playToEnd(
            panel.session().engine(),
            [&] {
                panel.OnPlay();
                return panel.session().engine().m_state == CMp3Ctrl::Playing;
            },
            [&] { return ended; });
        if (!g_panel) {
            state.SkipWithError("playback did not end");
            return;
        }
        report(state, *g_panel);
    }
}

// With no audio output the panel plays into an output on a virtual clock,
// which is enough for the display to show a recording playing.
AudioOutputFactory repaintOutputs()
{
    if (g_audio)
        return {};
    return [] { return std::make_unique<VirtualAudioOutput>(); };
}

void BM_DisplayRepaint(benchmark::State& state)
{
    const auto playerState = CMp3Ctrl::PlayerState(state.range(0));
    CPanelDlg panel(repaintOutputs());
    panel.show();
    panel.setControlsAllowed(true);
    panel.LoadRecording(g_file, 1);
    panel.OnPlay();
    if (playerState == CMp3Ctrl::Paused)
        panel.session().OnPause();
    QCoreApplication::processEvents();
    if (panel.session().engine().m_state != playerState) {
        state.SkipWithError("the panel did not reach the state");
        return;
    }
    for (auto _ : state)
        panel.RedrawDisplay();
    state.SetLabel(playerState == CMp3Ctrl::Playing ? "playing" : "paused");
    panel.session().OnStop();
}

// The least a repaint of the display's area can do: an empty widget of the same
// size in a window of the panel's size, filling its background.
void BM_PlainRepaint(benchmark::State& state)
{
    QRect area;
    QSize size;
    {
        CPanelDlg panel(repaintOutputs());
        area = panel.displayArea()->geometry();
        size = panel.size();
    }
    QWidget window;
    window.setFixedSize(size);
    QWidget blank(&window);
    blank.setGeometry(area);
    blank.setAutoFillBackground(true);
    window.show();
    QCoreApplication::processEvents();
    for (auto _ : state)
        blank.repaint(blank.rect().adjusted(1, 1, -1, -1));
}

} // namespace

BENCHMARK(BM_EnginePlayback)
    ->Iterations(1)
    ->UseManualTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PanelPlayback)
    ->Iterations(1)
    ->UseManualTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DisplayRepaint)
    ->Arg(CMp3Ctrl::Playing)
    ->Arg(CMp3Ctrl::Paused)
    ->Iterations(kRepaints)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainRepaint)->Iterations(kRepaints)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString folder = qEnvironmentVariable(
        "TALVEN77_BENCH_DIR", QDir::tempPath() + QStringLiteral("/talven77-bench"));
    QDir().mkpath(folder);
    g_file = folder + QStringLiteral("/panel-20s.mp3");
    // The heaviest of the recorder's formats (44.1 kHz stereo at 128 kbit/s), with a memo and marks
    // for the display to show.
    if (!WriteFileBytes(g_file,
                        BuildRecording(MakeVoiceHeader(2, QStringLiteral("定例会議"), {3, 8, 15}),
                                       EncodeMp3(RecorderFormat(2), kSeconds, 5).bytes)))
        return 1;
    g_audio = QtAudioOutput::hasOutputDevice();
    if (!g_audio)
        std::printf(
            "No audio output: playback cannot be measured; measuring the display repaint only.\n");

    RunComparing(&argc, argv, {{"BM_DisplayRepaint/2", "BM_PlainRepaint"}, {"BM_DisplayRepaint/3", "BM_PlainRepaint"}});

    const auto line = [](const char* name, const PlaybackFigures& figures) {
        std::printf("%s: %.2f ms CPU per second of audio, %.2f %% of one core "
                    "(event loop thread %.2f %%), %.1f s wall\n",
                    name, figures.msPerAudioSecond(), figures.corePercent(), figures.guiPercent(),
                    figures.wall);
    };
    if (g_engine)
        line("Engine alone", *g_engine);
    if (g_panel) {
        line("Through the panel", *g_panel);
        const double ticks = g_panel->wall * 1e3 / CPanelDlg::kTimerMilliseconds;
        std::printf("The panel's event loop thread: %.0f us CPU per %d ms tick\n",
                    g_panel->gui * 1e6 / ticks, CPanelDlg::kTimerMilliseconds);
    }
    if (g_engine && g_panel)
        std::printf("The panel adds %.2f %% of one core (event loop thread %+.2f %%); ratio %.2fx; "
                    "goal < 1 %%\n",
                    g_panel->corePercent() - g_engine->corePercent(),
                    g_panel->guiPercent() - g_engine->guiPercent(),
                    g_panel->msPerAudioSecond() / g_engine->msPerAudioSecond());
    else if (!g_audio)
        std::printf("Playback not measured: no audio output.\n");
    std::printf("Goal: a display repaint under 1000 us.\n");
    return 0;
}
