#include "Commands.h"
#include "Inspection.h"
#include "JsonLines.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"

#include <QFileInfo>
#include <QJsonArray>
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

QJsonObject RecordingObject(const QString& path, const tagVoiceHeader& header, uint32_t duration, int64_t size,
                            int64_t created)
{
    QJsonArray marks;
    for (int i = 0; i < kIndexMarkCount; ++i) {
        const uint32_t mark = header.indexMarks[i];
        marks.append(mark == kEmptyIndexMark ? QJsonValue() : QJsonValue(qint64(mark)));
    }
    return QJsonObject{
        {QStringLiteral("path"), path},
        {QStringLiteral("name"), QFileInfo(path).fileName()},
        {QStringLiteral("found"), true},
        {QStringLiteral("mode"), header.mode},
        {QStringLiteral("playedFlag"), header.playedFlag},
        {QStringLiteral("protectFlag"), header.protectFlag},
        {QStringLiteral("transferredFlag"), header.transferredFlag},
        {QStringLiteral("indexMarks"), marks},
        {QStringLiteral("memo"), VoiceMemoText(header)},
        {QStringLiteral("duration"), qint64(duration)},
        {QStringLiteral("size"), qint64(size)},
        {QStringLiteral("created"), IsoLocalTime(created)},
    };
}

QJsonObject InspectRecording(const QString& path, bool& ok)
{
    RecordingFile file;
    tagVoiceHeader header;
    VoiceHeaderLookup lookup = VoiceHeaderLookup::OpenFailed;
    ok = file.open(path, RecordingFile::Access::Read) && ReadVoiceHeader(file, header, &lookup);
    if (!ok) {
        return QJsonObject{{QStringLiteral("path"), path},
                           {QStringLiteral("found"), false},
                           {QStringLiteral("error"), NotARecordingText(file, lookup)}};
    }
    return RecordingObject(path, header, MeasureMp3Duration(file), file.size(), file.creationTime());
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
