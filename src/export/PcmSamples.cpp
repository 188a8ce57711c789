#include "PcmSamples.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void ToPcm16(const float* samples, size_t count, int16_t* pcm)
{
    size_t i = 0;
#if defined(__SSE2__)
    // Eight at a time, without a branch per sample: the conversion rounds as nearbyint
    // does, and packing saturates to the 16-bit range. Only the top needs clipping first,
    // since a value past the 32-bit range would come out as its lowest value.
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 top = _mm_set1_ps(32767.0f);
    for (; i + 8 <= count; i += 8) {
        const __m128 low = _mm_min_ps(_mm_mul_ps(_mm_loadu_ps(samples + i), scale), top);
        const __m128 high = _mm_min_ps(_mm_mul_ps(_mm_loadu_ps(samples + i + 4), scale), top);
        const __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(low), _mm_cvtps_epi32(high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + i), packed);
    }
#endif
    for (; i < count; ++i) {
        float value = samples[i] * 32768.0f;
        value = value < 32767.0f ? value : 32767.0f; // not a number gives the top too
        value = value > -32768.0f ? value : -32768.0f;
        pcm[i] = int16_t(std::nearbyint(value));
    }
}
