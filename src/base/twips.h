#pragma once

#include <QRect>

namespace kiku {

// The windows were laid out in twips (1/1440 inch); at 96 dpi that is 15 twips per pixel.
// Every designed position goes through here, so the scale is decided in one place.
inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(double twips) {
    const double pixels = twips / kTwipsPerPixel;
    return int(pixels < 0 ? pixels - 0.5 : pixels + 0.5);
}

inline QRect twipsRect(double left, double top, double width, double height) {
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

} // namespace kiku
