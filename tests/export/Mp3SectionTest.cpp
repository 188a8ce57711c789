#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "export/RecordingExport.h"
#include "audio/Mp3Decoder.h"
#include "recording/MpegFrameHeader.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

const QString kNotReadable = QStringLiteral("MP3の音声として読めません。\n%1");
const QString kNoSection = QStringLiteral("書き出す区間がありません。");

class BitWriter
{
public:
    explicit BitWriter(char* bytes) : m_bytes(reinterpret_cast<unsigned char*>(bytes)) {}
    void skip(int bits) { m_bit += bits; }
    void put(int bits, uint32_t value)
    {
        for (int i = bits - 1; i >= 0; --i, ++m_bit) {
            if ((value >> i) & 1)
                m_bytes[m_bit / 8] |= uint8_t(0x80 >> (m_bit % 8));
        }
    }

private:
    unsigned char* m_bytes;
    int m_bit = 0;
};

// MPEG-1 layer III frames at 44.1 kHz and 128 kbit/s whose every granule claims 4095 bits
// of data beginning 64 bytes back: far more than the frame and its reservoir hold.
QByteArray overreachingFrames(bool mono, int count)
{
    const int channels = mono ? 1 : 2;
    QByteArray frames;
    for (int i = 0; i < count; ++i) {
        QByteArray frame(417, '\0');
        frame[0] = char(0xFF);
        frame[1] = char(0xFB);
        frame[2] = char(0x90);
        frame[3] = char(mono ? 0xC0 : 0x00);
        BitWriter bits(frame.data() + 4);
        bits.put(9, 64);
        bits.skip((mono ? 5 : 3) + 4 * channels);
        for (int granule = 0; granule < 2; ++granule) {
            for (int channel = 0; channel < channels; ++channel) {
                bits.put(12, 4095);
                bits.skip(47);
            }
        }
        frames += frame;
    }
    return frames;
}

// Silent MPEG-1 layer II frames (no bits allocated to any subband), 44.1 kHz, 128 kbit/s.
QByteArray layer2Frames(int count)
{
    QByteArray frame(417, '\0');
    frame[0] = char(0xFF);
    frame[1] = char(0xFD);
    frame[2] = char(0x90);
    frame[3] = char(0xC0);
    return frame.repeated(count);
}

// Calls visit with the position and header of each frame of a stream of frames.
template <typename Visit>
void forEachFrame(const QByteArray& audio, Visit visit)
{
    for (qsizetype at = 0; at + 4 <= audio.size();) {
        const auto header = ParseMpegFrameHeader(reinterpret_cast<const unsigned char*>(audio.constData() + at));
        if (!header || header->frameBytes == 0)
            return;
        visit(at, *header);
        at += header->frameBytes;
    }
}

// The same frames as free format: a bit-rate index of 0 in every header.
QByteArray asFreeFormat(QByteArray audio)
{
    std::vector<qsizetype> starts;
    forEachFrame(audio, [&](qsizetype at, const MpegFrameHeader&) { starts.push_back(at); });
    for (const qsizetype at : starts)
        audio[at + 2] = char(uchar(audio[at + 2]) & 0x0F);
    return audio;
}

// The start of the LAME extension in a stream's Info frame, or -1.
qsizetype lameExtension(const QByteArray& audio)
{
    const qsizetype xing = std::max(audio.indexOf("Xing"), audio.indexOf("Info"));
    if (xing < 0)
        return -1;
    const qsizetype lame = audio.indexOf("LAME", xing);
    return lame < 0 || lame > xing + 200 ? -1 : lame;
}

// The stream with the delay and padding in its LAME extension replaced.
QByteArray withTrim(QByteArray audio, int delay, int padding)
{
    const qsizetype lame = lameExtension(audio);
    if (lame < 0)
        return {};
    audio[lame + 21] = char(delay >> 4);
    audio[lame + 22] = char((delay & 0x0F) << 4 | padding >> 8);
    audio[lame + 23] = char(padding);
    return audio;
}

// The first count frames of a stream.
QByteArray firstFrames(const QByteArray& audio, int count)
{
    qsizetype end = 0;
    int seen = 0;
    forEachFrame(audio, [&](qsizetype at, const MpegFrameHeader& header) {
        if (seen++ < count)
            end = at + header.frameBytes;
    });
    return audio.left(end);
}

qsizetype id3v2Size(const QByteArray& file)
{
    if (!file.startsWith("ID3") || file.size() < 10)
        return 0;
    return 10 + ((qsizetype(file[6]) & 0x7F) << 21 | (qsizetype(file[7]) & 0x7F) << 14
                 | (qsizetype(file[8]) & 0x7F) << 7 | (qsizetype(file[9]) & 0x7F));
}

// What an export holds after its tag: the Info frame's name ("Xing" or "Info"), its LAME
// extension's delay and padding, and the bit rates of the audio frames after it.
struct ExportedStream
{
    QByteArray infoName;
    int delay = -1;
    int padding = -1;
    QList<int> bitrates;
    int samplesPerFrame = 0;
};

ExportedStream readExport(const QString& path)
{
    const QByteArray file = ReadWholeFile(path);
    const QByteArray audio = file.mid(id3v2Size(file));
    ExportedStream stream;
    bool first = true;
    forEachFrame(audio, [&](qsizetype at, const MpegFrameHeader& header) {
        if (first) {
            first = false;
            stream.infoName = audio.mid(at + header.xingOffset(), 4);
            const qsizetype lame = lameExtension(audio.left(at + header.frameBytes));
            if (lame >= 0) {
                const auto* p = reinterpret_cast<const unsigned char*>(audio.constData() + lame + 21);
                stream.delay = int(p[0]) << 4 | p[1] >> 4;
                stream.padding = (int(p[1]) & 0x0F) << 8 | p[2];
            }
            stream.samplesPerFrame = header.samplesPerFrame;
            return;
        }
        stream.bitrates.append(header.bitrateKbps);
    });
    return stream;
}

std::vector<float> decodeAll(const QString& path)
{
    Mp3Decoder decoder;
    if (!decoder.open(path, nullptr))
        return {};
    std::vector<float> samples;
    std::vector<float> chunk(size_t(4096 * decoder.channels()));
    while (const int64_t got = decoder.read(chunk.data(), 4096))
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + got * decoder.channels());
    return samples;
}

// What a tool prints on its standard output and error; a null string when it did not run.
QString runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    const QString output = QString::fromUtf8(process.readAll());
    return process.exitCode() == 0 ? output : QStringLiteral("exit %1: %2").arg(process.exitCode()).arg(output);
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class Mp3SectionTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString writeSource(const QString& name, const QByteArray& audio)
    {
        const QString path = m_dir.filePath(name);
        return WriteFileBytes(path, audio) ? path : QString();
    }

    // Exports source as MP3 and as WAV, whole and as the section from 1 s to 3 s, and
    // checks that each is refused with message and leaves nothing behind.
    void expectRefusedAlike(const QString& source, const QString& message)
    {
        for (const ExportFormat format : {ExportFormat::Mp3, ExportFormat::Wav}) {
            for (const bool section : {false, true}) {
                QTemporaryDir target;
                ExportOptions options;
                options.format = format;
                if (section)
                    options.section = ExportSpan{1000, 3000};
                const ExportResult result = ExportRecording(source, target.path(), options);
                const QString what = QStringLiteral("%1, %2")
                                         .arg(format == ExportFormat::Mp3 ? "MP3" : "WAV",
                                              section ? "section" : "whole");
                QVERIFY2(!result.ok && !result.cancelled, qPrintable(what));
                QVERIFY2(result.error == message, qPrintable(what + QStringLiteral(": ") + result.error));
                QVERIFY2(folderEntries(target.path()).isEmpty(), qPrintable(what));
            }
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
    }

    void unreadableStreamsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("audio");
        const auto encode = [](int rate, int channels, int kbps) {
            Mp3Format format;
            format.sampleRate = rate;
            format.channels = channels;
            format.bitrateKbps = kbps;
            return EncodeMp3(format, 2.0, 5).bytes;
        };
        QTest::newRow("reservoir past its frame, mono") << overreachingFrames(true, 200);
        QTest::newRow("reservoir past its frame, stereo") << overreachingFrames(false, 200);
        QTest::newRow("stereo, then mono") << encode(44100, 2, 64) + encode(44100, 1, 64);
        QTest::newRow("mono, then stereo") << encode(44100, 1, 64) + encode(44100, 2, 64);
        QTest::newRow("layer II") << layer2Frames(200);
        QTest::newRow("free format") << asFreeFormat(encode(8000, 1, 8));
    }

    // Streams the cut cannot take frame by frame are refused, whole and as a section, as
    // MP3 and as WAV alike; none is read past what was read of it.
    void unreadableStreamsAreRefused()
    {
        QFETCH(QByteArray, audio);
        QVERIFY(!audio.isEmpty());
        const QString source = writeSource(QStringLiteral("%1.mp3").arg(QTest::currentDataTag()), audio);
        QVERIFY(!source.isEmpty());
        expectRefusedAlike(source, kNotReadable.arg(source));
    }

    // A file whose encoder delay and padding cover all its audio, and one of three frames
    // followed by a hole of 4 GB, have nothing to export as MP3 or as WAV; the hole is
    // not read.
    void nothingToExport_data()
    {
        QTest::addColumn<QByteArray>("audio");
        QTest::addColumn<qint64>("holeBytes");
        Mp3Format withInfo;
        withInfo.vbr = true;
        const EncodedMp3 shortClip = EncodeMp3(withInfo, 0.1, 3);
        QVERIFY(shortClip.hasInfoFrame);
        QTest::newRow("delay covers the audio") << withTrim(shortClip.bytes, 4095, 0) << qint64(0);
        QTest::newRow("delay and padding cover the audio") << withTrim(shortClip.bytes, 2000, 2000) << qint64(0);
        Mp3Format plain;
        plain.infoFrame = false;
        QTest::newRow("three frames, then a hole")
            << firstFrames(EncodeMp3(plain, 2.0, 3).bytes, 3) << (qint64(4) << 30);
    }
    void nothingToExport()
    {
        QFETCH(QByteArray, audio);
        QFETCH(qint64, holeBytes);
        QVERIFY(!audio.isEmpty());
        const QString source = writeSource(QStringLiteral("%1.mp3").arg(QTest::currentDataTag()), audio);
        QVERIFY(!source.isEmpty());
        if (holeBytes > 0)
            QVERIFY(::truncate(QFile::encodeName(source).constData(), off_t(audio.size() + holeBytes)) == 0);
        for (const ExportFormat format : {ExportFormat::Mp3, ExportFormat::Wav}) {
            QTemporaryDir target;
            ExportOptions options;
            options.format = format;
            options.section = ExportSpan{1000, 3000};
            const ExportResult result = ExportRecording(source, target.path(), options);
            QVERIFY(!result.ok);
            QCOMPARE(result.error, kNoSection);
            QVERIFY(folderEntries(target.path()).isEmpty());
        }
        if (holeBytes == 0)
            expectRefusedAlike(source, kNoSection);
    }

    // A FIFO named like a recording is refused at once by both exports; nothing waits
    // for a writer.
    void fifoIsRefusedAtOnce()
    {
        const QString fifo = m_dir.filePath(QStringLiteral("pipe.mp3"));
        QVERIFY(MakeFifo(fifo));
        for (const ExportFormat format : {ExportFormat::Mp3, ExportFormat::Wav}) {
            QTemporaryDir target;
            ExportOptions options;
            options.format = format;
            ExportResult result;
            QVERIFY(FinishesWithin(
                10000, [&] { result = ExportRecording(fifo, target.path(), options); },
                [&] { ReleaseFifoReaders(fifo); }));
            QVERIFY(!result.ok);
            QVERIFY(!result.error.isEmpty());
            QVERIFY(folderEntries(target.path()).isEmpty());
        }
    }

    void chaptersOnlyFromMarks_data()
    {
        QTest::addColumn<bool>("recorderHeader");
        QTest::addColumn<bool>("section");
        QTest::newRow("MP3 without the recorder's header, whole") << false << false;
        QTest::newRow("MP3 without the recorder's header, section") << false << true;
        QTest::newRow("recording without marks, whole") << true << false;
        QTest::newRow("recording without marks, section") << true << true;
    }

    // Chapters come from index marks only: without marks there are no chapters and no
    // table of contents.
    void chaptersOnlyFromMarks()
    {
        QFETCH(bool, recorderHeader);
        QFETCH(bool, section);
        const EncodedMp3 audio = EncodeMp3(Mp3Format{}, 6.0, 9);
        QVERIFY(audio.ok);
        const QString source = writeSource(
            QStringLiteral("plain-%1-%2.mp3").arg(recorderHeader).arg(section),
            recorderHeader ? BuildRecording(MakeVoiceHeader(1, QStringLiteral("メモ")), audio.bytes) : audio.bytes);
        QVERIFY(!source.isEmpty());
        QTemporaryDir target;
        ExportOptions options;
        if (section)
            options.section = ExportSpan{0, 4000};
        const ExportResult result = ExportRecording(source, target.path(), options);
        QVERIFY2(result.ok, qPrintable(result.error));
        TagLib::MPEG::File file(QFile::encodeName(result.outputPath).constData());
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
        QVERIFY(tag);
        QVERIFY(tag->frameList("CHAP").isEmpty());
        QVERIFY(tag->frameList("CTOC").isEmpty());
    }

    void sectionsForOrdinaryTools_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("vbr");
        QTest::addColumn<qint64>("beginMs"); // -1: the whole recording
        QTest::addColumn<qint64>("endMs");
        for (const int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
            for (const int channels : {1, 2}) {
                for (const bool vbr : {false, true}) {
                    const QString name = QStringLiteral("%1 Hz, %2, %3")
                                             .arg(rate)
                                             .arg(channels == 1 ? "mono" : "stereo", vbr ? "VBR" : "CBR");
                    QTest::newRow(qPrintable(name + QStringLiteral(", section")))
                        << rate << channels << vbr << qint64(2000) << qint64(7321);
                    QTest::newRow(qPrintable(name + QStringLiteral(", from the start")))
                        << rate << channels << vbr << qint64(0) << qint64(4000);
                    QTest::newRow(qPrintable(name + QStringLiteral(", whole")))
                        << rate << channels << vbr << qint64(-1) << qint64(0);
                }
            }
        }
    }

    // Every rate and mode of the encoder's output, cut as sections: the samples are the
    // source's, the rebuilt frames decode without a complaint from other decoders, the
    // Info frame says "Xing" exactly when the frames' bit rates vary, the lead-in is no
    // longer than the cut needs, and ffprobe shows the chapters on the marks.
    void sectionsForOrdinaryTools()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(bool, vbr);
        QFETCH(qint64, beginMs);
        QFETCH(qint64, endMs);

        Mp3Format format;
        format.sampleRate = rate;
        format.channels = channels;
        format.vbr = vbr;
        format.bitrateKbps = rate < 16000 ? 16 : rate < 32000 ? 32 : 64;
        const EncodedMp3 audio = EncodeMp3(format, 9.0, 17);
        QVERIFY(audio.ok);
        const QList<uint32_t> marks{2, 4, 6};
        const QString source = writeSource(QStringLiteral("%1.MP3").arg(QTest::currentDataTag()),
                                           BuildRecording(MakeVoiceHeader(1, QString(), marks), audio.bytes));
        QVERIFY(!source.isEmpty());
        QTemporaryDir target;
        ExportOptions options;
        if (beginMs >= 0)
            options.section = ExportSpan{beginMs, endMs};
        const ExportResult result = ExportRecording(source, target.path(), options);
        QVERIFY2(result.ok, qPrintable(result.error));

        const std::vector<float> whole = decodeAll(source);
        const size_t first = beginMs < 0 ? 0 : size_t(beginMs * rate / 1000) * size_t(channels);
        const size_t last = beginMs < 0 ? whole.size() : size_t(endMs * rate / 1000) * size_t(channels);
        QVERIFY(last <= whole.size());
        const std::vector<float> exported = decodeAll(result.outputPath);
        QCOMPARE(exported.size(), last - first);
        for (size_t i = 0; i < exported.size(); ++i) {
            if (std::abs(exported[i] - whole[first + i]) > 1e-6f)
                QFAIL(qPrintable(QStringLiteral("sample %1 differs").arg(i)));
        }

        const ExportedStream stream = readExport(result.outputPath);
        QVERIFY(!stream.bitrates.isEmpty());
        const bool varying = std::any_of(stream.bitrates.begin(), stream.bitrates.end(),
                                         [&](int kbps) { return kbps != stream.bitrates.front(); });
        QCOMPARE(stream.infoName, varying ? QByteArray("Xing") : QByteArray("Info"));
        // The lead-in: what a gapless decoder drops before the first sample. The whole
        // recording keeps the encoder's own (one silent frame where the source announces
        // none); a section needs two granules before the one it begins in (the transform's
        // overlap and the filter bank's history), and the part of its first frame before it.
        QVERIFY(stream.delay >= 0);
        const int leadIn = stream.delay + 529;
        if (beginMs < 0)
            QCOMPARE(leadIn, audio.hasInfoFrame ? 576 + 529 : stream.samplesPerFrame);
        else
            QVERIFY2(leadIn < 2 * 576 + stream.samplesPerFrame, qPrintable(QString::number(leadIn)));

        const QString mpg123 = QStandardPaths::findExecutable(QStringLiteral("mpg123"));
        const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        const QString ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
        if (mpg123.isEmpty() || ffmpeg.isEmpty() || ffprobe.isEmpty())
            QSKIP("mpg123, ffmpeg or ffprobe is not installed (scripts/packages.sh lists them)");
        QCOMPARE(runTool(mpg123, {QStringLiteral("-q"), QStringLiteral("-t"), result.outputPath}), QString());
        QCOMPARE(runTool(ffmpeg, {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                                  QStringLiteral("-i"), result.outputPath, QStringLiteral("-f"),
                                  QStringLiteral("null"), QStringLiteral("-")}),
                 QString());
        const QString probe = runTool(ffprobe, {QStringLiteral("-v"), QStringLiteral("error"),
                                                QStringLiteral("-show_chapters"), QStringLiteral("-show_format"),
                                                QStringLiteral("-of"), QStringLiteral("json"), result.outputPath});
        const QJsonObject probed = QJsonDocument::fromJson(probe.toUtf8()).object();
        // ffprobe's time line starts the audio after the lead-in, as the Info frame says.
        const double startTime = probed.value("format").toObject().value("start_time").toString().toDouble();
        QVERIFY2(std::abs(startTime - double(leadIn) / rate) < 1e-3, qPrintable(probe));
        const QJsonArray chapters = probed.value("chapters").toArray();
        QList<qint64> expected;
        for (const uint32_t mark : marks) {
            const qint64 at = qint64(mark) * 1000 - std::max<qint64>(0, beginMs);
            if (at >= 0 && (beginMs < 0 || qint64(mark) * 1000 < endMs))
                expected.append(at);
        }
        QCOMPARE(chapters.size(), expected.size());
        // A player on this time line shows a chapter at its time less the start time: each
        // lands on its mark to the millisecond.
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const double shown = chapters[i].toObject().value("start_time").toString().toDouble() - startTime;
            QVERIFY2(std::abs(shown * 1000 - double(expected[i])) < 1.0,
                     qPrintable(QStringLiteral("chapter %1 at %2 s, its mark at %3 ms")
                                    .arg(i + 1).arg(shown).arg(expected[i])));
        }
    }
};

TALVEN77_REGISTER_TEST(Mp3SectionTest);
#include "Mp3SectionTest.moc"
