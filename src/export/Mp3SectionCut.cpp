#include "Mp3SectionCut.h"

#include "recording/RecordingFile.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// Frames after the first one whose reservoir may reach back into it: a frame's data
// begins at most 511 bytes back, and every frame carries a few dozen bytes at least.
constexpr int64_t kReservoirLookahead = 24;

class BitReader
{
public:
    explicit BitReader(const unsigned char* bytes) : m_bytes(bytes) {}
    int read(int bits)
    {
        int value = 0;
        for (int i = 0; i < bits; ++i, ++m_bit)
            value = value << 1 | ((m_bytes[m_bit / 8] >> (7 - m_bit % 8)) & 1);
        return value;
    }
    void skip(int bits) { m_bit += bits; }

private:
    const unsigned char* m_bytes;
    int m_bit = 0;
};

// One frame as read from the file, with what its side information says.
struct Frame
{
    QByteArray bytes;
    int headerBytes = 4;    // with the CRC when there is one
    int sideBytes = 0;
    int mainDataBegin = 0;  // bytes back into earlier frames' data
    int mainDataBytes = 0;  // the frame's own data (its granules' bits, rounded up)
    int payloadBytes() const { return int(bytes.size()) - headerBytes - sideBytes; }
    const char* payload() const { return bytes.constData() + headerBytes + sideBytes; }
};

class FrameReader
{
public:
    FrameReader(RecordingFile& file, const Mp3FrameIndex& index) : m_file(file), m_index(index) {}

    std::optional<Frame> frame(int64_t number)
    {
        const int64_t position = m_index.offsets[size_t(number)];
        Frame f;
        f.bytes.resize(qsizetype(m_index.offsets[size_t(number) + 1] - position));
        if (m_file.readAt(position, f.bytes.data(), size_t(f.bytes.size())) != size_t(f.bytes.size()))
            return std::nullopt;
        const auto* b = reinterpret_cast<const unsigned char*>(f.bytes.constData());
        const bool mpeg1 = m_index.format.version == 10;
        const bool mono = m_index.format.mono;
        const int channels = mono ? 1 : 2;
        f.headerBytes = (b[1] & 1) ? 4 : 6;
        f.sideBytes = m_index.format.xingOffset() - 4;
        if (f.bytes.size() < f.headerBytes + f.sideBytes)
            return std::nullopt;
        BitReader bits(b + f.headerBytes);
        f.mainDataBegin = bits.read(mpeg1 ? 9 : 8);
        bits.skip(mpeg1 ? (mono ? 5 : 3) + 4 * channels : (mono ? 1 : 2));
        int dataBits = 0;
        for (int granule = 0; granule < (mpeg1 ? 2 : 1); ++granule) {
            for (int channel = 0; channel < channels; ++channel) {
                dataBits += bits.read(12);
                bits.skip(mpeg1 ? 59 - 12 : 63 - 12);
            }
        }
        f.mainDataBytes = (dataBits + 7) / 8;
        // A frame's data ends within its own payload; side information that says
        // otherwise is damaged, and following it would read beyond the frame.
        if (f.mainDataBytes > f.mainDataBegin + f.payloadBytes())
            return std::nullopt;
        return f;
    }

    // length bytes of the data stream (the frames' payloads one after the other) that
    // end back bytes before the end of frame number's payload.
    std::optional<QByteArray> streamBytes(int64_t number, int back, int length)
    {
        if (back < 0 || length < 0)
            return std::nullopt;
        QByteArray bytes;
        int skip = back;
        for (int64_t n = number; n >= 0 && bytes.size() < length; --n) {
            const auto f = frame(n);
            if (!f)
                return std::nullopt;
            int available = f->payloadBytes() - skip;
            if (available <= 0) {
                skip = -available;
                continue;
            }
            const int take = std::min<int>(available, length - int(bytes.size()));
            bytes.prepend(f->payload() + available - take, take);
            skip = 0;
        }
        if (bytes.size() < length)
            return std::nullopt;
        return bytes;
    }

private:
    RecordingFile& m_file;
    const Mp3FrameIndex& m_index;
};

uint16_t crc16(const unsigned char* p, size_t size)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

void putBigEndian32(unsigned char* p, uint32_t value)
{
    p[0] = uint8_t(value >> 24);
    p[1] = uint8_t(value >> 16);
    p[2] = uint8_t(value >> 8);
    p[3] = uint8_t(value);
}

// A header of the stream without CRC or padding whose frame holds at least minimumBytes:
// at the bit rate preferredKbps when that one does (the stream's own, so that a stream of
// one bit rate keeps it), else at the smallest that does; empty when none does.
QByteArray headerFor(const MpegFrameHeader& format, int minimumBytes, int preferredKbps = 0)
{
    const int versionBits = format.version == 10 ? 3 : format.version == 20 ? 2 : 0;
    const int base = format.sampleRate * (format.version == 10 ? 1 : format.version == 20 ? 2 : 4);
    const int rateIndex = base == 44100 ? 0 : base == 48000 ? 1 : 2;
    QByteArray smallest;
    for (int bitrate = 1; bitrate < 15; ++bitrate) {
        const unsigned char h[4] = {0xFF, uint8_t(0xE0 | versionBits << 3 | (4 - format.layer) << 1 | 1),
                                    uint8_t(bitrate << 4 | rateIndex << 2), uint8_t(format.mono ? 0xC0 : 0x40)};
        const auto parsed = ParseMpegFrameHeader(h);
        if (!parsed || parsed->frameBytes < minimumBytes)
            continue;
        const QByteArray header(reinterpret_cast<const char*>(h), 4);
        if (parsed->bitrateKbps == preferredKbps)
            return header;
        if (smallest.isEmpty())
            smallest = header;
    }
    return smallest;
}

int bitrateOf(const QByteArray& header)
{
    return ParseMpegFrameHeader(reinterpret_cast<const unsigned char*>(header.constData()))->bitrateKbps;
}

int frameBytesOf(const QByteArray& header)
{
    return ParseMpegFrameHeader(reinterpret_cast<const unsigned char*>(header.constData()))->frameBytes;
}

// The frame rebuilt to hold its own data: its side information with no reservoir,
// its data, and at the end the last reach bytes of the data stream up to its end,
// which the frames after it take from their reservoir. Empty when no frame is large enough.
QByteArray selfContained(FrameReader& reader, const MpegFrameHeader& format, const Frame& frame,
                         int64_t number, int reach, int preferredKbps)
{
    const int ownStart = frame.payloadBytes() + frame.mainDataBegin; // back from the payload's end
    const auto own = reader.streamBytes(number, ownStart - frame.mainDataBytes, frame.mainDataBytes);
    const auto tail = reader.streamBytes(number, 0, reach);
    const QByteArray header =
        headerFor(format, 4 + frame.sideBytes + frame.mainDataBytes + reach, preferredKbps);
    if (!own || !tail || header.isEmpty())
        return {};
    QByteArray rebuilt(frameBytesOf(header), '\0');
    std::memcpy(rebuilt.data(), header.constData(), 4);
    // Keep the original channel mode and its extension (joint stereo), private and copy bits.
    rebuilt[3] = frame.bytes[3];
    rebuilt[2] = char((uchar(rebuilt[2]) & 0xFE) | (uchar(frame.bytes[2]) & 0x01));
    std::memcpy(rebuilt.data() + 4, frame.bytes.constData() + frame.headerBytes, size_t(frame.sideBytes));
    // No reservoir: main_data_begin (the side information's first 9 or 8 bits) is 0.
    auto* side = reinterpret_cast<unsigned char*>(rebuilt.data() + 4);
    side[0] = 0;
    if (format.version == 10)
        side[1] &= 0x7F;
    std::memcpy(rebuilt.data() + 4 + frame.sideBytes, own->constData(), size_t(own->size()));
    std::memcpy(rebuilt.data() + rebuilt.size() - reach, tail->constData(), size_t(reach));
    return rebuilt;
}

} // namespace

bool Mp3SectionCut::plan(RecordingFile& file, const Mp3FrameIndex& index, int64_t beginSample,
                         int64_t endSample)
{
    const int64_t length = index.gaplessSamples();
    beginSample = std::clamp<int64_t>(beginSample, 0, length);
    endSample = std::clamp<int64_t>(endSample, 0, length);
    if (endSample <= beginSample || index.frameCount() == 0)
        return false;
    const MpegFrameHeader& format = index.format;
    const int64_t spf = format.samplesPerFrame;
    const int64_t rawBegin = beginSample + index.gaplessStart();
    const int64_t rawEnd = endSample + index.gaplessStart();
    const int64_t spanFirst = rawBegin / spf;
    endFrame = std::min<int64_t>((rawEnd + spf - 1) / spf, index.frameCount());

    // The frames before the span: two granules, no more, so that the lead-in a gapless
    // decoder drops stays near an encoder's own. A cut within the first 529 samples
    // needs one silent frame before, for the decoder's own delay.
    const int64_t overlap = format.version == 10 ? 1 : 2;
    const int64_t first = std::max<int64_t>(0, spanFirst - overlap);
    const int silentFrames = first == 0 && rawBegin < Mp3FrameIndex::kDecoderDelay ? 1 : 0;

    FrameReader reader(file, index);
    const auto head = reader.frame(first);
    if (!head)
        return false;
    QByteArray rebuilt;
    if (head->mainDataBegin > 0) {
        // How far the next frames reach back into this one's payload.
        int reach = 0, between = 0;
        for (int64_t n = first + 1; n < std::min(endFrame, first + 1 + kReservoirLookahead); ++n) {
            const auto f = reader.frame(n);
            if (!f)
                return false;
            reach = std::max(reach, f->mainDataBegin - between);
            between += f->payloadBytes();
        }
        rebuilt = selfContained(reader, format, *head, first, std::max(0, reach),
                                index.bitrates[size_t(first + 1 < endFrame ? first + 1 : first)]);
        if (rebuilt.isEmpty())
            return false;
    }
    firstFrame = rebuilt.isEmpty() ? first : first + 1;

    const int copiedKbps = index.bitrates[size_t(firstFrame < endFrame ? firstFrame : first)];
    const QByteArray silentHeader = headerFor(format, format.xingOffset(), copiedKbps);
    // Info, flags, frames, bytes, table of contents, quality, then the 36-byte extension;
    // a decoder reads the extension only from a frame with room to spare after it.
    const int tagEnd = format.xingOffset() + 8 + 8 + 100 + 4 + 36;
    const QByteArray infoHeader = headerFor(format, tagEnd + 120, copiedKbps);
    if (silentHeader.isEmpty() || infoHeader.isEmpty())
        return false;
    // "Info" tells a player that every frame has one bit rate (it may then work out times
    // from byte positions); "Xing" that the rates vary.
    int commonKbps = 0;
    bool oneBitrate = true;
    const auto note = [&](int kbps) {
        oneBitrate = oneBitrate && (commonKbps == 0 || kbps == commonKbps);
        commonKbps = kbps;
    };
    if (silentFrames > 0)
        note(bitrateOf(silentHeader));
    if (!rebuilt.isEmpty())
        note(bitrateOf(rebuilt));
    if (firstFrame < endFrame) {
        note(copiedKbps);
        oneBitrate = oneBitrate && index.constantBitrate(firstFrame, endFrame);
    }
    QByteArray silent(frameBytesOf(silentHeader), '\0');
    std::memcpy(silent.data(), silentHeader.constData(), 4);
    QByteArray before;
    for (int i = 0; i < silentFrames; ++i)
        before += silent;
    before += rebuilt;

    const int64_t startInExport = rawBegin - first * spf + silentFrames * spf;
    const int64_t audioFrames = endFrame - first + silentFrames;
    const int64_t endInExport = startInExport + (endSample - beginSample);
    delay = int(startInExport - Mp3FrameIndex::kDecoderDelay);
    padding = int(audioFrames * spf + Mp3FrameIndex::kDecoderDelay - endInExport);
    samples = endSample - beginSample;

    const int infoBytes = frameBytesOf(infoHeader);
    const int64_t totalBytes = infoBytes + before.size() + sourceBytes(index);
    QByteArray info(infoBytes, '\0');
    auto* p = reinterpret_cast<unsigned char*>(info.data());
    std::memcpy(p, infoHeader.constData(), 4);
    unsigned char* x = p + format.xingOffset();
    std::memcpy(x, oneBitrate ? "Info" : "Xing", 4);
    putBigEndian32(x + 4, 0x0F);
    putBigEndian32(x + 8, uint32_t(audioFrames)); // the Info frame itself not counted
    putBigEndian32(x + 12, uint32_t(totalBytes));
    // Table of contents: where each hundredth of the frames starts, in 256ths of the bytes.
    const int64_t base = index.offsets[size_t(firstFrame)];
    for (int i = 0; i < 100; ++i) {
        const int64_t frame = firstFrame + (endFrame - firstFrame) * i / 100;
        const int64_t at = infoBytes + before.size() + (index.offsets[size_t(frame)] - base);
        x[16 + i] = uint8_t(std::min<int64_t>(255, at * 256 / totalBytes));
    }
    unsigned char* lame = x + 16 + 100 + 4;
    std::memcpy(lame, "LAME3.100", 9);
    lame[21] = uint8_t(delay >> 4);
    lame[22] = uint8_t((delay & 0x0F) << 4 | padding >> 8);
    lame[23] = uint8_t(padding);
    putBigEndian32(lame + 28, uint32_t(totalBytes));
    const uint16_t tagCrc = crc16(p, size_t(lame + 34 - p));
    lame[34] = uint8_t(tagCrc >> 8);
    lame[35] = uint8_t(tagCrc);
    leading = info + before;
    return true;
}
