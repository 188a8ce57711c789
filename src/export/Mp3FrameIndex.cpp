#include "Mp3FrameIndex.h"

#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <functional>
#include <unistd.h>

namespace {

// Junk allowed between the tag and the first frame before giving up.
constexpr int64_t kMaxSyncSearch = 65536;
constexpr size_t kChunkBytes = size_t(1) << 20;
constexpr int64_t kReservedFrames = 200'000;

// Reads the file in large chunks, so that a walk over tens of thousands of frame headers
// costs no more than reading the file once.
class ChunkReader
{
public:
    explicit ChunkReader(RecordingFile& file) : m_file(file) {}
    // The four bytes at position, or nullptr past the end (the file's size at open).
    const unsigned char* header(int64_t position)
    {
        if (position < m_start || position + 4 > m_start + int64_t(m_bytes.size())) {
            m_bytes.resize(kChunkBytes);
            m_start = position;
            m_bytes.resize(read(position));
            if (m_bytes.size() < 4)
                return nullptr;
        }
        return m_bytes.data() + (position - m_start);
    }

private:
    // The whole file passes through here: it is read straight into the chunk, not
    // through the file's own window, which would copy every byte twice.
    size_t read(int64_t position)
    {
        const size_t want = size_t(std::clamp<int64_t>(m_file.size() - position, 0, int64_t(kChunkBytes)));
        size_t done = 0;
        while (done < want) {
            const ssize_t got = ::pread(m_file.descriptor(), m_bytes.data() + done, want - done, position + int64_t(done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += size_t(got);
        }
        return done;
    }

    RecordingFile& m_file;
    std::vector<unsigned char> m_bytes;
    int64_t m_start = 0;
};

uint32_t bigEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// A frame holding a Xing or Info header; reads the LAME extension's delay and padding.
bool readInfoFrame(RecordingFile& file, int64_t position, const MpegFrameHeader& h, int& delay,
                   int& padding)
{
    if (h.layer != 3 || h.frameBytes <= 0)
        return false;
    std::vector<unsigned char> frame(size_t(h.frameBytes));
    if (file.readAt(position, frame.data(), frame.size()) != frame.size())
        return false;
    size_t at = size_t(h.xingOffset());
    if (at + 8 > frame.size()
        || (std::memcmp(&frame[at], "Xing", 4) != 0 && std::memcmp(&frame[at], "Info", 4) != 0))
        return false;
    const uint32_t flags = bigEndian32(&frame[at + 4]);
    at += 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0)
          + ((flags & 8) ? 4 : 0);
    if (at + 24 <= frame.size() && std::memcmp(&frame[at], "LAME", 4) == 0) {
        const unsigned char* p = &frame[at + 21];
        delay = int(p[0]) << 4 | p[1] >> 4;
        padding = (int(p[1]) & 0x0F) << 8 | p[2];
    }
    return true;
}

} // namespace

int64_t Mp3FrameIndex::gaplessSamples() const
{
    if (encoderDelay < 0)
        return rawSamples();
    return std::max<int64_t>(0, rawSamples() - encoderDelay - encoderPadding);
}

bool Mp3FrameIndex::constantBitrate(int64_t first, int64_t end) const
{
    const auto from = bitrates.begin() + first, to = bitrates.begin() + end;
    return std::adjacent_find(from, to, std::not_equal_to<>()) == to;
}

bool Mp3FrameIndex::build(RecordingFile& file, QString* error)
{
    *this = {};
    const int64_t start = AudioStart(file);
    ChunkReader reader(file);
    int64_t position = start;
    std::optional<MpegFrameHeader> first;
    for (; position < start + kMaxSyncSearch; ++position) {
        const unsigned char* bytes = reader.header(position);
        if (!bytes)
            break;
        first = ParseMpegFrameHeader(bytes);
        if (!first || first->frameBytes == 0) {
            first.reset();
            continue;
        }
        // A frame counts when the next one follows it (or the file ends there).
        const unsigned char* next = reader.header(position + first->frameBytes);
        if (next) {
            const auto nextHeader = ParseMpegFrameHeader(next);
            if (!nextHeader || !nextHeader->sameStream(*first)) {
                first.reset();
                continue;
            }
        }
        break;
    }
    if (!first) {
        if (error)
            *error = QStringLiteral("no MPEG audio frames");
        return false;
    }
    if (first->layer != 3) {
        if (error)
            *error = QStringLiteral("not layer III audio");
        return false;
    }
    format = *first;
    int delay = -1, padding = 0;
    if (readInfoFrame(file, position, *first, delay, padding)) {
        encoderDelay = delay;
        encoderPadding = delay < 0 ? 0 : padding;
        position += first->frameBytes;
    }
    // As many frames as the file can hold, up to some hours of them: a file's size says
    // nothing about its frames when most of it is a hole.
    const int64_t room = std::max<int64_t>(0, file.size() - position) / first->smallestFrameBytes() + 1;
    offsets.reserve(size_t(std::min<int64_t>(room, kReservedFrames)));
    bitrates.reserve(offsets.capacity());
    // The frames of a stream have one header or two (with and without the padding byte):
    // each is parsed once.
    uint32_t knownWords[2] = {};
    std::optional<MpegFrameHeader> knownHeaders[2];
    int nextKnown = 0;
    const auto parse = [&](const unsigned char* bytes) {
        const uint32_t word = bigEndian32(bytes);
        for (int i = 0; i < 2; ++i) {
            if (knownHeaders[i] && knownWords[i] == word)
                return knownHeaders[i];
        }
        const std::optional<MpegFrameHeader> parsed = ParseMpegFrameHeader(bytes);
        knownWords[nextKnown] = word;
        knownHeaders[nextKnown] = parsed;
        nextKnown ^= 1;
        return parsed;
    };
    for (;;) {
        const unsigned char* bytes = reader.header(position);
        const auto h = bytes ? parse(bytes) : std::nullopt;
        if (!h || h->frameBytes == 0 || position + h->frameBytes > file.size())
            break;
        if (!h->sameStream(format)) {
            // Another stream follows (files joined together) when its next frame follows
            // it in turn; anything else is junk after the audio.
            const unsigned char* next = reader.header(position + h->frameBytes);
            const auto nextHeader = next ? ParseMpegFrameHeader(next) : std::nullopt;
            if (nextHeader && nextHeader->sameStream(*h)) {
                if (error)
                    *error = QStringLiteral("the stream changes its format");
                return false;
            }
            break;
        }
        offsets.push_back(position);
        bitrates.push_back(uint16_t(h->bitrateKbps));
        position += h->frameBytes;
    }
    offsets.push_back(position);
    if (frameCount() == 0) {
        if (error)
            *error = QStringLiteral("no MPEG audio frames");
        return false;
    }
    return true;
}
