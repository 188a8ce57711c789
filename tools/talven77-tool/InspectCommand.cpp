#include "Commands.h"
#include "Inspection.h"
#include "JsonLines.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"

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

QJsonObject InspectRecording(const QString& path, bool& ok)
{
    QJsonObject object{{QStringLiteral("path"), path}};
    RecordingFile file;
    tagVoiceHeader header;
    VoiceHeaderLookup lookup = VoiceHeaderLookup::OpenFailed;
    ok = file.open(path, RecordingFile::Access::Read) && ReadVoiceHeader(file, header, &lookup);
    object.insert(QStringLiteral("found"), ok);
    if (!ok) {
        QString error;
        if (!file.isOpen())
            error = openErrorText(file.error());
        else if (lookup == VoiceHeaderLookup::NotTagged)
            error = QStringLiteral("not a recording: the file has no ID3v2 tag");
        else
            error = QStringLiteral("not a recording: no XPCC recording header in the file");
        object.insert(QStringLiteral("error"), error);
        return object;
    }
    QJsonArray marks;
    for (int i = 0; i < kIndexMarkCount; ++i) {
        const uint32_t mark = header.indexMarks[i];
        marks.append(mark == kEmptyIndexMark ? QJsonValue() : QJsonValue(qint64(mark)));
    }
    object.insert(QStringLiteral("mode"), header.mode);
    object.insert(QStringLiteral("playedFlag"), header.playedFlag);
    object.insert(QStringLiteral("protectFlag"), header.protectFlag);
    object.insert(QStringLiteral("transferredFlag"), header.transferredFlag);
    object.insert(QStringLiteral("indexMarks"), marks);
    object.insert(QStringLiteral("memo"), VoiceMemoText(header));
    object.insert(QStringLiteral("duration"), qint64(MeasureMp3Duration(file)));
    return object;
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
