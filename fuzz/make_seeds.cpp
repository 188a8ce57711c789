// Writes the harnesses' seed corpus: small, real inputs of each kind, made by the
// program's own writers and the test encoder. Run by hand when the formats change:
//   fuzz_make_seeds fuzz/corpus
// Each file is named by what it holds; inputs that once failed are kept beside them.
#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "analysis/EnvelopeCache.h"
#include "export/TransferRecord.h"
#include "library/FolderListingCodec.h"
#include "platform/ProgramIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

QString g_root;

bool put(const QString& harness, const QString& name, const QByteArray& bytes)
{
    const QString folder = g_root + u'/' + harness;
    QDir().mkpath(folder);
    QFile file(folder + u'/' + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    return true;
}

// The first frames of an encoding, up to about maxBytes: seeds stay small.
QByteArray firstFrames(const Mp3Format& format, double seconds, int maxBytes)
{
    const EncodedMp3 encoded = EncodeMp3(format, seconds, 1);
    return encoded.bytes.left(maxBytes);
}

QByteArray littleEndian16(int value)
{
    return QByteArray(1, char(value & 0xff)) + char(value >> 8 & 0xff);
}

bool recordingHeaderSeeds()
{
    const QByteArray audio = firstFrames({8000, 1, 8, false, true}, 0.5, 400);
    const tagVoiceHeader marked = MakeVoiceHeader(1, QStringLiteral("会議メモ"), {5, 60, 61});
    QByteArray truncated = BuildVoiceTag(MakeVoiceHeader(2));
    truncated.chop(300);
    QByteArray pastTag = BuildRecording(MakeVoiceHeader(0), audio);
    pastTag[9] = 20; // the tag's declared size ends before the header's body
    return put("recording_header", "marked.mp3", BuildRecording(marked, audio))
           && put("recording_header", "frame-before.mp3",
                  BuildVoiceTag(MakeVoiceHeader(0), {{"TIT2", QByteArray("\0title", 6)}}, 16) + audio)
           && put("recording_header", "untagged.mp3", audio)
           && put("recording_header", "body-cut-short.mp3", truncated)
           && put("recording_header", "body-past-tag.mp3", pastTag);
}

bool sectionSeeds()
{
    struct Seed
    {
        const char* name;
        Mp3Format format;
        int begin;
        int length;
    };
    const Seed seeds[] = {
        {"8k-mono-cbr.mp3", {8000, 1, 8, false, true}, 600, 2000},
        {"8k-mono-vbr.mp3", {8000, 1, 16, true, true}, 0, 3000},
        {"16k-mono-cbr-no-info.mp3", {16000, 1, 24, false, false}, 1000, 3000},
        {"22k-stereo-vbr.mp3", {22050, 2, 32, true, true}, 2000, 4000},
        {"44k-stereo-cbr.mp3", {44100, 2, 64, false, true}, 1152, 3456},
    };
    for (const Seed& seed : seeds) {
        const QByteArray audio = firstFrames(seed.format, 0.4, 3000);
        if (!put("mp3_section_cut", seed.name, littleEndian16(seed.begin) + littleEndian16(seed.length) + audio))
            return false;
    }
    // A recording with its tag and header, cut from its start.
    return put("mp3_section_cut", "recording-from-start.mp3",
               littleEndian16(0) + littleEndian16(1500)
                   + BuildRecording(MakeVoiceHeader(1), firstFrames({8000, 1, 8, false, true}, 0.5, 600)));
}

bool envelopeSeeds(const QString& scratch)
{
    const EnvelopeCache cache(scratch + QStringLiteral("/envelopes"));
    LevelEnvelope envelope;
    envelope.sampleRate = 8000;
    envelope.frames = 8000 * 3;
    // Three seconds: speech, a pause, speech.
    for (int bucket = 0; bucket < 300; ++bucket) {
        const bool pause = bucket >= 100 && bucket < 250;
        envelope.levels.push_back(uint8_t(pause ? 40 : 200 + bucket % 30));
        envelope.levels.push_back(uint8_t(pause ? 30 : 170 + bucket % 20));
    }
    const FileKey key(FileStamp{0x803, 0x1234567, 4096, 1700000000123456789, 0});
    LevelEnvelope empty;
    empty.sampleRate = 44100;
    const FileKey emptyKey(FileStamp{0x803, 0x42, 0, 1700000000000000000, 0});
    auto entryBytes = [&](const FileKey& k) {
        QFile file(cache.entryPath(k));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    return cache.store(key, envelope) && cache.store(emptyKey, empty)
           && put("envelope_cache", "speech-pause-speech.env", entryBytes(key))
           && put("envelope_cache", "no-audio.env", entryBytes(emptyKey));
}

bool transferRecordSeeds(const QString& scratch)
{
    qputenv("XDG_DATA_HOME", (scratch + QStringLiteral("/data")).toUtf8());
    TransferRecordEntry first;
    first.time = QDateTime::fromSecsSinceEpoch(1700000000);
    first.recorderNumber = 7;
    first.source = QStringLiteral("/media/card/001_TALVEN-77/REC0001.MP3");
    first.destination = QStringLiteral("/home/user/Corvane/TALVEN-77/20231115/REC0001.MP3");
    first.size = 482304;
    first.verified = true;
    first.marked = true;
    TransferRecordEntry second = first;
    second.time = first.time.addSecs(60);
    second.recorderNumber = 0;
    second.source = QStringLiteral("/media/card/001_TALVEN-77/会議.MP3");
    second.destination = QStringLiteral("/home/user/Corvane/TALVEN-77/20231115/会議.MP3");
    second.verified = false;
    if (!TransferRecord::Append({first, second}))
        return false;
    QFile file(TransferRecord::FilePath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray lines = file.readAll();
    return put("transfer_record", "two-entries.jsonl", lines)
           && put("transfer_record", "damaged-line-between.jsonl",
                  lines.left(lines.indexOf('\n') + 1) + "{\"time\":\"2023-11-\n" + lines.mid(lines.indexOf('\n') + 1))
           && put("transfer_record", "empty.jsonl", {});
}

bool folderListingSeeds()
{
    const QByteArray names = JoinNames({QByteArray("sub"), QByteArray("会議").append('\xff')});
    const QByteArray stamped = PackStampedNames({{QByteArray("other.mp3"), FileStamp{2049, 1234, 4096, 1700000000123456789, 1700000000123456789}},
                                                 {QByteArray("notes.MP3"), FileStamp{2049, 99, 0, -1, 5}}});
    return put("folder_listing", "names", names) && put("folder_listing", "stamped-names", stamped)
           && put("folder_listing", "empty", {});
}

bool pedalSeeds()
{
    // Pieces as the device delivers them: a length byte, then the bytes.
    return put("pedal_reports", "left-down-up", QByteArray::fromHex("020100" "020000"))
           && put("pedal_reports", "all-three-in-turn", QByteArray::fromHex("020100" "020300" "020700" "020600" "020000"))
           && put("pedal_reports", "two-reports-in-one-read", QByteArray::fromHex("04" "01000000"))
           && put("pedal_reports", "report-in-halves", QByteArray::fromHex("0101" "0100" "0100" "0100"))
           && put("pedal_reports", "held-as-device-goes", QByteArray::fromHex("020400"))
           && put("pedal_reports", "another-size", QByteArray::fromHex("03010000" "020200"));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(kCompanyName);
    QCoreApplication::setApplicationName(kProgramTitle);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds CORPUS-FOLDER\n");
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir scratch;
    const bool ok = recordingHeaderSeeds() && sectionSeeds() && envelopeSeeds(scratch.path())
                    && transferRecordSeeds(scratch.path()) && pedalSeeds() && folderListingSeeds();
    return ok ? 0 : 1;
}
