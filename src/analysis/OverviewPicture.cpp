#include "OverviewPicture.h"

#include <algorithm>

namespace {

// Levels below -60 dBFS draw as nothing; full scale fills the height.
float heightOf(uint8_t code)
{
    const double db = LevelEnvelope::Decibels(code);
    return float(std::clamp((db + 60.0) / 60.0, 0.0, 1.0));
}

} // namespace

OverviewColumns ReduceToColumns(const LevelEnvelope& envelope, int columns, int64_t timelineMilliseconds)
{
    OverviewColumns result;
    if (columns <= 0)
        return result;
    result.peak.assign(size_t(columns), 0.0f);
    result.rms.assign(size_t(columns), 0.0f);
    const int64_t buckets = envelope.buckets();
    const int64_t timelineBuckets =
        std::max<int64_t>((timelineMilliseconds + LevelEnvelope::kBucketMilliseconds - 1) / LevelEnvelope::kBucketMilliseconds, 1);
    for (int x = 0; x < columns; ++x) {
        const int64_t first = int64_t(x) * timelineBuckets / columns;
        const int64_t last = std::max(first + 1, int64_t(x + 1) * timelineBuckets / columns);
        if (first >= buckets)
            break;
        uint8_t peak = 0, rms = 0;
        for (int64_t b = first; b < std::min(last, buckets); ++b) {
            peak = std::max(peak, envelope.peak(b));
            rms = std::max(rms, envelope.rms(b));
        }
        result.peak[size_t(x)] = heightOf(peak);
        result.rms[size_t(x)] = heightOf(rms);
        result.filled = x + 1;
    }
    return result;
}
