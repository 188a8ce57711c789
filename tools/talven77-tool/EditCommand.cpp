#include "Commands.h"
#include "Inspection.h"
#include "JsonLines.h"
#include "platform/Cp932.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"

#include <array>
#include <cstring>
#include <optional>

namespace {

const QString kUsage = QStringLiteral(
    "usage: edit FILE... [--memo TEXT] [--protect on|off] [--played on|off] "
    "[--transferred on|off] [--marks S,S,...]  (a mark of 0 means an empty slot)");

// The changes asked for; what is not asked for stays as the file has it.
struct HeaderEdit
{
    std::optional<QByteArray> memo; // CP932, at most 256 bytes
    std::optional<uint8_t> protectFlag;
    std::optional<uint8_t> playedFlag;
    std::optional<uint8_t> transferredFlag;
    std::optional<std::array<uint32_t, kIndexMarkCount>> marks;

    bool any() const { return memo || protectFlag || playedFlag || transferredFlag || marks; }

    void applyTo(tagVoiceHeader& header) const
    {
        if (memo) {
            std::memset(header.memo, 0, sizeof header.memo);
            std::memcpy(header.memo, memo->constData(), size_t(memo->size()));
        }
        if (protectFlag)
            header.protectFlag = *protectFlag;
        if (playedFlag)
            header.playedFlag = *playedFlag;
        if (transferredFlag)
            header.transferredFlag = *transferredFlag;
        if (marks) {
            std::memcpy(header.indexMarks, marks->data(), sizeof header.indexMarks);
            NormalizeIndexMarks(header);
        }
    }
};

// "on" writes the flag's set value (2 for played, 1 for the others), "off" 0.
std::optional<uint8_t> flagValue(const QString& text, uint8_t setValue, QString* error)
{
    if (text == QStringLiteral("on"))
        return setValue;
    if (text == QStringLiteral("off"))
        return uint8_t(0);
    *error = QStringLiteral("edit: %1 is neither on nor off").arg(text);
    return std::nullopt;
}

// Up to five whole seconds separated by commas; an empty text clears every slot.
std::optional<std::array<uint32_t, kIndexMarkCount>> marksValue(const QString& text, QString* error)
{
    std::array<uint32_t, kIndexMarkCount> marks;
    marks.fill(kEmptyIndexMark);
    const QStringList values = text.isEmpty() ? QStringList() : text.split(u',');
    if (values.size() > kIndexMarkCount) {
        *error = QStringLiteral("edit: at most %1 index marks, not %2")
                     .arg(kIndexMarkCount)
                     .arg(values.size());
        return std::nullopt;
    }
    for (int i = 0; i < values.size(); ++i) {
        const QString& value = values[i];
        // Digits only: no sign, no spaces, nothing toULongLong would also take.
        bool ok = !value.isEmpty();
        for (const QChar c : value)
            ok = ok && c >= u'0' && c <= u'9';
        const qulonglong seconds = ok ? value.toULongLong(&ok) : 0;
        if (!ok || seconds >= kEmptyIndexMark) {
            *error = QStringLiteral("edit: index mark \"%1\" is not a whole number of seconds "
                                    "from 0 to %2")
                         .arg(value)
                         .arg(kEmptyIndexMark - 1);
            return std::nullopt;
        }
        marks[size_t(i)] = uint32_t(seconds);
    }
    return marks;
}

// Changes one file: read the whole header, change the fields asked for, write
// it back. One open, and its lock, lasts from the read to the write, so nobody
// writes in between; the file's times are taken at that open, before anything
// is read, and put back after the write. Prints the header as inspect does,
// or says why not.
bool editFile(const QString& path, const HeaderEdit& edit)
{
    RecordingFile file;
    tagVoiceHeader header;
    VoiceHeaderLookup lookup = VoiceHeaderLookup::OpenFailed;
    if (!file.open(path, RecordingFile::Access::ReadWrite) || !ReadVoiceHeader(file, header, &lookup)) {
        PrintError(QStringLiteral("%1: %2").arg(path, NotARecordingText(file, lookup)));
        return false;
    }
    // Measured before the write: nothing reads the file after it.
    const uint32_t duration = MeasureMp3Duration(file);
    edit.applyTo(header);
    switch (WriteVoiceHeaderInto(file, header)) {
    case HeaderWriteResult::Written:
        break;
    case HeaderWriteResult::OutsideTag:
        PrintError(QStringLiteral("%1: the recording header does not lie inside the file's ID3v2 tag; "
                                  "nothing was written")
                       .arg(path));
        return false;
    case HeaderWriteResult::NotFound:
    case HeaderWriteResult::Failed:
        PrintError(QStringLiteral("%1: the header could not be written").arg(path));
        return false;
    }
    PrintJsonLine(RecordingLine(path, header, duration, file.size(), file.creationTime()));
    return true;
}

} // namespace

int RunEdit(const QStringList& arguments)
{
    HeaderEdit edit;
    QStringList paths;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        QString error;
        bool ok = true;
        if (argument == QStringLiteral("--memo") && hasValue) {
            const Cp932Encoding encoded = UnicodeToCp932(arguments[++i], kMemoBytes);
            if (encoded.ok())
                edit.memo = encoded.bytes;
            else
                error = QStringLiteral("edit: ") + encoded.message();
        } else if (argument == QStringLiteral("--protect") && hasValue) {
            edit.protectFlag = flagValue(arguments[++i], 1, &error);
        } else if (argument == QStringLiteral("--played") && hasValue) {
            edit.playedFlag = flagValue(arguments[++i], 2, &error);
        } else if (argument == QStringLiteral("--transferred") && hasValue) {
            edit.transferredFlag = flagValue(arguments[++i], 1, &error);
        } else if (argument == QStringLiteral("--marks") && hasValue) {
            edit.marks = marksValue(arguments[++i], &error);
        } else if (!argument.startsWith(u'-')) {
            paths.append(argument);
        } else {
            ok = false;
        }
        if (!error.isEmpty()) {
            PrintError(error);
            return 2;
        }
        if (!ok) {
            PrintError(QStringLiteral("edit: bad argument near %1").arg(argument));
            return 2;
        }
    }
    if (paths.isEmpty() || !edit.any()) {
        PrintError(kUsage);
        return 2;
    }
    int status = 0;
    for (const QString& path : paths) {
        if (!editFile(path, edit))
            status = 1;
    }
    return status;
}
