#include "IndexedHeader.h"

#include "platform/Cp932.h"

#include <algorithm>
#include <cstring>

namespace {

// Zero runs become a 0 byte followed by the run's length (1 to 255).
QByteArray foldZeros(const unsigned char* bytes, int length)
{
    QByteArray folded;
    folded.reserve(64);
    for (int i = 0; i < length;) {
        if (bytes[i] != 0) {
            folded.append(char(bytes[i++]));
            continue;
        }
        int run = 0;
        while (i < length && bytes[i] == 0 && run < 255) {
            ++i;
            ++run;
        }
        folded.append('\0');
        folded.append(char(run));
    }
    return folded;
}

bool unfoldZeros(const QByteArray& folded, unsigned char* bytes, int length)
{
    int out = 0;
    for (int i = 0; i < folded.size(); ++i) {
        const auto byte = static_cast<unsigned char>(folded[i]);
        if (byte != 0) {
            if (out >= length)
                return false;
            bytes[out++] = byte;
            continue;
        }
        if (++i >= folded.size())
            return false;
        const int run = static_cast<unsigned char>(folded[i]);
        if (run == 0 || out + run > length)
            return false;
        std::memset(bytes + out, 0, size_t(run));
        out += run;
    }
    return out == length;
}

} // namespace

IndexedHeader PackHeader(const tagVoiceHeader& header)
{
    IndexedHeader indexed;
    indexed.memo = Cp932ToUnicode(QByteArray(header.memo, int(strnlen(header.memo, kMemoBytes))));
    int used = kMemoBytes;
    while (used > 0 && header.memo[used - 1] == 0)
        --used;
    indexed.memoBytes = QByteArray(header.memo, used);
    indexed.mode = header.mode;
    indexed.states = header.playedFlag | header.protectFlag << 8 | header.transferredFlag << 16;
    const IndexMarks marks = GetIndexMarks(header);
    if (std::any_of(marks.begin(), marks.end(), [](uint32_t mark) { return mark != kEmptyIndexMark; }))
        indexed.marks = QByteArray(reinterpret_cast<const char*>(marks.data()), int(sizeof marks));

    tagVoiceHeader shared = header;
    shared.mode = 0;
    shared.playedFlag = 0;
    shared.protectFlag = 0;
    shared.transferredFlag = 0;
    std::memset(shared.indexMarks, 0, sizeof shared.indexMarks);
    std::memset(shared.memo, 0, kMemoBytes);
    indexed.templateBytes = foldZeros(reinterpret_cast<const unsigned char*>(&shared), int(sizeof shared));
    return indexed;
}

bool UnfoldTemplate(const QByteArray& templateBytes, tagVoiceHeader& header)
{
    return unfoldZeros(templateBytes, reinterpret_cast<unsigned char*>(&header), int(sizeof header));
}

bool ApplyRecordingFields(const IndexedHeader& indexed, tagVoiceHeader& header)
{
    if (indexed.memoBytes.size() > kMemoBytes)
        return false;
    header.mode = uint8_t(indexed.mode);
    header.playedFlag = uint8_t(indexed.states);
    header.protectFlag = uint8_t(indexed.states >> 8);
    header.transferredFlag = uint8_t(indexed.states >> 16);
    IndexMarks marks;
    if (indexed.marks.isEmpty())
        marks.fill(kEmptyIndexMark);
    else if (indexed.marks.size() == int(sizeof marks))
        std::memcpy(marks.data(), indexed.marks.constData(), sizeof marks);
    else
        return false;
    SetIndexMarks(header, marks);
    std::memset(header.memo, 0, kMemoBytes);
    std::memcpy(header.memo, indexed.memoBytes.constData(), size_t(indexed.memoBytes.size()));
    return true;
}
