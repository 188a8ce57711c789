#pragma once

#include "LevelEnvelope.h"

#include <cstdint>
#include <optional>
#include <vector>

struct SilenceOptions
{
    // A stretch is silent where its RMS stays within this many decibels of the
    // recording's noise floor...
    double thresholdDecibels = 10.0;
    // ...for at least this long.
    int64_t minimumMilliseconds = 2000;
    // How much of a silence is played before speech resumes.
    int64_t leadInMilliseconds = 300;

    static constexpr int64_t kShortestMinimum = 1000;
    static constexpr int64_t kLongestMinimum = 10000;
};

struct Silence
{
    int64_t startMilliseconds = 0;
    int64_t endMilliseconds = 0;
    bool operator==(const Silence&) const = default;
};

// The recording's noise floor: the RMS level that a tenth of its 10 ms stretches
// stay at or below, in level codes, leaving out stretches of exact digital silence.
uint8_t NoiseFloorCode(const LevelEnvelope& envelope);

// The RMS code at or below which a stretch is quiet, or -1 when the recording has no
// quiet stretches to tell apart from loud ones. Quiet is within the threshold of the
// noise floor, provided at least a second in all is louder than that; else, where
// everything that sounds is one level, only exact digital silence is quiet, provided
// a second in all sounds. A recording at one level throughout (room noise alone, a
// tone, silence) thus has no pauses.
int QuietLimitCode(const LevelEnvelope& envelope, const SilenceOptions& options);

// The silent stretches of a recording, in order, none shorter than the minimum.
std::vector<Silence> FindSilences(const LevelEnvelope& envelope, const SilenceOptions& options);

// Where playing at position (ms) jumps to while silence is skipped: the end of the
// silence it is in less the lead-in, or the first stop (an index mark, the section
// end) on the way, whichever comes first. nullopt when nothing is worth skipping.
// stops need not be sorted.
std::optional<int64_t> SkipTarget(const std::vector<Silence>& silences, int64_t position,
                                  const std::vector<int64_t>& stops, int64_t leadIn);

// The places where silence begins and where speech resumes (less the lead-in), in order.
std::vector<int64_t> SilenceBoundaries(const std::vector<Silence>& silences, int64_t leadIn);
// The next boundary after position, or the previous one before it (a boundary just
// passed while playing counts as passed). nullopt when there is none.
std::optional<int64_t> NextSilenceBoundary(const std::vector<Silence>& silences, int64_t position, int64_t leadIn);
std::optional<int64_t> PreviousSilenceBoundary(const std::vector<Silence>& silences, int64_t position,
                                               int64_t leadIn);
