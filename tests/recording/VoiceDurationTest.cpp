#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "recording/VoiceDuration.h"

#include <QTemporaryDir>
#include <QTest>
#include <mpg123.h>

namespace {

// The whole-frame length of a file as libmpg123 finds it by reading every
// frame: frames × samples per frame / sample rate, truncated.
int referenceSeconds(const QString& path)
{
    int error = MPG123_OK;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    if (!handle)
        return -1;
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_param(handle, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    int seconds = -1;
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_open(handle, QFile::encodeName(path).constData()) == MPG123_OK
        && mpg123_getformat(handle, &rate, &channels, &encoding) == MPG123_OK
        && mpg123_scan(handle) == MPG123_OK) {
        const off_t frames = mpg123_framelength(handle);
        const int samplesPerFrame = mpg123_spf(handle);
        if (frames > 0 && samplesPerFrame > 0 && rate > 0)
            seconds = int(int64_t(frames) * samplesPerFrame / rate);
    }
    mpg123_close(handle);
    mpg123_delete(handle);
    return seconds;
}

} // namespace

class VoiceDurationTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    QString write(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("d%1.mp3").arg(++m_files));
        [&] { QVERIFY(WriteFileBytes(path, bytes)); }();
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        mpg123_init();
    }
    void init()
    {
        g_bNoAudioOutput = false;
    }

    void countsWholeFramesAfterTheTag_data()
    {
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<bool>("vbr");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("tagPadding");
        QTest::addColumn<QByteArray>("junk");
        QTest::addColumn<bool>("infoFrame"); // what the encoder wrote
        struct Row
        {
            const char* name;
            int rate, channels, bitrate;
            bool vbr;
            double seconds;
            int padding;
            QByteArray junk;
            bool info;
        };
        const Row rows[] = {
            {"MPEG-2.5 8 kHz 8 kbps, 1 KiB tag, just under a second", 8000, 1, 8, false, 0.7, 1024, {}, false},
            {"MPEG-2.5 8 kHz 8 kbps, 59.9 s", 8000, 1, 8, false, 59.9, 0, {}, false},
            {"MPEG-2 16 kHz 16 kbps", 16000, 1, 16, false, 7.77, 200, {}, false},
            {"MPEG-2 22.05 kHz 32 kbps", 22050, 1, 32, false, 3.1, 0, {}, false},
            {"MPEG-2 24 kHz 64 kbps with Info", 24000, 1, 64, false, 4.99, 0, {}, true},
            {"MPEG-2 24 kHz stereo 64 kbps", 24000, 2, 64, false, 2.5, 300, {}, true},
            {"MPEG-1 44.1 kHz stereo 128 kbps with Info, 12.99 s", 44100, 2, 128, false, 12.99, 0, {}, true},
            {"MPEG-1 48 kHz mono 32 kbps", 48000, 1, 32, false, 1.0, 0, {}, false},
            {"MPEG-1 48 kHz stereo 96 kbps", 48000, 2, 96, false, 2.3, 0, {}, true},
            {"VBR 44.1 kHz with Xing", 44100, 1, 0, true, 5.5, 0, {}, true},
            {"VBR 22.05 kHz with Xing", 22050, 1, 0, true, 3.3, 0, {}, true},
            {"VBR 8 kHz with Xing", 8000, 1, 0, true, 2.2, 0, {}, true},
            {"junk and a false sync before the audio", 22050, 1, 32, false, 2.6, 0,
             QByteArray("\0\0\xFF\xF3\x40\xC4junk", 10), false},
        };
        for (const Row& row : rows) {
            QTest::newRow(row.name) << row.rate << row.channels << row.bitrate << row.vbr << row.seconds
                                    << row.padding << row.junk << row.info;
        }
    }
    void countsWholeFramesAfterTheTag()
    {
        QFETCH(int, sampleRate);
        QFETCH(int, channels);
        QFETCH(int, bitrate);
        QFETCH(bool, vbr);
        QFETCH(double, seconds);
        QFETCH(int, tagPadding);
        QFETCH(QByteArray, junk);
        QFETCH(bool, infoFrame);
        const EncodedMp3 audio = EncodeMp3({sampleRate, channels, bitrate, vbr, true}, seconds, 9);
        QVERIFY(audio.ok);
        QCOMPARE(audio.hasInfoFrame, infoFrame);
        const QString path = write(BuildVoiceTag(MakeVoiceHeader(1, QStringLiteral("長さ")), {}, tagPadding)
                                   + junk + audio.bytes);
        const int expected = referenceSeconds(path);
        QVERIFY(expected >= 0);
        QCOMPARE(int(GetVoiceDuration(path)), expected);
        // Whole frames cover at least the encoded samples, so the figure never falls short of them.
        QVERIFY(expected >= int(audio.pcmSamples / sampleRate));
    }

    void aFrameCountTheFileCannotHoldIsIgnored_data()
    {
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("bitrate"); // 0: VBR
        QTest::addColumn<qint64>("count"); // -1: a hundred times the real count
        QTest::newRow("VBR 44.1 kHz, 0xFFFFFFFF") << 44100 << 0 << qint64(0xFFFFFFFF);
        QTest::newRow("VBR 8 kHz, 0xFFFFFFFF") << 8000 << 0 << qint64(0xFFFFFFFF);
        QTest::newRow("VBR 8 kHz, a hundred times the real count") << 8000 << 0 << qint64(-1);
        QTest::newRow("Info of 24 kHz 64 kbps, 0xFFFFFFFF") << 24000 << 64 << qint64(0xFFFFFFFF);
    }
    void aFrameCountTheFileCannotHoldIsIgnored()
    {
        QFETCH(int, sampleRate);
        QFETCH(int, bitrate);
        QFETCH(qint64, count);
        const EncodedMp3 audio = EncodeMp3({sampleRate, 1, bitrate, bitrate == 0, true}, 3.0, 5);
        QVERIFY(audio.ok && audio.hasInfoFrame);
        const QByteArray tag = BuildVoiceTag(MakeVoiceHeader(0));
        qsizetype at = audio.bytes.indexOf("Xing");
        if (at < 0)
            at = audio.bytes.indexOf("Info");
        QVERIFY(at > 0 && (uchar(audio.bytes.at(at + 7)) & 1)); // the count is there
        const auto bigEndian = [](quint32 value) {
            const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
            return QByteArray(bytes, 4);
        };
        const QByteArray realCount = audio.bytes.mid(at + 8, 4);
        const quint32 real = quint32(uchar(realCount[0])) << 24 | quint32(uchar(realCount[1])) << 16
                             | quint32(uchar(realCount[2])) << 8 | uchar(realCount[3]);
        QByteArray claimed = audio.bytes;
        claimed.replace(at + 8, 4, bigEndian(count < 0 ? real * 100 : quint32(count)));
        // The same audio without its VBR header: measured from the bytes.
        QByteArray without = audio.bytes;
        without.replace(at, 4, "None");

        const uint32_t measured = GetVoiceDuration(write(tag + claimed));
        QCOMPARE(measured, GetVoiceDuration(write(tag + without)));
        QVERIFY(measured < 60);
    }

    void tagIsNotCountedAsAudio()
    {
        // 8 kbit/s: a 1 KiB tag taken for audio would add a whole second.
        const EncodedMp3 audio = EncodeMp3({8000, 1, 8, false, true}, 0.7, 2);
        QCOMPARE(GetVoiceDuration(write(BuildVoiceTag(MakeVoiceHeader(0), {}, 1024) + audio.bytes)), 0u);
        QCOMPARE(GetVoiceDuration(write(BuildVoiceTag(MakeVoiceHeader(0), {}, 1024) + audio.bytes + audio.bytes)), 1u);
    }

    void unreadableAudioIsZeroOnItsOwn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text after the tag") << BuildVoiceTag(MakeVoiceHeader(0)) + QByteArray(5000, 'a');
        QTest::newRow("tag only") << BuildVoiceTag(MakeVoiceHeader(0), {}, 100);
        QTest::newRow("one frame header and nothing") << BuildVoiceTag(MakeVoiceHeader(0)) + ShortSpeechAudio().left(3);
        QTest::newRow("tag size past the end") << QByteArray("ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10) + ShortSpeechAudio();
        QTest::newRow("empty") << QByteArray();
    }
    void unreadableAudioIsZeroOnItsOwn()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(GetVoiceDuration(write(bytes)), 0u);
        QVERIFY(!g_bNoAudioOutput);
        // The next good file is measured as usual.
        QCOMPARE(GetVoiceDuration(write(BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio()))), 2u);
    }

    void untaggedAudioIsMeasuredToo()
    {
        QCOMPARE(GetVoiceDuration(write(ShortSpeechAudio())), 2u);
        QCOMPARE(GetVoiceDuration(m_dir.filePath(QStringLiteral("missing.mp3"))), 0u);
    }

    void durationWhateverTheAudioOutput()
    {
        const QString path = write(BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio()));
        g_bNoAudioOutput = true;
        QCOMPARE(GetVoiceDuration(path), 2u);
        g_bNoAudioOutput = false;
        QCOMPARE(GetVoiceDuration(path), 2u);
    }
};

TALVEN77_REGISTER_TEST(VoiceDurationTest);
#include "VoiceDurationTest.moc"
