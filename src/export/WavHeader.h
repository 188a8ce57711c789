#pragma once

#include <QByteArray>
#include <cstdint>

// The 44-byte header of a RIFF/WAVE file of 16-bit PCM.
QByteArray WavHeader(int sampleRate, int channels, int64_t frames);
