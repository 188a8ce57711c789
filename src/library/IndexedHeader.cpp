#include "IndexedHeader.h"

#include "platform/Cp932.h"

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

IndexedHeader PackHeader(const tagVoiceHeader& header, Cp932Encoder& encoder)
{
    IndexedHeader indexed;
    const int memoLength = int(strnlen(header.memo, kMemoBytes));
    const QByteArray memoBytes(header.memo, memoLength);
    indexed.memo = Cp932ToUnicode(memoBytes);
    bool tailZero = true;
    for (int i = memoLength; i < kMemoBytes && tailZero; ++i)
        tailZero = header.memo[i] == 0;
    tagVoiceHeader copy = header;
    if (tailZero) {
        const Cp932Encoding back = encoder.encode(indexed.memo);
        indexed.memoFromText = back.ok() && back.bytes == memoBytes;
        if (indexed.memoFromText)
            std::memset(copy.memo, 0, kMemoBytes);
    }
    indexed.packed = foldZeros(reinterpret_cast<const unsigned char*>(&copy), int(sizeof copy));
    return indexed;
}

bool UnpackHeader(const IndexedHeader& indexed, Cp932Encoder& encoder, tagVoiceHeader& header)
{
    if (!unfoldZeros(indexed.packed, reinterpret_cast<unsigned char*>(&header), int(sizeof header)))
        return false;
    if (!indexed.memoFromText)
        return true;
    const Cp932Encoding memo = encoder.encode(indexed.memo, kMemoBytes);
    if (!memo.ok())
        return false;
    std::memcpy(header.memo, memo.bytes.constData(), size_t(memo.bytes.size()));
    return true;
}
