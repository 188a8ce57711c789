#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "export/ExportTags.h"
#include "export/Mp3FrameIndex.h"
#include "export/RecordingExport.h"
#include "export/WavHeader.h"
#include "platform/SystemErrorText.h"
#include "audio/Mp3Decoder.h"
#include "recording/RecordingFile.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <chapterframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <tableofcontentsframe.h>
#include <cerrno>
#include <cmath>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace {

// Every sample a gapless decoder gives of a file, interleaved.
std::vector<float> decodeAll(const QString& path, int* rate = nullptr)
{
    Mp3Decoder decoder;
    if (!decoder.open(path, nullptr))
        return {};
    if (rate)
        *rate = decoder.sampleRate();
    std::vector<float> samples;
    std::vector<float> chunk(size_t(4096 * decoder.channels()));
    while (const int64_t got = decoder.read(chunk.data(), 4096))
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + got * decoder.channels());
    return samples;
}

QString fromTag(const TagLib::String& text)
{
    return QString::fromStdString(text.to8Bit(true));
}

QList<qint64> chapterStarts(const TagLib::ID3v2::Tag& tag, qint64* lastEnd)
{
    QList<qint64> starts;
    for (const auto* frame : tag.frameList("CHAP")) {
        const auto* chapter = dynamic_cast<const TagLib::ID3v2::ChapterFrame*>(frame);
        starts.append(chapter->startTime());
        *lastEnd = chapter->endTime();
    }
    return starts;
}

// The lead-in of an exported file in milliseconds, as its Info frame gives it: what a
// gapless decoder drops before the first sample, by which the chapters' times are later
// than their marks.
qint64 leadInMs(const QString& path)
{
    RecordingFile file;
    Mp3FrameIndex index;
    if (!file.open(path, RecordingFile::Access::Read) || !index.build(file))
        return -1;
    const int rate = index.format.sampleRate;
    return (index.gaplessStart() * 1000 + rate / 2) / rate;
}

} // namespace

class ExportTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QDateTime m_recorded = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53));

    QString makeRecording(const QString& name, const Mp3Format& format, double seconds, const QString& memo,
                          const QList<uint32_t>& marks)
    {
        const EncodedMp3 audio = EncodeMp3(format, seconds, 7);
        const QString path = m_dir.filePath(name);
        if (!audio.ok || !WriteFileBytes(path, BuildRecording(MakeVoiceHeader(1, memo, marks), audio.bytes), m_recorded))
            return {};
        return path;
    }

private Q_SLOTS:
    void mp3Export_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("kbps");
        QTest::addColumn<bool>("vbr");
        QTest::addColumn<QString>("memo");
        QTest::addColumn<QList<uint32_t>>("marks");
        QTest::addColumn<qint64>("beginMs"); // -1: the whole recording
        QTest::addColumn<qint64>("endMs");
        QTest::addColumn<bool>("titleFromMemo");
        QTest::addColumn<bool>("nameTaken");
        QTest::addColumn<QList<qint64>>("chapters");
        QTest::addColumn<QString>("title");

        const QList<uint32_t> marks{3, 8, 14};
        QTest::newRow("whole") << 8000 << 8 << false << QStringLiteral("会議") << marks << qint64(-1) << qint64(0)
                               << false << false << QList<qint64>{3000, 8000, 14000} << QStringLiteral("REC0001");
        QTest::newRow("section") << 8000 << 8 << false << QStringLiteral("会議") << marks << qint64(2000)
                                 << qint64(15000) << false << false << QList<qint64>{1000, 6000, 12000}
                                 << QStringLiteral("REC0001");
        QTest::newRow("section with marks outside") << 8000 << 8 << false << QString() << marks << qint64(4000)
                                                    << qint64(12000) << false << false << QList<qint64>{4000}
                                                    << QStringLiteral("REC0001");
        QTest::newRow("no marks") << 8000 << 8 << false << QString() << QList<uint32_t>{} << qint64(5000)
                                  << qint64(9000) << false << false << QList<qint64>{} << QStringLiteral("REC0001");
        QTest::newRow("from the start, a stream with an Info frame")
            << 22050 << 40 << true << QString() << marks << qint64(0) << qint64(9500) << false << false
            << QList<qint64>{3000, 8000} << QStringLiteral("REC0001");
        QTest::newRow("section of a stream with an Info frame")
            << 44100 << 64 << true << QString() << marks << qint64(1234) << qint64(10000) << false << false
            << QList<qint64>{1766, 6766} << QStringLiteral("REC0001");
        QTest::newRow("memo with line breaks") << 8000 << 8 << false << QStringLiteral("打ち合わせ\r\n二行目")
                                               << marks << qint64(-1) << qint64(0) << true << false
                                               << QList<qint64>{3000, 8000, 14000} << QStringLiteral("打ち合わせ");
        QTest::newRow("name clash") << 8000 << 8 << false << QString() << marks << qint64(7000) << qint64(9000)
                                    << false << true << QList<qint64>{8000 - 7000} << QStringLiteral("REC0001");
    }

    // The section decodes to exactly the source's samples of its span, and the tags read
    // back through the tag library as ordinary players read them.
    void mp3Export()
    {
        QFETCH(int, rate);
        QFETCH(int, kbps);
        QFETCH(bool, vbr);
        QFETCH(QString, memo);
        QFETCH(QList<uint32_t>, marks);
        QFETCH(qint64, beginMs);
        QFETCH(qint64, endMs);
        QFETCH(bool, titleFromMemo);
        QFETCH(bool, nameTaken);
        QFETCH(QList<qint64>, chapters);
        QFETCH(QString, title);

        QTemporaryDir sourceDir(m_dir.filePath(QStringLiteral("src-XXXXXX")));
        Mp3Format format;
        format.sampleRate = rate;
        format.bitrateKbps = kbps;
        format.vbr = vbr;
        const QString source = sourceDir.filePath(QStringLiteral("REC0001.MP3"));
        const EncodedMp3 audio = EncodeMp3(format, 18.0, 11);
        QVERIFY(audio.ok);
        QVERIFY(WriteFileBytes(source, BuildRecording(MakeVoiceHeader(1, memo, marks), audio.bytes), m_recorded));
        const FileSnapshot before = SnapshotFile(source);
        QTemporaryDir target;
        if (nameTaken)
            QVERIFY(WriteFileBytes(QDir(target.path()).filePath(QStringLiteral("REC0001.MP3")), "theirs"));

        ExportOptions options;
        options.title = titleFromMemo ? ExportTitle::Memo : ExportTitle::FileName;
        if (beginMs >= 0)
            options.section = ExportSpan{beginMs, endMs};
        const ExportResult result = ExportRecording(source, target.path(), options);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(QFileInfo(result.outputPath).fileName(),
                 nameTaken ? QStringLiteral("REC0001(2).MP3") : QStringLiteral("REC0001.MP3"));
        if (nameTaken)
            QCOMPARE(ReadWholeFile(QDir(target.path()).filePath(QStringLiteral("REC0001.MP3"))), QByteArray("theirs"));
        QVERIFY(SnapshotFile(source) == before);
        // A file of the user's, readable as any new file is (not private as its temporary copy).
        const mode_t mask = ::umask(0);
        ::umask(mask);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(result.outputPath).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0666 & ~mask);
        QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden).size(), nameTaken ? 2 : 1);

        int sourceRate = 0;
        const std::vector<float> whole = decodeAll(source, &sourceRate);
        QCOMPARE(sourceRate, rate);
        const size_t first = beginMs < 0 ? 0 : size_t(beginMs * rate / 1000);
        const size_t last = beginMs < 0 ? whole.size() : size_t(endMs * rate / 1000);
        QVERIFY(last <= whole.size());
        const std::vector<float> expected(whole.begin() + qsizetype(first), whole.begin() + qsizetype(last));
        const std::vector<float> exported = decodeAll(result.outputPath);
        QCOMPARE(exported.size(), expected.size());
        // Frame-exact: a frame or a sample off, or a frame whose reservoir is missing, differs
        // by far more than the last bit of a float in which the decoder's filter may round
        // (a 16-bit step is 3e-5).
        for (size_t i = 0; i < expected.size(); ++i) {
            if (std::abs(exported[i] - expected[i]) > 1e-6f)
                QFAIL(qPrintable(QStringLiteral("sample %1 differs: %2, source %3")
                                     .arg(i).arg(exported[i]).arg(expected[i])));
        }

        TagLib::MPEG::File file(QFile::encodeName(result.outputPath).constData());
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
        QVERIFY(tag);
        QCOMPARE(int(tag->header()->majorVersion()), 4);
        QCOMPARE(fromTag(tag->title()), title);
        QCOMPARE(fromTag(tag->frameList("TDRC").front()->toString()), QStringLiteral("2026-03-14T09:26:53"));
        QCOMPARE(fromTag(tag->comment()), QString(memo).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QVERIFY(tag->frameList("XPCC").isEmpty());
        qint64 lastEnd = -1;
        const qint64 leadIn = leadInMs(result.outputPath);
        QVERIFY(leadIn > 0);
        QList<qint64> shifted;
        for (const qint64 start : chapters)
            shifted.append(start + leadIn);
        QCOMPARE(chapterStarts(*tag, &lastEnd), shifted);
        if (!chapters.isEmpty()) {
            const qint64 lengthMs = qint64(expected.size()) * 1000 / rate + leadIn;
            QVERIFY(std::abs(lastEnd - lengthMs) <= 1);
            const auto tocs = tag->frameList("CTOC");
            QCOMPARE(int(tocs.size()), 1);
            const auto* toc = dynamic_cast<const TagLib::ID3v2::TableOfContentsFrame*>(tocs.front());
            QVERIFY(toc->isTopLevel());
            QCOMPARE(int(toc->entryCount()), int(chapters.size()));
        } else {
            QVERIFY(tag->frameList("CTOC").isEmpty());
        }
    }

    // A WAV of a section holds the decoder's samples of that span as 16-bit PCM.
    void wavExport()
    {
        const QString source = makeRecording(QStringLiteral("wav.mp3"), Mp3Format{}, 12.0, QString(), {2});
        QVERIFY(!source.isEmpty());
        QTemporaryDir target;
        ExportOptions options;
        options.format = ExportFormat::Wav;
        options.section = ExportSpan{1500, 7250};
        const ExportResult result = ExportRecording(source, target.path(), options);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(QFileInfo(result.outputPath).fileName(), QStringLiteral("wav.wav"));

        const QByteArray wav = ReadWholeFile(result.outputPath);
        QVERIFY(wav.size() > 44);
        QCOMPARE(wav.left(4), QByteArray("RIFF"));
        QCOMPARE(qFromLittleEndian<quint32>(wav.constData() + 4), quint32(wav.size() - 8));
        QCOMPARE(wav.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(qFromLittleEndian<quint16>(wav.constData() + 20), quint16(1));
        QCOMPARE(qFromLittleEndian<quint16>(wav.constData() + 22), quint16(1));
        QCOMPARE(qFromLittleEndian<quint32>(wav.constData() + 24), quint32(8000));
        QCOMPARE(qFromLittleEndian<quint16>(wav.constData() + 34), quint16(16));
        QCOMPARE(wav.mid(36, 4), QByteArray("data"));
        const quint32 dataBytes = qFromLittleEndian<quint32>(wav.constData() + 40);
        QCOMPARE(qsizetype(dataBytes), wav.size() - 44);

        const std::vector<float> whole = decodeAll(source);
        const size_t first = 1500 * 8, last = 7250 * 8;
        QCOMPARE(size_t(dataBytes / 2), last - first);
        for (size_t i = 0; i < last - first; ++i) {
            const float sample = qFromLittleEndian<qint16>(wav.constData() + 44 + 2 * i) / 32768.0f;
            if (std::abs(sample - whole[first + i]) > 1.0f / 32768)
                QFAIL(qPrintable(QStringLiteral("sample %1: %2, decoded %3").arg(i).arg(sample).arg(whole[first + i])));
        }
    }

    // A cancelled export, one into a folder that cannot be written and one of a file that
    // is no MP3 leave nothing behind and say why.
    void failedExportsLeaveNothing()
    {
        const QString source = makeRecording(QStringLiteral("cancel.mp3"), Mp3Format{}, 4.0, QString(), {});
        QVERIFY(!source.isEmpty());
        QTemporaryDir target;
        for (const ExportFormat format : {ExportFormat::Mp3, ExportFormat::Wav}) {
            ExportOptions options;
            options.format = format;
            const ExportResult cancelled =
                ExportRecording(source, target.path(), options, [](int64_t, int64_t) { return false; });
            QVERIFY(!cancelled.ok);
            QVERIFY(cancelled.cancelled);
        }
        QVERIFY(QDir(target.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());

        const ExportResult missing = ExportRecording(source, target.filePath(QStringLiteral("gone")), {});
        QVERIFY(!missing.ok && !missing.cancelled);
        QVERIFY(!missing.error.isEmpty());

        const QString text = target.filePath(QStringLiteral("notes.mp3"));
        QVERIFY(WriteFileBytes(text, QByteArray(4000, 'x')));
        QTemporaryDir other;
        const ExportResult notAudio = ExportRecording(text, other.path(), {});
        QVERIFY(!notAudio.ok);
        QVERIFY(notAudio.error.contains(QStringLiteral("MP3")));
        QVERIFY(QDir(other.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    }

    // The header's sizes are 32 bits: a file that would need more is refused, never
    // given sizes that wrapped round.
    void wavHeaderSizes_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<qint64>("riffSize"); // -1: refused
        const qint64 stereoMost = (qint64(UINT32_MAX) - 36) / 4;
        QTest::newRow("empty") << 2 << qint64(0) << qint64(36);
        QTest::newRow("one second, mono") << 1 << qint64(44100) << qint64(36 + 88200);
        QTest::newRow("the most stereo") << 2 << stereoMost << qint64(36 + stereoMost * 4);
        QTest::newRow("one frame more") << 2 << stereoMost + 1 << qint64(-1);
        QTest::newRow("ten hours of stereo") << 2 << qint64(36000) * 44100 << qint64(-1);
    }
    void wavHeaderSizes()
    {
        QFETCH(int, channels);
        QFETCH(qint64, frames);
        QFETCH(qint64, riffSize);
        QCOMPARE(frames <= MaxWavFrames(channels), riffSize >= 0);
        const QByteArray header = WavHeader(44100, channels, frames);
        if (riffSize < 0) {
            QVERIFY(header.isEmpty());
            return;
        }
        QCOMPARE(header.size(), 44);
        QCOMPARE(qint64(qFromLittleEndian<quint32>(header.constData() + 4)), riffSize);
        QCOMPARE(qint64(qFromLittleEndian<quint32>(header.constData() + 40)), riffSize - 36);
    }

    void wavExportStoppedPartWay_data()
    {
        QTest::addColumn<bool>("writeFails");
        QTest::newRow("a write fails") << true;
        QTest::newRow("cancelled") << false;
    }

    // A WAV export that stops part-way, at a write the file system refuses (the file-size
    // limit stands in for a full disk) or at the user's cancel, says so, decodes no
    // further and leaves neither a file nor its temporary copy.
    void wavExportStoppedPartWay()
    {
        QFETCH(bool, writeFails);
        // 2.8 MB of WAV, many blocks of it; the limit falls into the second.
        const QString source =
            makeRecording(QStringLiteral("long.mp3"), Mp3Format{}, 180.0, QString(), {});
        QVERIFY(!source.isEmpty());
        QTemporaryDir target;
        ExportOptions options;
        options.format = ExportFormat::Wav;
        options.section = ExportSpan{1000, 179'000};
        int64_t lastDone = 0, lastTotal = 0;
        const auto progress = [&](int64_t done, int64_t total) {
            lastDone = done;
            lastTotal = total;
            return writeFails || done < 40 * 8000;
        };
        std::optional<FileSizeLimit> limit;
        if (writeFails) {
            limit.emplace(600 * 1024);
            QVERIFY(limit->ok());
        }
        const ExportResult result = ExportRecording(source, target.path(), options, progress);
        limit.reset();

        QVERIFY(!result.ok);
        QCOMPARE(result.cancelled, !writeFails);
        if (writeFails)
            QCOMPARE(result.error,
                     QStringLiteral("書き出しに失敗しました。\n") + SystemErrorText(EFBIG));
        QCOMPARE(lastTotal, int64_t(178 * 8000));
        QVERIFY2(lastDone < lastTotal, "decoding went on to the end");
        QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }
};

TALVEN77_REGISTER_TEST(ExportTest);
#include "ExportTest.moc"
