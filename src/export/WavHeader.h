#pragma once

#include <QByteArray>
#include <cstdint>

// The most frames of 16-bit PCM a RIFF/WAVE file can say it holds: its sizes are
// 32 bits wide (some 6.7 hours of 44.1 kHz stereo).
int64_t MaxWavFrames(int channels);

// The 44-byte header of a RIFF/WAVE file of 16-bit PCM; empty for more frames
// than such a file can hold.
QByteArray WavHeader(int sampleRate, int channels, int64_t frames);
