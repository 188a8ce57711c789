#include "WavHeader.h"

#include <QtEndian>

namespace {

void put32(QByteArray& bytes, uint32_t value)
{
    char le[4];
    qToLittleEndian(value, le);
    bytes.append(le, 4);
}

void put16(QByteArray& bytes, uint16_t value)
{
    char le[2];
    qToLittleEndian(value, le);
    bytes.append(le, 2);
}

} // namespace

int64_t MaxWavFrames(int channels)
{
    // The RIFF size counts the 36 header bytes after it besides the samples.
    return (int64_t(UINT32_MAX) - 36) / (int64_t(channels) * 2);
}

QByteArray WavHeader(int sampleRate, int channels, int64_t frames)
{
    if (channels <= 0 || frames < 0 || frames > MaxWavFrames(channels))
        return {};
    const uint32_t blockAlign = uint32_t(channels) * 2;
    const uint32_t dataBytes = uint32_t(frames * blockAlign);
    QByteArray header;
    header.reserve(44);
    header.append("RIFF");
    put32(header, 36 + dataBytes);
    header.append("WAVEfmt ");
    put32(header, 16);
    put16(header, 1);
    put16(header, uint16_t(channels));
    put32(header, uint32_t(sampleRate));
    put32(header, uint32_t(sampleRate) * blockAlign);
    put16(header, uint16_t(blockAlign));
    put16(header, 16);
    header.append("data");
    put32(header, dataBytes);
    return header;
}
