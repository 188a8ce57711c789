#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "audio/Mp3Ctrl.h"
#include "platform/QtAudioOutput.h"
#include "recording/VoiceDuration.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <sys/resource.h>

namespace {

constexpr int kRecordRate = 22050;

struct Heard
{
    double seconds = 0;   // from the first to the last loud sample
    double frequency = 0; // from zero crossings within that stretch
    double peak = 0;
    double longestGapMs = 0; // the longest quiet stretch inside the tone
};

Heard analyse(const QByteArray& raw)
{
    const auto* samples = reinterpret_cast<const int16_t*>(raw.constData());
    const qsizetype count = raw.size() / 2;
    qsizetype first = -1, last = -1;
    Heard heard;
    for (qsizetype i = 0; i < count; ++i) {
        if (std::abs(int(samples[i])) > 800) {
            if (first < 0)
                first = i;
            last = i;
        }
        heard.peak = std::max(heard.peak, double(std::abs(int(samples[i]))));
    }
    if (first < 0)
        return heard;
    heard.seconds = double(last - first) / kRecordRate;
    int crossings = 0;
    for (qsizetype i = first + 1; i <= last; ++i) {
        if ((samples[i - 1] < 0) != (samples[i] < 0))
            ++crossings;
    }
    heard.frequency = crossings / 2.0 / heard.seconds;
    qsizetype quietSince = -1;
    for (qsizetype i = first; i <= last; ++i) {
        if (std::abs(int(samples[i])) > 800) {
            if (quietSince >= 0)
                heard.longestGapMs = std::max(heard.longestGapMs, (i - quietSince) * 1000.0 / kRecordRate);
            quietSince = -1;
        } else if (quietSince < 0) {
            quietSince = i;
        }
    }
    return heard;
}

// Context switches of all the process's threads so far: each is a thread waking up (or
// being put aside for another).
long contextSwitches()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

} // namespace

// Plays real recordings into the sound server's default sink (a null sink
// under test.sh) and records what reached it.
class PulseOutputTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_tone;

private Q_SLOTS:
    void initTestCase()
    {
        if (!QtAudioOutput::hasOutputDevice()) {
            if (qEnvironmentVariableIsSet("TALVEN77_REQUIRE_AUDIO"))
                QFAIL("test.sh started a sound server, but there is no audio output");
            QSKIP("no sound server to play to");
        }
        m_tone = m_dir.filePath(QStringLiteral("tone.mp3"));
        const EncodedMp3 audio = EncodeMp3({22050, 1, 64, false, true}, 4.0, 0, Signal::Tone, 1000.0);
        QVERIFY(WriteFileBytes(m_tone, BuildRecording(MakeVoiceHeader(1), audio.bytes)));
    }

    void playsTheToneAtEachSpeed_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<double>("seconds");
        QTest::newRow("normal") << int(CMp3Ctrl::Normal) << 4.0;
        QTest::newRow("fast") << int(CMp3Ctrl::Fast) << 4.0 / 1.5;
    }
    void playsTheToneAtEachSpeed()
    {
        QFETCH(int, speed);
        QFETCH(double, seconds);
        g_bNoAudioOutput = false;
        QProcess recorder;
        recorder.start(QStringLiteral("parec"), {QStringLiteral("--device=@DEFAULT_MONITOR@"), QStringLiteral("--raw"),
                                                 QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                                                 QStringLiteral("--rate=%1").arg(kRecordRate)});
        QVERIFY2(recorder.waitForStarted(5000), "parec (pulseaudio-utils) is needed");
        QTest::qWait(300);

        CMp3Ctrl engine;
        engine.SetSpeed(speed);
        engine.SetVolume(100);
        QVERIFY(engine.Open(m_tone));
        QSignalSpy notices(&engine, &CMp3Ctrl::graphNotify);
        QVERIFY(engine.Play());
        // The window is busy for a while: the output goes on by itself.
        QTimer::singleShot(1000, [] { QThread::msleep(250); });
        QVERIFY(notices.wait(20000));
        QVERIFY(engine.DrainEvents());
        QTest::qWait(300);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(5000));
        const Heard heard = analyse(recorder.readAllStandardOutput());
        qInfo("heard %.3f s of a %.1f Hz tone, peak %.0f, longest gap %.1f ms", heard.seconds, heard.frequency,
              heard.peak, heard.longestGapMs);

        QVERIFY2(std::abs(heard.seconds - seconds) < 0.15, qPrintable(QString::number(heard.seconds)));
        // The pitch is kept at every speed.
        QVERIFY2(std::abs(heard.frequency - 1000.0) < 30.0, qPrintable(QString::number(heard.frequency)));
        // The tone's amplitude (12000 of 32767) at full volume.
        QVERIFY2(heard.peak > 9000 && heard.peak < 15000, qPrintable(QString::number(heard.peak)));
        // No stutter, although the UI thread was blocked for 250 ms.
        QVERIFY2(heard.longestGapMs < 2.0, qPrintable(QString::number(heard.longestGapMs)));
    }

    // Paused, the output holds its place without anything waking: no feeding, no watching
    // of a clock that stands still. (The UI thread sleeps meanwhile, so every wake-up
    // counted is the output's or the sound server connection's, whose timing queries
    // thin out within a second of the pause.)
    void pausedOutputSleeps()
    {
        g_bNoAudioOutput = false;
        CMp3Ctrl engine;
        QVERIFY(engine.Open(m_tone));
        QVERIFY(engine.Play());
        QTest::qWait(300);
        engine.Pause();
        const uint64_t position = engine.GetPositionMilliseconds();
        QThread::msleep(1000); // the pause settles
        const long before = contextSwitches();
        QThread::msleep(1000);
        const long woken = contextSwitches() - before;
        qInfo("%ld wake-ups in a second paused", woken);
        QVERIFY2(woken < 10, qPrintable(QString::number(woken)));
        QCOMPARE(engine.GetPositionMilliseconds(), position);
        engine.Stop();
    }
};

TALVEN77_REGISTER_TEST(PulseOutputTest);
#include "PulseOutputTest.moc"
