#pragma once

#include <cstdint>
#include <optional>

// One MPEG audio frame header (MPEG-1, MPEG-2 and MPEG-2.5, layers I to III).
struct MpegFrameHeader
{
    int version = 0;         // 10 for MPEG-1, 20 for MPEG-2, 25 for MPEG-2.5
    int layer = 0;           // 1, 2 or 3
    int bitrateKbps = 0;     // 0 for free format
    int sampleRate = 0;
    bool padding = false;
    bool mono = false;
    int frameBytes = 0;      // 0 for free format
    int samplesPerFrame = 0;

    // Offset from the frame start of a Xing or Info header in a layer III frame.
    int xingOffset() const;
    // The size of the smallest frame this stream can have (its lowest bit rate,
    // no padding): no stretch of audio holds more frames than its bytes / this.
    int smallestFrameBytes() const;
    // Frames of one stream share version, layer, rate and channel count (the channel count
    // decides the layout of a layer III frame's side information).
    bool sameStream(const MpegFrameHeader& other) const
    {
        return version == other.version && layer == other.layer && sampleRate == other.sampleRate
               && mono == other.mono;
    }
};

// Parses the four bytes at p; nothing for bytes that are not a valid header.
std::optional<MpegFrameHeader> ParseMpegFrameHeader(const unsigned char* p);
