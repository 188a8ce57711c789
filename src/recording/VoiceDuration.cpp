#include "VoiceDuration.h"

#include "MpegFrameHeader.h"
#include "RecordingFile.h"

#include <cstring>
#include <optional>

bool g_bNoAudioOutput = false;

namespace {

// Junk allowed between the tag and the first frame before giving up.
constexpr int64_t kMaxSyncSearch = 65536;

uint32_t bigEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// The position after the ID3v2 tag or tags at the start of the file.
int64_t audioStart(RecordingFile& file)
{
    int64_t start = 0;
    unsigned char tag[10];
    while (file.readAt(start, tag, sizeof tag) == sizeof tag && std::memcmp(tag, "ID3", 3) == 0) {
        if ((tag[6] | tag[7] | tag[8] | tag[9]) & 0x80)
            break;
        const int64_t size = int64_t(tag[6]) << 21 | int64_t(tag[7]) << 14 | int64_t(tag[8]) << 7 | tag[9];
        const bool footer = tag[3] >= 4 && (tag[5] & 0x10);
        start += 10 + size + (footer ? 10 : 0);
    }
    return start;
}

// What a Xing/Info or VBRI header in the first frame tells: the frame count (0 when there is
// none) and the samples that the encoder's extension of an Info frame marks as its delay and
// padding, which a gapless decoder leaves out.
struct FrameCount
{
    uint32_t frames = 0;
    uint32_t trimmedSamples = 0;
};

FrameCount vbrFrameCount(RecordingFile& file, int64_t frameStart, const MpegFrameHeader& h)
{
    if (h.layer != 3)
        return {};
    unsigned char xing[12];
    const int64_t at = frameStart + h.xingOffset();
    if (file.readAt(at, xing, sizeof xing) == sizeof xing
        && (std::memcmp(xing, "Xing", 4) == 0 || std::memcmp(xing, "Info", 4) == 0)) {
        const uint32_t flags = bigEndian32(xing + 4);
        if (!(flags & 1))
            return {};
        FrameCount count{bigEndian32(xing + 8), 0};
        // After the frame count: the byte count, the table of contents and the quality, each
        // where its flag says so; then the encoder's extension, its delay and padding 12 bits each.
        const int64_t extension = at + 12 + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
        unsigned char lame[24];
        if (file.readAt(extension, lame, sizeof lame) == sizeof lame && std::memcmp(lame, "LAME", 4) == 0)
            count.trimmedSamples = (uint32_t(lame[21]) << 4 | lame[22] >> 4) + (uint32_t(lame[22] & 0x0f) << 8 | lame[23]);
        return count;
    }
    unsigned char vbri[18];
    if (file.readAt(frameStart + 36, vbri, sizeof vbri) == sizeof vbri
        && std::memcmp(vbri, "VBRI", 4) == 0)
        return {bigEndian32(vbri + 14), 0};
    return {};
}

// The audio's first frame and what it tells, or nothing for a file that is no MPEG audio.
struct AudioMeasure
{
    MpegFrameHeader header;
    FrameCount count;      // frames 0: none, or one that cannot be
    uint64_t audioBytes = 0;
};

std::optional<AudioMeasure> measureAudio(RecordingFile& file)
{
    const int64_t start = audioStart(file);
    const int64_t fileSize = file.size();
    for (int64_t position = start; position < start + kMaxSyncSearch; ++position) {
        unsigned char bytes[4];
        if (file.readAt(position, bytes, 4) < 4)
            return std::nullopt;
        const auto header = ParseMpegFrameHeader(bytes);
        if (!header || header->frameBytes == 0)
            continue;
        // A frame counts as the start of the audio when the next one follows it
        // (or the file ends there), which rules out sync patterns in junk.
        unsigned char next[4];
        if (file.readAt(position + header->frameBytes, next, 4) == 4) {
            const auto nextHeader = ParseMpegFrameHeader(next);
            if (!nextHeader || !nextHeader->sameStream(*header))
                continue;
        }
        // A count that claims more frames than the audio bytes can hold (a
        // damaged or hostile header) would give a duration of years: the file
        // is then measured as one without a count.
        AudioMeasure measure{*header, vbrFrameCount(file, position, *header), uint64_t(fileSize - position)};
        const uint64_t capacity = measure.audioBytes / uint64_t(header->smallestFrameBytes());
        if (measure.count.frames > capacity)
            measure.count = {};
        return measure;
    }
    return std::nullopt;
}

} // namespace

int64_t AudioStart(RecordingFile& file)
{
    return audioStart(file);
}

uint32_t MeasureMp3Duration(RecordingFile& file)
{
    const std::optional<AudioMeasure> m = measureAudio(file);
    if (!m)
        return 0;
    if (m->count.frames > 0)
        return uint32_t(uint64_t(m->count.frames) * uint64_t(m->header.samplesPerFrame) / uint64_t(m->header.sampleRate));
    return uint32_t(m->audioBytes * 8 / (uint64_t(m->header.bitrateKbps) * 1000));
}

int64_t MeasureMp3Microseconds(RecordingFile& file)
{
    const std::optional<AudioMeasure> m = measureAudio(file);
    if (!m)
        return 0;
    if (m->count.frames > 0) {
        const uint64_t samples = uint64_t(m->count.frames) * uint64_t(m->header.samplesPerFrame);
        const uint64_t decoded = samples > m->count.trimmedSamples ? samples - m->count.trimmedSamples : 0;
        return int64_t(decoded * 1000000 / uint64_t(m->header.sampleRate));
    }
    return int64_t(m->audioBytes * 8000 / uint64_t(m->header.bitrateKbps));
}

uint32_t GetVoiceDuration(const QString& path)
{
    RecordingFile file;
    if (!file.open(path, RecordingFile::Access::Read))
        return 0;
    return MeasureMp3Duration(file);
}
