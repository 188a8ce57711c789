#include "VoiceHeader.h"

#include "RecordingFile.h"
#include "ScanCache.h"
#include "platform/Cp932.h"
#include "platform/MessageBoxes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kTagHeaderBytes = 10;
constexpr int kFrameHeaderBytes = 10;

uint32_t littleEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void setLookup(VoiceHeaderLookup* lookup, VoiceHeaderLookup value)
{
    if (lookup)
        *lookup = value;
}

} // namespace

int64_t FindVoiceHeaderBody(RecordingFile& file, VoiceHeaderLookup* lookup)
{
    unsigned char buffer[kFrameHeaderBytes];
    std::memset(buffer, 0, sizeof buffer);
    file.readAt(0, buffer, kTagHeaderBytes);
    if (std::memcmp(buffer, "ID3", 3) != 0) {
        setLookup(lookup, VoiceHeaderLookup::NotTagged);
        return -1;
    }
    int64_t position = kTagHeaderBytes;
    for (;;) {
        if (file.readAt(position, buffer, kFrameHeaderBytes) < size_t(kFrameHeaderBytes)) {
            setLookup(lookup, VoiceHeaderLookup::NoFrame);
            return -1;
        }
        if (std::all_of(buffer, buffer + kFrameHeaderBytes, [](unsigned char b) { return !b; })) {
            // An all-zero header has size 0, so the walk would go on in ten-byte
            // steps until a header holds a byte that is not zero: go straight to
            // that header (or to the end, where the walk would end as well).
            const int64_t nonZero = file.nextNonZero(position);
            position += (nonZero - position) / kFrameHeaderBytes * kFrameHeaderBytes;
            continue;
        }
        position += kFrameHeaderBytes;
        if (std::memcmp(buffer, "XPCC", 4) == 0) {
            setLookup(lookup, VoiceHeaderLookup::Found);
            return position;
        }
        position += int64_t(littleEndian32(buffer + 4));
    }
}

bool ReadVoiceHeader(RecordingFile& file, tagVoiceHeader& header, VoiceHeaderLookup* lookup)
{
    std::memset(&header, 0, sizeof header);
    const int64_t body = FindVoiceHeaderBody(file, lookup);
    if (body < 0)
        return false;
    file.readAt(body, &header, sizeof header);
    return true;
}

bool ReadVoiceHeader(const QString& path, tagVoiceHeader& header, VoiceHeaderLookup* lookup)
{
    std::memset(&header, 0, sizeof header);
    RecordingFile file;
    if (!file.open(path, RecordingFile::Access::Read)) {
        setLookup(lookup, VoiceHeaderLookup::OpenFailed);
        return false;
    }
    return ReadVoiceHeader(file, header, lookup);
}

namespace {

// Whether the 492 bytes at body lie inside the tag's declared size (a syncsafe
// number after the 10-byte tag header) and inside the file. A size that is not
// syncsafe says nothing about where the tag ends.
bool bodyInsideTag(RecordingFile& file, int64_t body)
{
    unsigned char tag[kTagHeaderBytes];
    if (file.readAt(0, tag, sizeof tag) != sizeof tag)
        return false;
    if ((tag[6] | tag[7] | tag[8] | tag[9]) & 0x80)
        return false;
    const int64_t tagSize = int64_t(tag[6]) << 21 | int64_t(tag[7]) << 14 | int64_t(tag[8]) << 7 | tag[9];
    const int64_t bodyEnd = body + int64_t(sizeof(tagVoiceHeader));
    return bodyEnd <= kTagHeaderBytes + tagSize && bodyEnd <= file.size();
}

bool warn()
{
    ShowMessage(VoiceHeaderWriteFailedMessage(), MessageIcon::Warning);
    return false;
}

bool writeHeader(const QString& path, const tagVoiceHeader& header, const FileIdentity* readFrom,
                 HeaderChange change, HeaderSync sync = HeaderSync::Now)
{
    // A header that was read before was found: every failure to write a change
    // of the user's back is news.
    const bool reportRefusals = readFrom && change == HeaderChange::User;
    RecordingFile file;
    if (!file.open(path, RecordingFile::Access::ReadWrite))
        return reportRefusals ? warn() : false;
    if (readFrom && !(file.identity() == *readFrom))
        return reportRefusals ? warn() : false;
    switch (WriteVoiceHeaderInto(file, header, sync)) {
    case HeaderWriteResult::Written:
        if (ScanCache* cache = CurrentScanCache())
            cache->headerWritten(path, file.currentStamp(), header);
        return true;
    case HeaderWriteResult::Failed:
        return false; // warned already
    case HeaderWriteResult::NotFound:
    case HeaderWriteResult::OutsideTag:
        break;
    }
    return reportRefusals ? warn() : false;
}

} // namespace

HeaderWriteResult WriteVoiceHeaderInto(RecordingFile& file, const tagVoiceHeader& header, HeaderSync sync)
{
    const int64_t body = FindVoiceHeaderBody(file);
    if (body < 0)
        return HeaderWriteResult::NotFound;
    if (!bodyInsideTag(file, body))
        return HeaderWriteResult::OutsideTag;
    // A refusal of the times (a file of another owner) only moves the start time
    // the list shows, so it does not make the write a failure.
    const bool written = sync == HeaderSync::Now ? file.writeAtAndSync(body, &header, sizeof header)
                                                 : file.writeAt(body, &header, sizeof header);
    if (written)
        return HeaderWriteResult::Written;
    warn();
    return HeaderWriteResult::Failed;
}

QString VoiceHeaderWriteFailedMessage()
{
    return QStringLiteral("ヘッダが更新できません。書込み禁止になっていないか確認してください。");
}

bool WriteVoiceHeader(const QString& path, const tagVoiceHeader& header)
{
    return writeHeader(path, header, nullptr, HeaderChange::User);
}

bool WriteVoiceHeader(const QString& path, const tagVoiceHeader& header, const FileIdentity& readFrom,
                      HeaderChange change, HeaderSync sync)
{
    return writeHeader(path, header, &readFrom, change, sync);
}

QString VoiceMemoText(const tagVoiceHeader& header)
{
    const char* memo = header.memo;
    int length = int(strnlen(memo, kMemoBytes));
    while (length > 0 && (memo[length - 1] == ' ' || (memo[length - 1] >= '\t' && memo[length - 1] <= '\r')))
        --length;
    return Cp932ToUnicode(QByteArray(memo, length));
}

IndexMarks GetIndexMarks(const tagVoiceHeader& header)
{
    // The marks sit unaligned in the packed header: copy them.
    IndexMarks marks;
    std::memcpy(marks.data(), header.indexMarks, sizeof header.indexMarks);
    return marks;
}

void SetIndexMarks(tagVoiceHeader& header, const IndexMarks& marks)
{
    std::memcpy(header.indexMarks, marks.data(), sizeof header.indexMarks);
}

void NormalizeIndexMarks(tagVoiceHeader& header)
{
    IndexMarks marks = GetIndexMarks(header);
    NormalizeIndexMarks(marks);
    SetIndexMarks(header, marks);
}

void NormalizeIndexMarks(IndexMarks& marks)
{
    for (int i = 0; i < kIndexMarkCount; ++i) {
        if (marks[i] == 0)
            marks[i] = kEmptyIndexMark;
        for (int j = 0; j < i && marks[i] != kEmptyIndexMark; ++j) {
            if (marks[j] == marks[i])
                marks[i] = kEmptyIndexMark;
        }
    }
    std::sort(marks.begin(), marks.end());
}

int CountIndexMarks(const tagVoiceHeader& header)
{
    int count = 0;
    for (int i = 0; i < kIndexMarkCount; ++i) {
        if (header.indexMarks[i] != kEmptyIndexMark)
            ++count;
    }
    return count;
}
