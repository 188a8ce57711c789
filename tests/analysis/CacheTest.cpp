#include "AnalysisFixtures.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "analysis/EnvelopeCache.h"
#include "analysis/EnvelopeEntry.h"
#include "analysis/RecordingAnalysis.h"
#include "recording/VoiceHeader.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <sys/stat.h>
#include <QTest>

namespace {

constexpr int kWaitMs = 60000;
// Where an entry's header keeps the envelope's sample rate and frame count.
constexpr int kSampleRateOffset = 56;
constexpr int kFramesOffset = 64;
// Where it keeps the file's key: device, inode, size, last-write seconds and nanoseconds.
constexpr int kKeyOffset = 16;

// Loads the path and waits until the envelope is complete; whether it came from the cache.
bool loadComplete(RecordingAnalysis& analysis, const QString& path)
{
    analysis.load(path);
    if (!analysis.isComplete()) {
        QSignalSpy completed(&analysis, &RecordingAnalysis::completed);
        if (!completed.wait(kWaitMs))
            return false;
    }
    return true;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

class CacheTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QString m_recordings;
    QString m_cacheFolder;

private Q_SLOTS:
    void init()
    {
        m_recordings = m_folder.filePath(QStringLiteral("rec"));
        m_cacheFolder = m_folder.filePath(QStringLiteral("cache"));
        QDir(m_recordings).removeRecursively();
        QDir(m_cacheFolder).removeRecursively();
        QVERIFY(QDir().mkpath(m_recordings));
    }

    void reusedWhileTheAudioIsUnchanged()
    {
        const QString path = m_recordings + QStringLiteral("/REC00001.MP3");
        QVERIFY(WriteSpansRecording(path, {{Signal::Speech, 2}, {Signal::Silence, 3}}, 5, {1}));
        RecordingAnalysis analysis{EnvelopeCache(m_cacheFolder)};
        QVERIFY(loadComplete(analysis, path));
        QVERIFY(!analysis.fromCache());
        const std::vector<uint8_t> computed = analysis.envelope().levels;
        QVERIFY(std::abs(analysis.envelope().durationMilliseconds() - 5200) < 100);

        QVERIFY(loadComplete(analysis, path));
        QVERIFY(analysis.fromCache());
        QVERIFY(analysis.envelope().levels == computed);
        QVERIFY(std::abs(analysis.envelope().durationMilliseconds() - 5200) < 100);

        // The panel writes a header in place and puts the times back: the audio is the same.
        tagVoiceHeader header{};
        QVERIFY(ReadVoiceHeader(path, header));
        header.protectFlag = 1;
        header.indexMarks[1] = 3;
        QVERIFY(WriteVoiceHeader(path, header));
        QVERIFY(loadComplete(analysis, path));
        QVERIFY(analysis.fromCache());
        QVERIFY(analysis.envelope().levels == computed);

        // Nothing is ever written beside the recording.
        QCOMPARE(QDir(m_recordings).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("REC00001.MP3")});
    }

    void recomputedForAnotherFileUnderTheSameName_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::newRow("renamed over it") << true;
        QTest::newRow("rewritten in place") << false;
    }

    void recomputedForAnotherFileUnderTheSameName()
    {
        QFETCH(bool, rename);
        const QString path = m_recordings + QStringLiteral("/REC00002.MP3");
        QVERIFY(WriteSpansRecording(path, {{Signal::Speech, 2}, {Signal::Silence, 3}}));
        RecordingAnalysis analysis{EnvelopeCache(m_cacheFolder)};
        QVERIFY(loadComplete(analysis, path));
        QVERIFY(std::abs(analysis.envelope().durationMilliseconds() - 5200) < 100);

        const QString other = m_folder.filePath(QStringLiteral("other.MP3"));
        QVERIFY(WriteSpansRecording(other, {{Signal::Silence, 1}, {Signal::Speech, 3}}));
        if (rename)
            QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);
        else
            QVERIFY(writeAll(path, readAll(other)));
        QVERIFY(loadComplete(analysis, path));
        QVERIFY(!analysis.fromCache());
        QVERIFY(std::abs(analysis.envelope().durationMilliseconds() - 4200) < 100);
        QVERIFY(LevelEnvelope::Decibels(analysis.envelope().rms(250)) > -40);
    }

    void damagedEntryIsComputedAgain_data()
    {
        QTest::addColumn<QByteArray>("damage");
        QTest::newRow("cut short") << QByteArray("truncate");
        QTest::newRow("a level changed") << QByteArray("flip");
        QTest::newRow("another format version") << QByteArray("version");
        QTest::newRow("no entry at all but garbage") << QByteArray("garbage");
        QTest::newRow("a folder in its place") << QByteArray("folder");
    }

    void damagedEntryIsComputedAgain()
    {
        QFETCH(QByteArray, damage);
        const QString path = m_recordings + QStringLiteral("/REC00003.MP3");
        QVERIFY(WriteSpansRecording(path, {{Signal::Speech, 2}, {Signal::Silence, 3}}));
        const EnvelopeCache cache(m_cacheFolder);
        RecordingAnalysis analysis{cache};
        QVERIFY(loadComplete(analysis, path));
        const std::vector<uint8_t> computed = analysis.envelope().levels;
        const QString entry = cache.entryPath(*FileKey::Of(path));
        QByteArray bytes = readAll(entry);
        QVERIFY(bytes.size() > 1000);
        if (damage == "truncate")
            bytes.chop(7);
        else if (damage == "flip")
            bytes[bytes.size() - 100] = char(bytes[bytes.size() - 100] ^ 0x5a);
        else if (damage == "version")
            bytes[8] = char(bytes[8] + 1);
        else
            bytes = QByteArray(bytes.size(), 'x');
        if (damage == "folder") {
            QVERIFY(QFile::remove(entry));
            QVERIFY(QDir().mkpath(entry + QStringLiteral("/inside")));
        } else {
            QVERIFY(writeAll(entry, bytes));
        }

        QVERIFY(loadComplete(analysis, path));
        QVERIFY(!analysis.fromCache());
        QVERIFY(analysis.envelope().levels == computed);
        if (damage != "folder") {
            // Stored again, whole.
            QVERIFY(loadComplete(analysis, path));
            QVERIFY(analysis.fromCache());
        }
    }

    // A header field of an entry changed on disk, the levels left as they are: every
    // field counts, the entry is dropped at once and the envelope computed again.
    void damagedHeaderFieldIsComputedAgain_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<qint64>("value");
        QTest::newRow("frames of 2^62") << kFramesOffset << (qint64(1) << 62);
        QTest::newRow("frames negative") << kFramesOffset << qint64(-8000);
        QTest::newRow("frames of a second more") << kFramesOffset << qint64(-1); // -1: add a second's frames
        QTest::newRow("sample rate of 2^32") << kSampleRateOffset << (qint64(1) << 32);
        QTest::newRow("sample rate of 0") << kSampleRateOffset << qint64(0);
        QTest::newRow("sample rate doubled") << kSampleRateOffset << qint64(16000);
    }

    void damagedHeaderFieldIsComputedAgain()
    {
        QFETCH(int, offset);
        QFETCH(qint64, value);
        const QString path = m_recordings + QStringLiteral("/REC00006.MP3");
        QVERIFY(WriteSpansRecording(path, {{Signal::Speech, 2}, {Signal::Silence, 3}}));
        const EnvelopeCache cache(m_cacheFolder);
        RecordingAnalysis analysis{cache};
        QVERIFY(loadComplete(analysis, path));
        const LevelEnvelope computed = analysis.envelope();
        const FileKey key = *FileKey::Of(path);
        const QString entry = cache.entryPath(key);
        QByteArray bytes = readAll(entry);
        QVERIFY(bytes.size() > offset + 8);
        if (value == -1)
            value = qFromLittleEndian<qint64>(bytes.constData() + offset) + computed.sampleRate;
        qToLittleEndian<qint64>(value, bytes.data() + offset);
        QVERIFY(writeAll(entry, bytes));

        QVERIFY(!cache.load(key));
        QVERIFY(!QFile::exists(entry));
        QVERIFY(loadComplete(analysis, path));
        QVERIFY(!analysis.fromCache());
        QCOMPARE(analysis.envelope().frames, computed.frames);
        QCOMPARE(analysis.envelope().sampleRate, computed.sampleRate);
        QVERIFY(std::abs(analysis.envelope().durationMilliseconds() - 5200) < 100);
        // Stored again, whole.
        QVERIFY(loadComplete(analysis, path));
        QVERIFY(analysis.fromCache());
        QCOMPARE(analysis.envelope().frames, computed.frames);
    }

    // Entries whose checksum holds but whose fields no analysis gives (as a program of
    // another make, or a hand, could write): each is refused on its own.
    void entryFieldsAreCheckedOneByOne_data()
    {
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<int>("buckets");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("as the analysis gives it") << 8000 << qint64(8005) << 101 << true;
        QTest::newRow("a rate that is no multiple of 100") << 22050 << qint64(22050) << 100 << true;
        QTest::newRow("nothing") << 8000 << qint64(0) << 0 << true;
        QTest::newRow("frames of 2^62") << 8000 << (qint64(1) << 62) << 101 << false;
        QTest::newRow("frames negative") << 8000 << qint64(-1) << 101 << false;
        QTest::newRow("a bucket too many") << 8000 << qint64(8000) << 101 << false;
        QTest::newRow("a bucket too few") << 8000 << qint64(8081) << 101 << false;
        QTest::newRow("no sample rate") << 0 << qint64(8005) << 101 << false;
        QTest::newRow("a negative sample rate") << -8000 << qint64(8005) << 101 << false;
        QTest::newRow("a rate no audio has") << 2000000000 << qint64(8005) << 101 << false;
    }

    void entryFieldsAreCheckedOneByOne()
    {
        QFETCH(int, sampleRate);
        QFETCH(qint64, frames);
        QFETCH(int, buckets);
        QFETCH(bool, accepted);
        LevelEnvelope envelope;
        envelope.sampleRate = sampleRate;
        envelope.frames = frames;
        envelope.levels.assign(size_t(buckets) * 2, 77);
        const FileKey key(FileStamp{1, 2, 3, 4'000'000'005, 0});
        const std::optional<EnvelopeEntry> entry = DecodeEnvelopeEntry(EncodeEnvelopeEntry(key, envelope));
        QCOMPARE(entry.has_value(), accepted);
        if (accepted) {
            QVERIFY(entry->key == key);
            QCOMPARE(entry->envelope.frames, frames);
            QCOMPARE(entry->envelope.sampleRate, sampleRate);
            QVERIFY(entry->envelope.levels == envelope.levels);
        }
        // Any part of an entry cut off or changed is found.
        const QByteArray whole = EncodeEnvelopeEntry(key, envelope);
        for (qsizetype cut = 0; cut < whole.size(); cut += 7)
            QVERIFY(!DecodeEnvelopeEntry(whole.first(cut)));
        for (qsizetype at = 0; at < whole.size(); ++at) {
            QByteArray changed = whole;
            changed[at] = char(changed[at] ^ 0x10);
            QVERIFY(!DecodeEnvelopeEntry(changed));
        }
    }

    // Entries of earlier runs stay valid: the key lies in an entry as the file system
    // gives it (whole seconds, before 1970 negative, and the nanoseconds after them),
    // and the status-change time is no part of it.
    void entryKeepsTheFileKeyInItsLayout_data()
    {
        QTest::addColumn<qint64>("modifiedNs");
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<qint64>("nanoseconds");
        QTest::newRow("2023") << qint64(1700000000123456789) << qint64(1700000000) << qint64(123456789);
        QTest::newRow("on a whole second") << qint64(1700000000000000000) << qint64(1700000000) << qint64(0);
        QTest::newRow("half a second before 1970") << qint64(-500000000) << qint64(-1) << qint64(500000000);
        QTest::newRow("1960") << qint64(-315619199999999999) << qint64(-315619200) << qint64(1);
    }

    void entryKeepsTheFileKeyInItsLayout()
    {
        QFETCH(qint64, modifiedNs);
        QFETCH(qint64, seconds);
        QFETCH(qint64, nanoseconds);
        LevelEnvelope envelope;
        envelope.sampleRate = 8000;
        envelope.frames = 8000;
        envelope.levels.assign(200, 90);
        const FileKey key(FileStamp{0x803, 0x1234567, 4096, modifiedNs, 1700000099000000000});
        const QByteArray bytes = EncodeEnvelopeEntry(key, envelope);
        QVERIFY(bytes.size() > kKeyOffset + 40);
        const char* field = bytes.constData() + kKeyOffset;
        QCOMPARE(qFromLittleEndian<quint64>(field), quint64(0x803));
        QCOMPARE(qFromLittleEndian<quint64>(field + 8), quint64(0x1234567));
        QCOMPARE(qFromLittleEndian<qint64>(field + 16), qint64(4096));
        QCOMPARE(qFromLittleEndian<qint64>(field + 24), seconds);
        QCOMPARE(qFromLittleEndian<qint64>(field + 32), nanoseconds);
        const std::optional<EnvelopeEntry> entry = DecodeEnvelopeEntry(bytes);
        QVERIFY(entry);
        QVERIFY(entry->key == key);
        // Another status-change time is the same key.
        QVERIFY(entry->key == FileKey(FileStamp{0x803, 0x1234567, 4096, modifiedNs, 0}));
        QVERIFY(!(entry->key == FileKey(FileStamp{0x803, 0x1234567, 4096, modifiedNs + 1, 0})));
    }

    void fifoInAnEntrysPlaceIsPassedOver()
    {
        const QString path = m_recordings + QStringLiteral("/REC00007.MP3");
        QVERIFY(WriteSpansRecording(path, {{Signal::Speech, 2}}));
        const EnvelopeCache cache(m_cacheFolder);
        const FileKey key = *FileKey::Of(path);
        QVERIFY(QDir().mkpath(m_cacheFolder));
        QVERIFY(::mkfifo(QFile::encodeName(cache.entryPath(key)).constData(), 0600) == 0);
        QVERIFY(!cache.load(key));
        QVERIFY(QFileInfo(cache.entryPath(key)).exists());
    }

    void cacheThatCannotBeWrittenIsDoneWithout()
    {
        const QString path = m_recordings + QStringLiteral("/REC00004.MP3");
        QVERIFY(WriteSpansRecording(path, {{Signal::Speech, 2}}));
        // A file where the cache folder should be.
        QVERIFY(writeAll(m_cacheFolder, "not a folder"));
        RecordingAnalysis analysis{EnvelopeCache(m_cacheFolder)};
        QVERIFY(loadComplete(analysis, path));
        QVERIFY(std::abs(analysis.envelope().durationMilliseconds() - 2200) < 100);
        QVERIFY(loadComplete(analysis, path));
        QVERIFY(!analysis.fromCache());
        QCOMPARE(readAll(m_cacheFolder), QByteArray("not a folder"));
    }

    void unreadableRecordingGivesNoEnvelope()
    {
        const QString path = m_recordings + QStringLiteral("/REC00005.MP3");
        QVERIFY(writeAll(path, QByteArray(4000, 'z')));
        RecordingAnalysis analysis{EnvelopeCache(m_cacheFolder)};
        analysis.load(path);
        QTRY_COMPARE_WITH_TIMEOUT(analysis.runningJobs(), 0, kWaitMs);
        QCoreApplication::processEvents();
        QCOMPARE(analysis.envelope().buckets(), 0);
        QVERIFY(!analysis.isComplete());
    }

    void anotherRecordingCancelsTheAnalysis()
    {
        const QString longPath = m_recordings + QStringLiteral("/LONG.MP3");
        const QString shortPath = m_recordings + QStringLiteral("/SHORT.MP3");
        QVERIFY(WriteLongRecording(longPath, 120));
        QVERIFY(WriteSpansRecording(shortPath, {{Signal::Speech, 3}}));
        RecordingAnalysis analysis{EnvelopeCache(m_cacheFolder)};
        QSignalSpy changed(&analysis, &RecordingAnalysis::envelopeChanged);
        analysis.load(longPath);
        // The first part arrives while the rest is still being decoded.
        QVERIFY(changed.wait(kWaitMs));
        QVERIFY(analysis.envelope().buckets() > 0);
        QVERIFY(!analysis.isComplete());
        QVERIFY(loadComplete(analysis, shortPath));
        QVERIFY(std::abs(analysis.envelope().durationMilliseconds() - 3200) < 100);
        QTRY_COMPARE_WITH_TIMEOUT(analysis.runningJobs(), 0, kWaitMs);
        QCOMPARE(analysis.cancelledJobs(), 1);
        // Nothing of the cancelled analysis reaches the envelope shown, nor the cache.
        QCoreApplication::processEvents();
        QVERIFY(std::abs(analysis.envelope().durationMilliseconds() - 3200) < 100);
        QVERIFY(!QFile::exists(EnvelopeCache(m_cacheFolder).entryPath(*FileKey::Of(longPath))));
    }
};

TALVEN77_REGISTER_TEST(CacheTest);
#include "CacheTest.moc"
