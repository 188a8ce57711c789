#include "MpegFrameHeader.h"

namespace {

// Bit rates in kbit/s by [MPEG-1 ? 0 : 1][layer - 1][index].
constexpr int kBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1}},
};

constexpr int kSampleRatesMpeg1[3] = {44100, 48000, 32000};

int bitrateOf(int version, int layer, int index)
{
    return kBitrates[version == 10 ? 0 : 1][layer - 1][index];
}

int frameBytesOf(const MpegFrameHeader& h, int bitrateKbps, bool padding)
{
    const int bitsPerSecond = bitrateKbps * 1000;
    if (h.layer == 1)
        return (12 * bitsPerSecond / h.sampleRate + (padding ? 1 : 0)) * 4;
    return h.samplesPerFrame / 8 * bitsPerSecond / h.sampleRate + (padding ? 1 : 0);
}

} // namespace

int MpegFrameHeader::smallestFrameBytes() const
{
    return frameBytesOf(*this, bitrateOf(version, layer, 1), false);
}

int MpegFrameHeader::xingOffset() const
{
    if (version == 10)
        return 4 + (mono ? 17 : 32);
    return 4 + (mono ? 9 : 17);
}

std::optional<MpegFrameHeader> ParseMpegFrameHeader(const unsigned char* p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;

    MpegFrameHeader h;
    h.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    h.layer = 4 - layerBits;
    const bool mpeg1 = h.version == 10;
    h.bitrateKbps = bitrateOf(h.version, h.layer, bitrateIndex);
    h.sampleRate = kSampleRatesMpeg1[rateIndex] / (mpeg1 ? 1 : h.version == 20 ? 2 : 4);
    h.padding = (p[2] >> 1) & 1;
    h.mono = (p[3] >> 6) == 3;
    if (h.layer == 1)
        h.samplesPerFrame = 384;
    else if (h.layer == 3 && !mpeg1)
        h.samplesPerFrame = 576;
    else
        h.samplesPerFrame = 1152;

    if (h.bitrateKbps > 0)
        h.frameBytes = frameBytesOf(h, h.bitrateKbps, h.padding);
    return h;
}
