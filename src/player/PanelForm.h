#pragma once

#include <QRect>
#include <QtMath>

// The panel keeps the proportions of its form, laid out in dialog units of
// 1.5 pixels across and 1.625 pixels down (the form is 559 × 138 units).
inline QRect FormRect(int x, int y, int width, int height)
{
    const auto across = [](int units) { return qRound(units * 1.5); };
    const auto down = [](int units) { return qRound(units * 1.625); };
    return QRect(across(x), down(y), across(width), down(height));
}
