#include "VoiceDuration.h"

#include "MpegFrameHeader.h"
#include "RecordingFile.h"

#include <cstring>

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

// A frame count from a Xing/Info or VBRI header in the first frame, or 0.
uint32_t vbrFrameCount(RecordingFile& file, int64_t frameStart, const MpegFrameHeader& h)
{
    if (h.layer != 3)
        return 0;
    unsigned char xing[12];
    if (file.readAt(frameStart + h.xingOffset(), xing, sizeof xing) == sizeof xing
        && (std::memcmp(xing, "Xing", 4) == 0 || std::memcmp(xing, "Info", 4) == 0)) {
        return (bigEndian32(xing + 4) & 1) ? bigEndian32(xing + 8) : 0;
    }
    unsigned char vbri[18];
    if (file.readAt(frameStart + 36, vbri, sizeof vbri) == sizeof vbri
        && std::memcmp(vbri, "VBRI", 4) == 0)
        return bigEndian32(vbri + 14);
    return 0;
}

} // namespace

int64_t AudioStart(RecordingFile& file)
{
    return audioStart(file);
}

uint32_t MeasureMp3Duration(RecordingFile& file)
{
    const int64_t start = audioStart(file);
    const int64_t fileSize = file.size();
    for (int64_t position = start; position < start + kMaxSyncSearch; ++position) {
        unsigned char bytes[4];
        if (file.readAt(position, bytes, 4) < 4)
            return 0;
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
        const uint32_t frames = vbrFrameCount(file, position, *header);
        const uint64_t capacity = uint64_t(fileSize - position) / uint64_t(header->smallestFrameBytes());
        if (frames > 0 && frames <= capacity)
            return uint32_t(uint64_t(frames) * uint64_t(header->samplesPerFrame) / uint64_t(header->sampleRate));
        const uint64_t audioBytes = uint64_t(fileSize - position);
        return uint32_t(audioBytes * 8 / (uint64_t(header->bitrateKbps) * 1000));
    }
    return 0;
}

uint32_t GetVoiceDuration(const QString& path)
{
    RecordingFile file;
    if (!file.open(path, RecordingFile::Access::Read))
        return 0;
    return MeasureMp3Duration(file);
}
