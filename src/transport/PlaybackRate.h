#pragma once

// The speeds the player plays at, the voice's pitch kept: 0.5× to 2.0×.
inline constexpr double kMinPlaybackRate = 0.5;
inline constexpr double kMaxPlaybackRate = 2.0;

// The rate one step faster (direction 1) or slower (-1), on the step's grid and
// within the range: 1.03 one step of 0.05 up is 1.05, not 1.08.
double StepPlaybackRate(double rate, double step, int direction);
// The rate within the range, to the hundredth.
double ClampPlaybackRate(double rate);
