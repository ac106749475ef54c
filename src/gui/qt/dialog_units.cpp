#include "gui/qt/dialog_units.h"

#include <cmath>

namespace {
constexpr double kPixelsPerUnitX = 1.515;
constexpr double kPixelsPerUnitY = 13.0 / 8.0;
} // namespace

QRect DialogUnitsToPixels(int x, int y, int w, int h) {
    const int left = static_cast<int>(std::lround(x * kPixelsPerUnitX));
    const int top = static_cast<int>(std::lround(y * kPixelsPerUnitY));
    const int right = static_cast<int>(std::lround((x + w) * kPixelsPerUnitX));
    const int bottom = static_cast<int>(std::lround((y + h) * kPixelsPerUnitY));
    return QRect(left, top, right - left, bottom - top);
}
