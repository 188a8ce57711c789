#include "Silences.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// A jump shorter than this gains nothing a listener would notice.
constexpr int64_t kShortestJump = 200;
// A boundary less than this behind the position is the one just passed.
constexpr int64_t kPassedBoundary = 1000;
// How much of a recording (in 10 ms buckets, one second in all) must be louder than
// its quiet parts for them to count as pauses.
constexpr int64_t kLeastLoudBuckets = 100;

} // namespace

uint8_t NoiseFloorCode(const LevelEnvelope& envelope)
{
    std::array<int64_t, 256> histogram{};
    for (int64_t b = 0; b < envelope.buckets(); ++b)
        ++histogram[envelope.rms(b)];
    // Stretches of exact digital silence (a recorder's gate, a pause the encoder
    // turned into zeros) are silent anyway and say nothing of the room's noise.
    const int64_t sounding = envelope.buckets() - histogram[0];
    if (sounding == 0)
        return 0;
    const int64_t tenth = std::max<int64_t>(sounding / 10, 1);
    int64_t seen = 0;
    for (int code = 1; code < 256; ++code) {
        seen += histogram[size_t(code)];
        if (seen >= tenth)
            return uint8_t(code);
    }
    return 255;
}

int QuietLimitCode(const LevelEnvelope& envelope, const SilenceOptions& options)
{
    const auto louderThan = [&envelope](int limit) {
        int64_t count = 0;
        for (int64_t b = 0; b < envelope.buckets(); ++b)
            count += envelope.rms(b) > limit ? 1 : 0;
        return count;
    };
    const double decibels = std::isfinite(options.thresholdDecibels) ? std::clamp(options.thresholdDecibels, 0.0, 127.5)
                                                                      : SilenceOptions().thresholdDecibels;
    const int threshold = int(decibels * 2.0);
    const int limit = std::min(255, int(NoiseFloorCode(envelope)) + threshold);
    if (louderThan(limit) >= kLeastLoudBuckets)
        return limit;
    // All that sounds lies within the threshold of the floor: the sound is one level,
    // and only exact digital silence is quieter than it.
    if (limit > 0 && louderThan(0) >= kLeastLoudBuckets)
        return 0;
    return -1;
}

std::vector<Silence> FindSilences(const LevelEnvelope& envelope, const SilenceOptions& options)
{
    std::vector<Silence> silences;
    const int64_t buckets = envelope.buckets();
    if (buckets == 0)
        return silences;
    const int limit = QuietLimitCode(envelope, options);
    if (limit < 0)
        return silences;
    const int64_t duration = envelope.durationMilliseconds();
    const auto close = [&](int64_t first, int64_t end) {
        const int64_t start = first * LevelEnvelope::kBucketMilliseconds;
        const int64_t stop = std::min(end * LevelEnvelope::kBucketMilliseconds, duration);
        if (stop - start >= options.minimumMilliseconds)
            silences.push_back({start, stop});
    };
    int64_t runStart = -1;
    for (int64_t b = 0; b < buckets; ++b) {
        const bool quiet = envelope.rms(b) <= limit;
        if (quiet && runStart < 0) {
            runStart = b;
        } else if (!quiet && runStart >= 0) {
            close(runStart, b);
            runStart = -1;
        }
    }
    if (runStart >= 0)
        close(runStart, buckets);
    return silences;
}

std::optional<int64_t> SkipTarget(const std::vector<Silence>& silences, int64_t position,
                                  const std::vector<int64_t>& stops, int64_t leadIn)
{
    const auto in = std::find_if(silences.begin(), silences.end(), [position](const Silence& silence) {
        return silence.startMilliseconds <= position && position < silence.endMilliseconds;
    });
    if (in == silences.end())
        return std::nullopt;
    int64_t target = std::max(in->endMilliseconds - leadIn, in->startMilliseconds);
    for (const int64_t stop : stops) {
        if (stop > position && stop < target)
            target = stop;
    }
    if (target - position < kShortestJump)
        return std::nullopt;
    return target;
}

std::vector<int64_t> SilenceBoundaries(const std::vector<Silence>& silences, int64_t leadIn)
{
    std::vector<int64_t> boundaries;
    for (const Silence& silence : silences) {
        boundaries.push_back(silence.startMilliseconds);
        boundaries.push_back(std::max(silence.endMilliseconds - leadIn, silence.startMilliseconds));
    }
    boundaries.erase(std::unique(boundaries.begin(), boundaries.end()), boundaries.end());
    return boundaries;
}

std::optional<int64_t> NextSilenceBoundary(const std::vector<Silence>& silences, int64_t position, int64_t leadIn)
{
    for (const int64_t boundary : SilenceBoundaries(silences, leadIn)) {
        if (boundary > position)
            return boundary;
    }
    return std::nullopt;
}

std::optional<int64_t> PreviousSilenceBoundary(const std::vector<Silence>& silences, int64_t position,
                                               int64_t leadIn)
{
    const std::vector<int64_t> boundaries = SilenceBoundaries(silences, leadIn);
    for (auto it = boundaries.rbegin(); it != boundaries.rend(); ++it) {
        if (*it < position - kPassedBoundary || (*it == 0 && position > 0))
            return *it;
    }
    return std::nullopt;
}
