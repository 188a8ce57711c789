#include "MessageRecorder.h"
#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "VirtualAudioOutput.h"
#include "platform/SystemErrorText.h"
#include "audio/Mp3Ctrl.h"
#include "recording/VoiceDuration.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

namespace {

const QString kNoOutputOnPlay = QStringLiteral("音声出力先が存在しないため再生できません。環境を確認してください。");

// An engine whose outputs run on the virtual clock; output() is the one of the open file.
struct VirtualEngine
{
    VirtualAudioOutput* current = nullptr;
    bool available = true;
    CMp3Ctrl engine{[this] {
        auto output = std::make_unique<VirtualAudioOutput>();
        output->available = available;
        current = output.get();
        return output;
    }};
    VirtualAudioOutput& output() { return *current; }
    // Plays on until the end of the section (or the limit), delivering notices.
    double playToEnd(double limitSeconds = 120)
    {
        double played = 0;
        while (played < limitSeconds) {
            const int64_t frames = current->advance(0.25);
            played += double(frames) / current->sampleRate();
            if (frames == 0)
                break;
        }
        QCoreApplication::processEvents();
        return played;
    }
};

double peak(const std::vector<int16_t>& samples, size_t from = 0)
{
    int value = 0;
    for (size_t i = from; i < samples.size(); ++i)
        value = std::max(value, std::abs(int(samples[i])));
    return value;
}

// The output frames at which the clicks of a click track (one at each whole second of
// the media) begin in what was heard.
std::vector<int64_t> clickFrames(const std::vector<int16_t>& heard, int sampleRate)
{
    std::vector<int64_t> found;
    int64_t quiet = sampleRate;
    for (size_t i = 0; i < heard.size(); ++i) {
        if (std::abs(int(heard[i])) > 8000) {
            if (quiet > sampleRate / 4)
                found.push_back(int64_t(i));
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

} // namespace

class EngineTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_tenSeconds;   // 8 kHz mono speech, whole frames just over 10 s
    QString m_tone;         // 22.05 kHz 1 kHz tone, 4 s
    QString m_long;         // 8 kHz, whole frames 59.9.. s
    QString m_clicks;       // 22.05 kHz, a click at each whole second, 8 s

    QString writeRecording(const QString& name, const EncodedMp3& audio)
    {
        const QString path = m_dir.filePath(name);
        [&] { QVERIFY(audio.ok && WriteFileBytes(path, BuildRecording(MakeVoiceHeader(1), audio.bytes))); }();
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_tenSeconds = writeRecording(QStringLiteral("ten.mp3"), EncodeMp3({8000, 1, 16, false, true}, 10.0, 3));
        m_tone = writeRecording(QStringLiteral("tone.mp3"),
                                EncodeMp3({22050, 1, 64, false, true}, 4.0, 0, Signal::Tone, 1000.0));
        m_long = writeRecording(QStringLiteral("long.mp3"), EncodeMp3({8000, 1, 8, false, true}, 59.75, 4));
        m_clicks = writeRecording(QStringLiteral("clicks.mp3"),
                                  EncodeMp3({22050, 1, 64, false, true}, 8.0, 0, Signal::SecondClicks, 1000.0));
    }
    void init()
    {
        g_bNoAudioOutput = false;
    }

    void durationAndPositionsAreWholeSeconds()
    {
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_long));
        QCOMPARE(v.engine.m_duration, 59u); // whole frames: 59.9 s
        QCOMPARE(uint32_t(v.engine.m_duration), GetVoiceDuration(m_long));
        QCOMPARE(v.engine.m_begin, 0u);
        QCOMPARE(v.engine.m_end, 59u);
        QCOMPARE(v.engine.m_state, CMp3Ctrl::Stopped);
        QVERIFY(v.engine.Play());
        QCOMPARE(v.engine.m_state, CMp3Ctrl::Playing);
        v.output().advance(12.99);
        QCOMPARE(v.engine.GetPosition(), 12u);
        QCOMPARE(v.engine.m_position, 12u);
    }

    void sectionEndStopsExactlyWithOneNotice()
    {
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_tenSeconds));
        QSignalSpy notices(&v.engine, &CMp3Ctrl::graphNotify);
        v.engine.SetRange(2, 5);
        QVERIFY(v.engine.Play());
        v.playToEnd();
        QCOMPARE(int64_t(v.output().played().size()), int64_t(3 * 8000)); // to the sample
        QCOMPARE(notices.size(), 1);
        QVERIFY(v.engine.DrainEvents());
        QVERIFY(!v.engine.DrainEvents());
        QCOMPARE(v.engine.GetPosition(), 5u);
        QCOMPARE(v.engine.m_state, CMp3Ctrl::Playing); // the panel stops it
    }

    void positionAfterStopIsRaisedToTheBegin()
    {
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_long));
        v.engine.SetRange(30, 40);
        QVERIFY(v.engine.Play());
        v.output().advance(2.0);
        QCOMPARE(v.engine.GetPosition(), 32u);
        v.engine.Stop();
        QCOMPARE(v.engine.m_state, CMp3Ctrl::Stopped);
        QCOMPARE(v.engine.m_position, 0u);
        QCOMPARE(v.engine.GetPosition(), 30u); // the output stands at 0
        QVERIFY(v.engine.Play());
        v.output().advance(1.0);
        QCOMPARE(v.engine.GetPosition(), 31u);
    }

    void speedsKeepTheMediaPosition_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<double>("outputSeconds");
        QTest::newRow("fast") << int(CMp3Ctrl::Fast) << 10.0 / 1.5;
        QTest::newRow("normal") << int(CMp3Ctrl::Normal) << 10.0;
        QTest::newRow("slow") << int(CMp3Ctrl::Slow) << 10.0 / 0.75;
    }
    void speedsKeepTheMediaPosition()
    {
        QFETCH(int, speed);
        QFETCH(double, outputSeconds);
        VirtualEngine v;
        v.engine.SetSpeed(speed); // chosen before the file: applies to it
        QVERIFY(v.engine.Open(m_tenSeconds));
        v.engine.SetRange(0, 10);
        QVERIFY(v.engine.Play());
        v.output().advance(3.0);
        QCOMPARE(v.engine.GetPosition(), uint64_t(3.0 * CMp3Ctrl::Tempo(speed)));
        const double played = 3.0 + v.playToEnd();
        QVERIFY2(std::abs(played - outputSeconds) < 0.1, qPrintable(QString::number(played)));
        QVERIFY(v.engine.DrainEvents());
        QCOMPARE(v.engine.GetPosition(), 10u);
    }

    // The output pulls well ahead of what is heard, as a sound server does: the position
    // is that of the last frame heard, never that of the last frame handed over, through
    // a seek, a pause and at each speed.
    void positionIsTheOneHeard_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<double>("bufferSeconds");
        QTest::newRow("normal, 2 s ahead") << int(CMp3Ctrl::Normal) << 2.0;
        QTest::newRow("normal, 0.3 s ahead") << int(CMp3Ctrl::Normal) << 0.3;
        QTest::newRow("fast, 1 s ahead") << int(CMp3Ctrl::Fast) << 1.0;
        QTest::newRow("slow, 1 s ahead") << int(CMp3Ctrl::Slow) << 1.0;
    }
    void positionIsTheOneHeard()
    {
        QFETCH(int, speed);
        QFETCH(double, bufferSeconds);
        constexpr double kRate = 22050;
        constexpr double kTolerance = 0.05;
        const double tempo = CMp3Ctrl::Tempo(speed);
        VirtualEngine v;
        v.engine.SetSpeed(speed);
        QVERIFY(v.engine.Open(m_clicks));
        v.output().bufferSeconds = bufferSeconds;
        // Where the media second `from` began in what was heard.
        size_t segmentStart = 0;
        uint64_t from = 0;
        int checks = 0;
        // Plays on in small steps, and after each compares the position with the one heard:
        // the last click heard gives the second, the output heard since it the rest.
        auto playAndCheck = [&](double seconds) {
            for (double done = 0; done < seconds; done += 0.02) {
                v.output().advance(0.02);
                const std::vector<int16_t> heard(v.output().played().begin() + qsizetype(segmentStart),
                                                 v.output().played().end());
                const std::vector<int64_t> clicks = clickFrames(heard, int(kRate));
                QVERIFY2(!clicks.empty(), qPrintable(QStringLiteral("heard %1 frames, peak %2").arg(heard.size()).arg(peak(heard))));
                QVERIFY(v.output().pulledFrames() > v.output().heardFrames());
                // The stretcher may swallow the click at the very start of a segment:
                // the second of a click is the nearest to where it was heard.
                const double clickSecond = double(from) + std::round(double(clicks.back()) / kRate * tempo);
                const double expected = clickSecond + double(int64_t(heard.size()) - clicks.back()) / kRate * tempo;
                const uint64_t second = v.engine.GetPosition();
                QVERIFY2(second >= uint64_t(expected - kTolerance) && second <= uint64_t(expected + kTolerance),
                         qPrintable(QStringLiteral("reported %1 s, heard %2 s").arg(second).arg(expected)));
                ++checks;
            }
        };
        QVERIFY(v.engine.Play());
        playAndCheck(3.5 / tempo);
        v.engine.SetPosition(4);
        segmentStart = v.output().played().size();
        from = 4;
        playAndCheck(1.3 / tempo);
        v.engine.Pause();
        QCOMPARE(v.output().advance(0.5), 0);
        QVERIFY(v.engine.Play());
        playAndCheck(1.0 / tempo);
        QVERIFY(checks > 100);
    }

    // The output holds a second at the old speed; the change is heard at once all the same,
    // whether it is made while playing or while paused.
    void aSpeedChangeIsHeardAtOnce_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::newRow("playing") << false;
        QTest::newRow("paused") << true;
    }
    void aSpeedChangeIsHeardAtOnce()
    {
        QFETCH(bool, paused);
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_clicks));
        v.output().bufferSeconds = 1.0;
        QVERIFY(v.engine.Play());
        v.output().advance(2.5);
        if (paused)
            v.engine.Pause();
        const double before = double(v.engine.GetPositionMilliseconds()) / 1000.0;
        QVERIFY(std::abs(before - 2.5) < 0.05);
        v.engine.SetSpeed(CMp3Ctrl::Fast);
        QCOMPARE(double(v.engine.GetPositionMilliseconds()) / 1000.0, before);
        if (paused)
            QVERIFY(v.engine.Play());
        v.output().advance(0.4);
        const double after = double(v.engine.GetPositionMilliseconds()) / 1000.0;
        const double expected = before + 0.4 * CMp3Ctrl::Tempo(CMp3Ctrl::Fast);
        QVERIFY2(std::abs(after - expected) < 0.05,
                 qPrintable(QStringLiteral("heard %1 s after the change, expected %2 s").arg(after).arg(expected)));
    }

    // Normal speed plays the decoder's samples as they are, other speeds go through the
    // stretcher: changing from one to the other and back while playing, with the output
    // holding half a second, keeps the position exact and the recording continuous (every
    // click heard once, where the speeds put it).
    void speedChangesWhilePlayingKeepThePositionAndEveryClick()
    {
        constexpr int kRate = 22050;
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_clicks));
        v.output().bufferSeconds = 0.5;
        QVERIFY(v.engine.Play());
        // 2.25 s at 1.0 (media 0 to 2.25), 1 s at 1.5 (to 3.75), 1.5 s at 1.0 (to 5.25).
        v.output().advance(2.25);
        v.engine.SetSpeed(CMp3Ctrl::Fast);
        QCOMPARE(v.engine.GetPositionMilliseconds(), 2250u);
        v.output().advance(1.0);
        QCOMPARE(v.engine.GetPositionMilliseconds(), 3750u);
        v.engine.SetSpeed(CMp3Ctrl::Normal);
        QCOMPARE(v.engine.GetPositionMilliseconds(), 3750u);
        v.output().advance(1.5);
        QCOMPARE(v.engine.GetPositionMilliseconds(), 5250u);

        // Where each media second's click falls in the output: media 3 in the fast stretch,
        // media 4 and 5 after it.
        const std::vector<double> expected{0.0, 1.0, 2.0, 2.25 + 0.75 / 1.5, 3.25 + 0.25, 3.25 + 1.25};
        const std::vector<int64_t> clicks = clickFrames(v.output().played(), kRate);
        QCOMPARE(clicks.size(), expected.size());
        for (size_t i = 0; i < clicks.size(); ++i) {
            const double at = double(clicks[i]) / kRate;
            // The stretcher works in blocks of some tens of milliseconds.
            QVERIFY2(std::abs(at - expected[i]) < 0.03,
                     qPrintable(QStringLiteral("click %1 heard at %2 s, expected at %3 s").arg(i).arg(at).arg(expected[i])));
        }
    }

    void attenuationFigures_data()
    {
        QTest::addColumn<uint>("percent");
        QTest::addColumn<int>("attenuation");
        QTest::newRow("100") << 100u << 0;
        QTest::newRow("75") << 75u << -249;
        QTest::newRow("50") << 50u << -602;
        QTest::newRow("25") << 25u << -1204;
        QTest::newRow("10") << 10u << -2000;
        QTest::newRow("1") << 1u << -4000;
        QTest::newRow("0") << 0u << -10000;
    }
    void attenuationFigures()
    {
        QFETCH(uint, percent);
        QFETCH(int, attenuation);
        QCOMPARE(CMp3Ctrl::Attenuation(percent), attenuation);
    }

    void volumeScalesTheOutput()
    {
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_tone));
        v.engine.SetVolume(100);
        QVERIFY(v.engine.Play());
        v.output().advance(1.0);
        const double full = peak(v.output().played());
        size_t mark = v.output().played().size();
        v.engine.SetVolume(50); // -6.02 dB: half the amplitude
        v.output().advance(1.0);
        QVERIFY2(std::abs(peak(v.output().played(), mark) / full - 0.5) < 0.02,
                 qPrintable(QString::number(peak(v.output().played(), mark) / full)));
        v.engine.SetVolume(101); // ignored: 50 stays and is applied again
        QCOMPARE(v.engine.m_volume, 50u);
        mark = v.output().played().size();
        v.engine.SetVolume(0);
        v.output().advance(0.5);
        QCOMPARE(peak(v.output().played(), mark), 0.0);
    }

    void stepsSeekThreeSecondsAndClamp()
    {
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_tenSeconds));
        QSignalSpy notices(&v.engine, &CMp3Ctrl::graphNotify);
        QVERIFY(v.engine.Play());
        v.output().advance(5.2);
        QCOMPARE(v.engine.GetPosition(), 5u);
        v.engine.StepForward();
        v.output().advance(0.1);
        QCOMPARE(v.engine.GetPosition(), 8u);
        v.engine.StepBack();
        v.output().advance(0.1);
        QCOMPARE(v.engine.GetPosition(), 5u);

        v.engine.SetPosition(1);
        v.output().advance(0.1);
        QCOMPARE(v.engine.GetPosition(), 1u);
        v.engine.StepBack(); // before 0: clamped
        v.output().advance(0.1);
        QCOMPARE(v.engine.GetPosition(), 0u);

        v.engine.SetPosition(9);
        v.output().advance(0.1);
        v.engine.GetPosition();
        v.engine.StepForward(); // past the end: completes
        v.output().advance(0.1);
        QCoreApplication::processEvents();
        QCOMPARE(notices.size(), 1);
        QVERIFY(v.engine.DrainEvents());
    }

    void seeksStayInsideTheSection()
    {
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_tenSeconds));
        v.engine.SetRange(2, 6);
        QVERIFY(v.engine.Play());
        v.output().advance(0.5);
        v.engine.SetPosition(1); // below the begin: ignored
        v.engine.SetPosition(7); // past the end: ignored
        v.output().advance(0.1);
        QCOMPARE(v.engine.GetPosition(), 2u);
        v.engine.SetPosition(6); // exactly the end: seeks
        v.output().advance(0.1);
        QCOMPARE(v.engine.GetPosition(), 6u);
    }

    void pauseHoldsThePosition()
    {
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_tenSeconds));
        QVERIFY(v.engine.Play());
        v.output().advance(2.5);
        v.engine.Pause();
        QCOMPARE(v.engine.m_state, CMp3Ctrl::Paused);
        QCOMPARE(v.output().advance(3.0), 0);
        QCOMPARE(v.engine.GetPosition(), 2u);
        v.engine.SetPosition(7); // a paused engine stays paused at the new place
        QCOMPARE(v.output().advance(1.0), 0);
        QCOMPARE(v.engine.m_state, CMp3Ctrl::Paused);
        QVERIFY(v.engine.Play());
        v.output().advance(1.0);
        QCOMPARE(v.engine.GetPosition(), 8u);
    }

    void noticeOfAnEarlierFileIsIgnored()
    {
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_tenSeconds));
        QSignalSpy notices(&v.engine, &CMp3Ctrl::graphNotify);
        v.engine.SetRange(0, 1);
        QVERIFY(v.engine.Play());
        v.output().advance(2.0); // completes; the notice is still queued
        QVERIFY(v.engine.Open(m_tone));
        QCoreApplication::processEvents();
        QCOMPARE(notices.size(), 1);
        QVERIFY(!v.engine.DrainEvents());
        // The new file's own completion counts.
        v.engine.SetRange(0, 1);
        QVERIFY(v.engine.Play());
        v.playToEnd();
        QVERIFY(v.engine.DrainEvents());
    }

    void noAudioOutput()
    {
        MessageRecorder messages;
        VirtualEngine v;
        v.available = false;
        // Choosing a recording says nothing: its length is the file's own. Only PLAY
        // tells that nothing can be heard.
        QVERIFY(!v.engine.Open(m_tenSeconds));
        QVERIFY(g_bNoAudioOutput);
        QCOMPARE(messages.entries().size(), 0);
        QCOMPARE(v.engine.m_duration, 10u);
        // The exact length too, as the media controls give it.
        QVERIFY2(v.engine.LengthMicroseconds() >= 10'000'000 && v.engine.LengthMicroseconds() < 10'300'000,
                 qPrintable(QString::number(v.engine.LengthMicroseconds())));

        v.available = true;
        QVERIFY(!v.engine.Open(m_tone)); // no output is tried again while the flag is set
        QCOMPARE(v.engine.m_duration, 4u);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(!v.engine.Play());
            QCOMPARE(messages.entries().last().text, kNoOutputOnPlay);
            QCOMPARE(messages.entries().last().icon, MessageIcon::Error);
        }
        QCOMPARE(messages.entries().size(), 2);
        QCOMPARE(v.engine.m_state, CMp3Ctrl::Stopped);

        g_bNoAudioOutput = false; // the refresh command
        QVERIFY(v.engine.Open(m_tone));
        QVERIFY(v.engine.Play());
    }

    void unreadableFileFailsOnItsOwn_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("systemText");
        QTest::newRow("not MPEG audio") << true << QString();
        QTest::newRow("missing") << false << QStringLiteral("\nそのようなファイルやディレクトリはありません");
    }
    // The user reads Japanese only: the decoder's English words go to the log, and a
    // file that could not be opened at all says why in the system's Japanese text.
    void unreadableFileFailsOnItsOwn()
    {
        QFETCH(bool, present);
        QFETCH(QString, systemText);
        if (!systemText.isEmpty() && !HasJapaneseSystemErrors())
            QSKIP("the ja_JP.UTF-8 locale is not installed here (./test.sh generates it)");
        qunsetenv("LANGUAGE");
        const QString broken = m_dir.filePath(QStringLiteral("broken.mp3"));
        QFile::remove(broken);
        if (present)
            QVERIFY(WriteFileBytes(broken, BuildVoiceTag(MakeVoiceHeader(0)) + QByteArray(4000, 'x')));
        MessageRecorder messages;
        VirtualEngine v;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^cannot decode .*broken\\.mp3 : .+")));
        QVERIFY(!v.engine.Open(broken));
        QVERIFY(!g_bNoAudioOutput);
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
        QCOMPARE(messages.entries()[0].text,
                 QStringLiteral("ファイル解析時エラーが発生しました。このファイルは再生できません。") + systemText);
        QCOMPARE(v.engine.m_duration, 0u);
        QVERIFY(!v.engine.DrainEvents());
        QVERIFY(v.engine.Open(m_tone));
        QCOMPARE(v.engine.m_duration, 4u);
    }

    void closeReleasesTheRecording()
    {
        VirtualEngine v;
        QVERIFY(v.engine.Open(m_tone));
        QVERIFY(v.engine.Play());
        v.output().advance(0.5);
        v.engine.Close();
        QCOMPARE(v.engine.m_duration, 0u);
        QVERIFY(WriteVoiceHeader(m_tone, MakeVoiceHeader(2)));
        QVERIFY(v.engine.Play()); // without a file: nothing to do, but no failure
    }
};

TALVEN77_REGISTER_TEST(EngineTest);
#include "EngineTest.moc"
