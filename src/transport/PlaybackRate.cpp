#include "PlaybackRate.h"

#include <algorithm>
#include <cmath>

namespace {

// Rates are worked in hundredths, so that steps add up exactly.
int hundredths(double rate)
{
    return int(std::lround(rate * 100));
}

} // namespace

double ClampPlaybackRate(double rate)
{
    if (!std::isfinite(rate))
        return 1.0;
    return std::clamp(hundredths(rate), hundredths(kMinPlaybackRate),
                      hundredths(kMaxPlaybackRate)) /
           100.0;
}

double StepPlaybackRate(double rate, double step, int direction)
{
    const int grid = std::max(hundredths(step), 1);
    const int now = hundredths(ClampPlaybackRate(rate));
    // Off the grid, the first step goes to the grid's next point in that direction.
    int next = direction > 0 ? (now / grid + 1) * grid : ((now + grid - 1) / grid - 1) * grid;
    next = std::clamp(next, hundredths(kMinPlaybackRate), hundredths(kMaxPlaybackRate));
    return next / 100.0;
}
