#pragma once

#include <cstddef>
#include <cstdint>

// Decoded samples as 16-bit PCM: full scale (1.0) is 32768, values beyond the 16-bit
// range are clipped, and the rest rounded to the nearest step (ties to even).
void ToPcm16(const float* samples, size_t count, int16_t* pcm);
