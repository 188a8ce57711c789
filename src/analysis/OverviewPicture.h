#pragma once

#include "LevelEnvelope.h"

#include <vector>

// The envelope reduced to pixel columns: for each column the loudest peak and
// RMS of the stretch of time it covers, as amplitudes from 0 to 1 on a scale
// that shows speech well (60 dB from silence to full scale). Columns beyond what
// the envelope holds so far are empty.
struct OverviewColumns
{
    std::vector<float> peak;
    std::vector<float> rms;
    int filled = 0; // columns the envelope reaches
};

// timelineMilliseconds: the time the full width stands for.
OverviewColumns ReduceToColumns(const LevelEnvelope& envelope, int columns, int64_t timelineMilliseconds);
