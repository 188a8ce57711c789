#include "Commands.h"
#include "Inspection.h"
#include "JsonLines.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <cstring>

namespace {

QString openErrorText(int error)
{
    if (error == EWOULDBLOCK)
        return QStringLiteral("the file is in use");
    if (error == RecordingFile::kNotRegularFile)
        return QStringLiteral("not a regular file");
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString NotARecordingText(const RecordingFile& file, VoiceHeaderLookup lookup)
{
    if (!file.isOpen())
        return openErrorText(file.error());
    if (lookup == VoiceHeaderLookup::NotTagged)
        return QStringLiteral("not a recording: the file has no ID3v2 tag");
    return QStringLiteral("not a recording: no XPCC recording header in the file");
}

QByteArray RecordingLine(const QString& path, const tagVoiceHeader& header, uint32_t duration, int64_t size,
                         int64_t created)
{
    QList<std::optional<qint64>> marks;
    for (int i = 0; i < kIndexMarkCount; ++i) {
        const uint32_t mark = header.indexMarks[i];
        marks.append(mark == kEmptyIndexMark ? std::nullopt : std::optional<qint64>(mark));
    }
    // In the order of the names, as a JSON object of the same fields is written.
    JsonLineWriter line;
    line.field("created", IsoLocalTime(created));
    line.field("duration", qint64(duration));
    line.field("found", true);
    line.field("indexMarks", marks);
    line.field("memo", VoiceMemoText(header));
    line.field("mode", qint64(header.mode));
    line.field("name", path.mid(path.lastIndexOf(u'/') + 1));
    line.field("path", path);
    line.field("playedFlag", qint64(header.playedFlag));
    line.field("protectFlag", qint64(header.protectFlag));
    line.field("size", qint64(size));
    line.field("transferredFlag", qint64(header.transferredFlag));
    return line.finish();
}

QByteArray InspectRecording(const QString& path, bool& ok)
{
    RecordingFile file;
    tagVoiceHeader header;
    VoiceHeaderLookup lookup = VoiceHeaderLookup::OpenFailed;
    ok = file.open(path, RecordingFile::Access::Read) && ReadVoiceHeader(file, header, &lookup);
    if (!ok) {
        const QJsonObject missing{{QStringLiteral("path"), path},
                                  {QStringLiteral("found"), false},
                                  {QStringLiteral("error"), NotARecordingText(file, lookup)}};
        return QJsonDocument(missing).toJson(QJsonDocument::Compact);
    }
    return RecordingLine(path, header, MeasureMp3Duration(file), file.size(), file.creationTime());
}

int RunInspect(const QStringList& arguments)
{
    if (arguments.isEmpty()) {
        PrintError(QStringLiteral("inspect needs at least one file"));
        return 2;
    }
    int status = 0;
    for (const QString& path : arguments) {
        bool ok = false;
        PrintJsonLine(InspectRecording(path, ok));
        if (!ok)
            status = 1;
    }
    return status;
}
