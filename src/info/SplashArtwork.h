#pragma once

#include <QImage>

// The splash window's artwork, drawn by the program itself: a 600 × 359
// picture and its shape mask (black pixels belong to the window).
inline constexpr int kSplashWidth = 600;
inline constexpr int kSplashHeight = 359;

QImage SplashPicture();
QImage SplashMask();
