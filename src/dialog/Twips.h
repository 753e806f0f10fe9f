#pragma once

#include <QRect>
#include <QSize>

// Dialog layouts are given in twips (1/1440 inch). At the 96 dpi of Qt's device-independent
// pixels one pixel is 15 twips; Qt scales device-independent pixels on high-dpi screens.
namespace Twips {

inline constexpr int PerPixel = 15;

constexpr int ToPixels(int twips)
{
    return (twips >= 0 ? twips + PerPixel / 2 : twips - PerPixel / 2) / PerPixel;
}

constexpr QSize Size(int width, int height) { return QSize(ToPixels(width), ToPixels(height)); }

constexpr QRect Rect(int left, int top, int width, int height)
{
    return QRect(ToPixels(left), ToPixels(top), ToPixels(width), ToPixels(height));
}

} // namespace Twips
