// What is heard at the sound server's sink and when: PLAY, resume, a seek and a change of
// speed, from the call to the moment it is heard at the sink, PLAY beside paplay of the same
// decoded audio started the same way; and the position the engine reports against the
// position heard (a tone with a click at each whole second), including the end of a
// section. Each figure is taken idle and with a busy loop started on every core; and the
// second the control panel shows against the second heard. The same PLAY reached by the
// playback key on a window, a foot pedal's report through a FIFO, and a media-controls call
// over a private message bus; and resume with its rewind and "直前を再生" from a pause.
// Needs a sound server (scripts/packages.sh, start_test_audio_server), parec and dbus-daemon.
#include "Mp3Encoder.h"
#include "PrivateBus.h"
#include "RatioReporter.h"
#include "RecordingBuilder.h"
#include "SinkMonitor.h"
#include "audio/Mp3Ctrl.h"
#include "player/PanelDlg.h"
#include "audio/PlaybackSource.h"
#include "platform/MessageBoxes.h"
#include "platform/QtAudioOutput.h"
#include "transport/MprisService.h"
#include "transport/PedalInput.h"
#include "view/CommandSet.h"
#include "view/TransportCommands.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <map>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr double kSeconds = 12.0;
constexpr int kSoundThreshold = 300; // the quiet tone is at 1000
constexpr int kClickThreshold = 8000; // the clicks are at 20000
constexpr double kHeardTimeout = 5.0;
constexpr int kRounds = 5;

QString g_recording;
QString g_wave;
SinkMonitor g_monitor;

// Every core kept busy by a thread of its own for as long as it lives.
class CpuLoad
{
public:
    explicit CpuLoad(bool on)
    {
        if (!on)
            return;
        for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
            m_threads.emplace_back([this] {
                volatile uint64_t spin = 0;
                while (!m_stop.load(std::memory_order_relaxed))
                    spin = spin + 1;
            });
    }
    ~CpuLoad()
    {
        m_stop = true;
        for (std::thread& thread : m_threads)
            thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

// Runs events until the given time on the steady clock, asking carryOn before each turn
// (it may look at what the turn before changed): false ends the wait early.
void runEventsUntil(double until, const std::function<bool()>& carryOn = [] { return true; })
{
    while (SinkMonitor::now() < until && carryOn()) {
        QCoreApplication::processEvents();
        QThread::usleep(500);
    }
}

void waitFor(double seconds)
{
    runEventsUntil(SinkMonitor::now() + seconds);
}

// The samples of the recording as the engine decodes them, as a WAV file for paplay.
bool writeDecodedWave(const QString& recording, const QString& wave)
{
    PlaybackSource source;
    if (!source.open(recording, nullptr))
        return false;
    QByteArray pcm;
    std::vector<int16_t> block(4096 * size_t(source.channels()));
    int64_t got;
    while ((got = source.read(block.data(), 4096)) > 0)
        pcm.append(reinterpret_cast<const char*>(block.data()), qsizetype(got * source.channels() * 2));
    auto le32 = [](uint32_t v) { return QByteArray(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [](uint16_t v) { return QByteArray(reinterpret_cast<const char*>(&v), 2); };
    const uint16_t channels = uint16_t(source.channels());
    const uint32_t rate = uint32_t(source.sampleRate());
    QByteArray file = "RIFF" + le32(uint32_t(36 + pcm.size())) + "WAVEfmt " + le32(16) + le16(1) + le16(channels)
                      + le32(rate) + le32(rate * channels * 2) + le16(uint16_t(channels * 2)) + le16(16) + "data"
                      + le32(uint32_t(pcm.size())) + pcm;
    QFile out(wave);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
}

// Figures in milliseconds by name, for the summary.
std::map<std::string, std::vector<double>> g_figures;

// One figure in seconds under its name and the load it was taken under, for the summary.
void addFigure(benchmark::State& state, const std::string& name, double seconds)
{
    g_figures[name + (state.range(0) ? " (every core busy)" : " (idle)")].push_back(seconds * 1000.0);
}

void record(benchmark::State& state, const std::string& name, double seconds)
{
    addFigure(state, name, seconds);
    state.SetIterationTime(std::max(std::abs(seconds), 1e-6));
}

double meanOf(const std::vector<double>& values)
{
    double sum = 0;
    for (double value : values)
        sum += value;
    return sum / double(values.size());
}

// From the call of ask to the first sound louder than the threshold heard at the sink (ask
// tells whether there is anything to listen for); stop runs then, heard or not. Seconds, or a
// negative number with the run skipped for why when nothing was heard.
double heardAfter(benchmark::State& state, const std::string& why, int threshold,
                  const std::function<bool()>& ask, const std::function<void()>& stop)
{
    const double asked = SinkMonitor::now();
    const double heard = ask() ? g_monitor.firstLoud(asked, threshold, kHeardTimeout) : -1;
    stop();
    if (heard < 0) {
        state.SkipWithError(why.c_str());
        return -1;
    }
    return heard - asked;
}

// The same, recorded under name; false when nothing was heard.
bool recordHeard(benchmark::State& state, const std::string& name, const std::string& why, int threshold,
                 const std::function<bool()>& ask, const std::function<void()>& stop)
{
    const double seconds = heardAfter(state, why, threshold, ask, stop);
    if (seconds < 0)
        return false;
    record(state, name, seconds);
    return true;
}

// The longest a click came later than a second after the one before, over the first count
// clicks: how long the output stalled in between.
double longestStall(const std::vector<double>& clicks, size_t count)
{
    double stall = 0;
    for (size_t second = 1; second < count; ++second)
        stall = std::max(stall, clicks[second] - clicks[second - 1] - 1.0);
    return stall;
}

// When each whole second 1 to count - 1 was reached (times) against when its click was
// heard, each difference a figure under name; the mean and the largest size of the differences.
std::pair<double, double> againstClicks(benchmark::State& state, const std::string& name,
                                        const std::vector<double>& times, const std::vector<double>& clicks,
                                        size_t count)
{
    double sum = 0, worst = 0;
    for (size_t second = 1; second < count; ++second) {
        const double error = times[second] - clicks[second];
        addFigure(state, name, error);
        sum += std::abs(error);
        worst = std::max(worst, std::abs(error));
    }
    return {sum / double(count - 1), worst};
}

bool needsServer(benchmark::State& state)
{
    if (QtAudioOutput::hasOutputDevice())
        return true;
    state.SkipWithError("no sound server");
    return false;
}

// Runs the rounds of a run under its load (state.range(0): every core busy) while round
// returns true; without a sound server, none.
void eachRound(benchmark::State& state, const std::function<bool()>& round)
{
    if (!needsServer(state))
        return;
    CpuLoad load(state.range(0) != 0);
    for (auto _ : state) {
        if (!round())
            return;
    }
}

// The click recording opened in engine, at full volume.
void openClicks(CMp3Ctrl& engine)
{
    engine.SetVolume(100);
    engine.Open(g_recording);
}

void BM_PaplayHeard(benchmark::State& state)
{
    eachRound(state, [&] {
        waitFor(0.3);
        std::optional<QProcess> paplay;
        const auto play = [&] {
            paplay.emplace().start(QStringLiteral("paplay"), {g_wave});
            return true;
        };
        const auto stop = [&] {
            paplay->kill();
            paplay->waitForFinished(5000);
        };
        return recordHeard(state, "PLAY heard, paplay", "paplay was not heard", kSoundThreshold, play, stop);
    });
}

// The same clicks played by paplay: how long the sound server itself leaves the sink silent
// between two clicks, idle and with every core busy (the reference for the engine's stalls).
void BM_PaplayStall(benchmark::State& state)
{
    constexpr size_t kClicks = 6;
    eachRound(state, [&] {
        waitFor(0.3);
        const double asked = SinkMonitor::now();
        QProcess paplay;
        paplay.start(QStringLiteral("paplay"), {g_wave});
        waitFor(double(kClicks) + 1.0);
        paplay.kill();
        paplay.waitForFinished(5000);
        const std::vector<double> clicks = g_monitor.onsets(asked, SinkMonitor::now(), kClickThreshold, 0.3);
        if (clicks.size() < kClicks) {
            state.SkipWithError("paplay's clicks were not heard");
            return false;
        }
        record(state, "longest stall between clicks, paplay", longestStall(clicks, kClicks));
        return true;
    });
}

// What asks the engine to play, for heardAfter.
std::function<bool()> playing(CMp3Ctrl& engine)
{
    return [&engine] {
        engine.Play();
        return true;
    };
}

void BM_PlayHeard(benchmark::State& state)
{
    eachRound(state, [&] {
        CMp3Ctrl engine;
        openClicks(engine);
        waitFor(0.3);
        return recordHeard(state, "PLAY heard, engine", "PLAY was not heard", kSoundThreshold, playing(engine),
                           [&] { engine.Stop(); });
    });
}

void BM_ResumeHeard(benchmark::State& state)
{
    eachRound(state, [&] {
        CMp3Ctrl engine;
        openClicks(engine);
        engine.Play();
        waitFor(1.2);
        engine.Pause();
        waitFor(0.5);
        return recordHeard(state, "resume heard", "resume was not heard", kSoundThreshold, playing(engine),
                           [&] { engine.Stop(); });
    });
}

// Opens the click recording in `engine` at full volume, plays it and waits until `seconds`
// after it was first heard. Returns when it was first heard, or -1 when it was not.
double playClicksUntil(CMp3Ctrl& engine, double seconds)
{
    openClicks(engine);
    const double played = SinkMonitor::now();
    engine.Play();
    const double started = g_monitor.firstLoud(played, kSoundThreshold, kHeardTimeout);
    if (started >= 0)
        waitFor(std::max(0.0, started + seconds - SinkMonitor::now()));
    return started;
}

// A seek made between two clicks, to a second that starts with one: the first click after
// the call is the new place (the next one of the old place is most of a second away).
void BM_SeekHeard(benchmark::State& state)
{
    eachRound(state, [&] {
        CMp3Ctrl engine;
        const double started = playClicksUntil(engine, 1.2);
        const auto seek = [&] {
            engine.SetPosition(6);
            return started >= 0;
        };
        return recordHeard(state, "seek heard", "the seek was not heard", kClickThreshold, seek, [&] { engine.Stop(); });
    });
}

// A change to the fast speed made between two clicks: until the change is heard the old
// speed goes on, then the rest of the way to the next click passes at the new tempo T, so
// the next click comes after L + (r - L) / T, where r is what was left of the second when
// the change was asked; L, the time until the change is heard, follows from when the click
// is heard.
void BM_SpeedChangeHeard(benchmark::State& state)
{
    const double tempo = CMp3Ctrl::Tempo(CMp3Ctrl::Fast);
    eachRound(state, [&] {
        CMp3Ctrl engine;
        const double started = playClicksUntil(engine, 1.4);
        const double heardBefore = double(engine.GetPositionMilliseconds()) / 1000.0;
        const auto faster = [&] {
            engine.SetSpeed(CMp3Ctrl::Fast);
            return started >= 0;
        };
        const double next = heardAfter(state, "the speed change was not heard", kClickThreshold, faster,
                                       [&] { engine.Stop(); });
        if (next < 0)
            return false;
        const double left = std::ceil(heardBefore) - heardBefore;
        record(state, "speed change heard", (next - left / tempo) / (1.0 - 1.0 / tempo));
        return true;
    });
}

// The moment the engine first reports each whole second against the moment its click is
// heard; then the completion notice of a section ending at a whole second against the
// moment that second is heard.
void BM_PositionAgainstHeard(benchmark::State& state)
{
    constexpr uint64_t kEnd = 6;
    eachRound(state, [&] {
        CMp3Ctrl engine;
        openClicks(engine);
        engine.SetRange(0, kEnd);
        double notice = -1;
        QObject::connect(&engine, &CMp3Ctrl::graphNotify, &engine, [&] {
            if (engine.DrainEvents())
                notice = SinkMonitor::now();
        });
        std::vector<double> reported(kEnd, -1.0);
        const double asked = SinkMonitor::now();
        engine.Play();
        runEventsUntil(asked + kEnd + 5.0, [&] {
            if (notice >= 0)
                return false;
            const uint64_t second = engine.GetPosition();
            if (second < kEnd && reported[second] < 0)
                reported[second] = SinkMonitor::now();
            return true;
        });
        const std::vector<double> clicks = g_monitor.onsets(asked, SinkMonitor::now(), kClickThreshold, 0.3);
        if (clicks.size() < kEnd || notice < 0) {
            state.SkipWithError("the clicks or the end were not heard");
            return false;
        }
        const auto [meanError, worst] = againstClicks(state, "position reported - heard", reported, clicks, kEnd);
        // The end is heard a second after the section's last click (a stall of the output
        // on the way would move every later click, and the end, with it).
        const double endError = notice - (clicks[kEnd - 1] + 1.0);
        addFigure(state, "end notice - end heard", endError);
        addFigure(state, "longest stall between clicks", longestStall(clicks, kEnd));
        state.counters["worst_ms"] = worst * 1000.0;
        state.counters["end_ms"] = endError * 1000.0;
        state.SetIterationTime(std::max(meanError, 1e-6));
        return true;
    });
}

// The second the control panel shows (and uses for marks and skips) against the second
// heard, with the panel's own ticks running as in the window.
void BM_PanelAgainstHeard(benchmark::State& state)
{
    if (!needsServer(state))
        return;
    CpuLoad load(state.range(0) != 0);
    constexpr uint32_t kShown = 6;
    for (auto _ : state) {
        CPanelDlg panel;
        panel.session().engine().SetVolume(100);
        panel.LoadRecording(g_recording, 1);
        waitFor(0.3);
        std::vector<double> shown(kShown + 1, -1.0);
        const double asked = SinkMonitor::now();
        panel.OnPlay();
        while (SinkMonitor::now() < asked + kShown + 0.5) {
            if (panel.session().position() <= kShown && shown[panel.session().position()] < 0)
                shown[panel.session().position()] = SinkMonitor::now();
            QCoreApplication::processEvents();
            QThread::usleep(500);
        }
        panel.session().OnStop();
        const std::vector<double> clicks = g_monitor.onsets(asked, SinkMonitor::now(), kClickThreshold, 0.3);
        if (clicks.size() < kShown) {
            state.SkipWithError("the clicks were not heard");
            return;
        }
        const double meanError = againstClicks(state, "panel shows - heard", shown, clicks, kShown).first;
        state.SetIterationTime(std::max(meanError, 1e-6));
    }
}

// The control panel with the playback commands on a window, as the program has them,
// with the default keys and pedal bindings (nothing read from or written to the settings).
struct CommandRig
{
    QWidget window;
    CommandSet commands;
    CPanelDlg panel;
    TransportCommands transport{commands, &window};

    CommandRig()
    {
        panel.session().engine().SetVolume(100);
        panel.LoadRecording(g_recording, 1);
        panel.setControlsAllowed(true);
        transport.follow(&panel);
        commands.setTransportKeys(TransportSettings());
        panel.session().applyTransportSettings(TransportSettings());
        QObject::connect(&transport, &TransportCommands::stateChanged, &window,
                         [this] { update(); });
        update();
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            std::fprintf(stderr, "the window did not become active: the keys may not arrive\n");
    }
    void update()
    {
        CommandContext context;
        context.transportAllowed = transport.allowedActions();
        commands.Update(context, 0, false);
    }
    // Runs events until the panel plays: the command may arrive through the event loop.
    bool waitPlaying(double timeout = kHeardTimeout)
    {
        const double until = SinkMonitor::now() + timeout;
        while (panel.session().engine().m_state != CMp3Ctrl::Playing && SinkMonitor::now() < until) {
            QCoreApplication::processEvents();
            QThread::usleep(200);
        }
        return panel.session().engine().m_state == CMp3Ctrl::Playing;
    }
};

// From the command to the first sound heard; name: the figure's name.
bool measure(benchmark::State& state, CommandRig& rig, const std::string& name,
             const std::function<void()>& command)
{
    waitFor(0.3);
    const auto ask = [&] {
        command();
        return rig.waitPlaying();
    };
    return recordHeard(state, name, name + " was not heard", kSoundThreshold, ask, [&] {
        rig.panel.session().OnStop();
    });
}

void BM_KeyPlayHeard(benchmark::State& state)
{
    eachRound(state, [&] {
        CommandRig rig;
        return measure(state, rig, "PLAY heard, Space key", [&] { QTest::keyClick(&rig.window, Qt::Key_Space); });
    });
}

void BM_PedalPlayHeard(benchmark::State& state)
{
    if (!needsServer(state))
        return;
    CpuLoad load(state.range(0) != 0);
    const QString fifo = QDir::tempPath() + QStringLiteral("/talven77-bench-pedal");
    ::unlink(QFile::encodeName(fifo).constData());
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    for (auto _ : state) {
        CommandRig rig;
        TransportSettings settings;
        settings.pedalDevice = fifo;
        rig.transport.pedals().apply(settings);
        const int writer =
            ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        const char down[2] = {0x02, 0x00}; // the middle pedal: play while held
        const bool heard = writer >= 0 && measure(state, rig, "PLAY heard, foot pedal", [&] {
                               if (::write(writer, down, sizeof down) != sizeof down)
                                   std::fprintf(stderr, "the pedal report was not written\n");
                           });
        if (writer >= 0)
            ::close(writer);
        if (!heard)
            break;
    }
    ::unlink(QFile::encodeName(fifo).constData());
}

void BM_BusPlayHeard(benchmark::State& state)
{
    if (!needsServer(state))
        return;
    CpuLoad load(state.range(0) != 0);
    PrivateBus bus;
    QString why;
    const QString address = bus.start(&why);
    if (address.isEmpty()) {
        state.SkipWithError(qPrintable(why));
        return;
    }
    QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("bench-client"));
    for (auto _ : state) {
        CommandRig rig;
        MprisService service;
        service.setTarget(&rig.panel.session());
        if (!service.registerOn(
                QDBusConnection::connectToBus(address, QStringLiteral("bench-service")))) {
            state.SkipWithError("the player did not register");
            return;
        }
        const bool heard = measure(state, rig, "PLAY heard, media controls", [&] {
            client.asyncCall(QDBusMessage::createMethodCall(
                MprisService::kServiceName, MprisService::kObjectPath,
                QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("PlayPause")));
        });
        if (!heard)
            break;
    }
    // The next run has a bus of its own: these names must not find this one's connections.
    QDBusConnection::disconnectFromBus(QStringLiteral("bench-client"));
    QDBusConnection::disconnectFromBus(QStringLiteral("bench-service"));
}

// From a pause: Space resumes 2 s back; "直前を再生" (Ctrl+R) plays the last 5 s again.
void BM_ResumeRewindAndReplayHeard(benchmark::State& state)
{
    eachRound(state, [&] {
        CommandRig rig;
        for (const auto& [name, key, modifiers] :
             {std::tuple{"resume 2 s back heard, Space key", Qt::Key_Space,
                         Qt::KeyboardModifiers()},
              std::tuple{"replay heard, Ctrl+R", Qt::Key_R,
                         Qt::KeyboardModifiers(Qt::ControlModifier)}}) {
            rig.panel.OnPlay();
            waitFor(3.2);
            rig.panel.session().OnPause();
            if (!measure(state, rig, name, [&, key = key, modifiers = modifiers] {
                    QTest::keyClick(&rig.window, key, modifiers);
                }))
                return false;
        }
        return true;
    });
}

void printSummary()
{
    std::printf("\nmilliseconds over the rounds: mean [lowest, highest]\n");
    for (const auto& [name, values] : g_figures) {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        std::printf("  %-48s %8.1f [%7.1f, %7.1f]  (%zu)\n", name.c_str(), meanOf(values), *low, *high,
                    values.size());
    }
    for (const char* load : {" (idle)", " (every core busy)"}) {
        const auto ours = g_figures.find(std::string("PLAY heard, engine") + load);
        const auto reference = g_figures.find(std::string("PLAY heard, paplay") + load);
        if (ours == g_figures.end() || reference == g_figures.end())
            continue;
        std::printf("PLAY%s: engine %.1f ms, paplay %.1f ms, difference %+.1f ms\n", load, meanOf(ours->second),
                    meanOf(reference->second), meanOf(ours->second) - meanOf(reference->second));
    }
}

} // namespace

BENCHMARK(BM_PaplayHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaplayStall)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResumeHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeekHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpeedChangeHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PositionAgainstHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PanelAgainstHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyPlayHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PedalPlayHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BusPlayHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResumeRewindAndReplayHeard)->Arg(0)->Arg(1)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString folder = qEnvironmentVariable("TALVEN77_BENCH_DIR", QDir::tempPath() + QStringLiteral("/talven77-bench"));
    QDir().mkpath(folder);
    g_recording = folder + QStringLiteral("/clicks.mp3");
    g_wave = folder + QStringLiteral("/clicks.wav");
    // A click at each whole second over a quiet 1 kHz tone, 44.1 kHz mono.
    if (!WriteFileBytes(g_recording, BuildRecording(MakeVoiceHeader(1), EncodeMp3({44100, 1, 128, false, true}, kSeconds, 0,
                                                                                   Signal::SecondClicks, 1000.0)
                                                                             .bytes))
        || !writeDecodedWave(g_recording, g_wave)) {
        std::fprintf(stderr, "cannot write the recording under %s\n", qPrintable(folder));
        return 1;
    }
    if (!g_monitor.start()) {
        std::fprintf(stderr, "parec cannot record the default sink's monitor\n");
        return 1;
    }
    std::vector<Comparison> comparisons;
    for (const char* path : {"BM_PlayHeard", "BM_KeyPlayHeard", "BM_PedalPlayHeard", "BM_BusPlayHeard",
                             "BM_ResumeRewindAndReplayHeard"}) {
        comparisons.push_back({std::string(path) + "/0", "BM_PaplayHeard/0"});
        comparisons.push_back({std::string(path) + "/1", "BM_PaplayHeard/1"});
    }
    RunComparing(&argc, argv, comparisons);
    g_monitor.stop();
    printSummary();
    return 0;
}
