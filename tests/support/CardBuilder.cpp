#include "CardBuilder.h"

#include "RecordingBuilder.h"
#include "recording/RecorderIdentity.h"

#include <QDir>
#include <QDirIterator>
#include <QStringList>
#include <random>
#include <vector>

namespace {

const QStringList kMemos = {
    QStringLiteral("定例会議　第%1回"),
    QStringLiteral("打ち合わせメモ：山田様"),
    QStringLiteral("講義ノート～音声学入門"),
    QString(),
    QStringLiteral("電話の録音（折り返し要）"),
    QStringLiteral("アイデア：新しい企画について"),
    QStringLiteral("インタビュー　佐藤さん　%1"),
    QStringLiteral("買い物リスト"),
};

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

QByteArray DeviceDatBytes(uint16_t number)
{
    QByteArray bytes(512, '\0');
    const QByteArray signature = QByteArrayLiteral("TALVEN-77");
    bytes.replace(0, signature.size(), signature);
    bytes[16] = char(number & 0xFF);
    bytes[17] = char(number >> 8);
    for (int i = 0; i < signature.size(); ++i)
        bytes[511 - i] = signature[i];
    return bytes;
}

Mp3Format RecorderFormat(uint8_t mode)
{
    switch (mode) {
    case 0:
        return {8000, 1, 8, false, true};
    case 1:
        return {22050, 1, 32, false, true};
    default:
        return {44100, 2, 128, false, true};
    }
}

const QByteArray& MinuteOfRecorderAudio()
{
    static const QByteArray audio = EncodeMp3(RecorderFormat(0), 60.0, 7).bytes;
    return audio;
}

bool MakeCard(const CardOptions& options, QString* error)
{
    const QDir root(options.folder);
    if (!QDir().mkpath(options.folder))
        return fail(error, QStringLiteral("cannot create %1").arg(options.folder));
    if (!WriteFileBytes(root.filePath(QStringLiteral("Device.Dat")), DeviceDatBytes(options.number)))
        return fail(error, QStringLiteral("cannot write %1").arg(root.filePath(QStringLiteral("Device.Dat"))));
    const QString recorderFolder = RecorderFolderPath(QDir::cleanPath(options.folder), options.number);
    if (!QDir().mkpath(recorderFolder))
        return fail(error, QStringLiteral("cannot create %1").arg(recorderFolder));

    std::mt19937 random(options.seed);
    QDateTime when = options.firstRecording.isValid()
                         ? options.firstRecording
                         : QDateTime(QDate(2026, 11, 2), QTime(9, 15));
    for (int i = 0; i < options.recordings; ++i) {
        const uint8_t mode = uint8_t(random() % 3);
        double seconds = 2.0 + double(random() % 400) / 100.0;
        EncodedMp3 audio;
        if (options.silences) {
            std::vector<SignalSpan> spans;
            const double length = 15.0 + double(random() % 30);
            double at = 0;
            // Now and then the recorder was started before anyone spoke.
            if (random() % 3 == 0)
                spans.push_back({Signal::Silence, 2.0 + double(random() % 300) / 100.0});
            while (at < length) {
                spans.push_back({Signal::Speech, 3.0 + double(random() % 700) / 100.0});
                spans.push_back({Signal::Silence, 1.5 + double(random() % 450) / 100.0});
                at += spans[spans.size() - 2].seconds + spans.back().seconds;
            }
            seconds = 0;
            for (const SignalSpan& span : spans)
                seconds += span.seconds;
            audio = EncodeMp3Spans(RecorderFormat(mode), spans, options.seed * 1000 + uint32_t(i));
        } else {
            audio = EncodeMp3(RecorderFormat(mode), seconds, options.seed * 1000 + uint32_t(i));
        }
        if (!audio.ok)
            return fail(error, QStringLiteral("the encoder failed"));

        QString memo = kMemos[i % kMemos.size()];
        if (memo.contains(QStringLiteral("%1")))
            memo = memo.arg(i + 1);
        QList<uint32_t> marks;
        if (options.silences) {
            // Up to three marks spread over the recording.
            const int count = int(random() % 4);
            for (int m = 1; m <= count; ++m)
                marks.append(uint32_t(seconds * m / (count + 1)) + uint32_t(random() % 3));
        } else {
            for (uint32_t mark = 1; mark < seconds && int(random() % 3) == 0; ++mark)
                marks.append(mark);
        }
        tagVoiceHeader header = MakeVoiceHeader(mode, memo, marks);
        header.playedFlag = random() % 2 ? 2 : 0;
        header.protectFlag = random() % 4 == 0 ? 1 : 0;
        header.transferredFlag = random() % 3 == 0 ? 1 : 0;

        const QString path = recorderFolder + when.toString(QStringLiteral("yyyyMM/dd/"))
                             + QStringLiteral("REC%1.MP3").arg(i + 1, 5, 10, QLatin1Char('0'));
        if (!WriteFileBytes(path, BuildVoiceTag(header, {}, 256) + audio.bytes, when))
            return fail(error, QStringLiteral("cannot write %1").arg(path));
        when = when.addSecs(3600 * (2 + qint64(random() % 70)) + qint64(random() % 3600));
    }
    return true;
}

int ClearTransferredFlags(const QString& root)
{
    int count = 0;
    QDirIterator files(root, {QStringLiteral("*.mp3")}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        tagVoiceHeader header{};
        if (!ReadVoiceHeader(path, header))
            return -1;
        header.transferredFlag = 0;
        if (!WriteVoiceHeader(path, header))
            return -1;
        ++count;
    }
    return count;
}
