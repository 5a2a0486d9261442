// ChannelChart: the live view's chart of the twelve tracking channels. Each
// slot shows a PRN box in the colour of the channel's status and, for a
// channel with signal, a bar as high as its C/N0 with the value on it.
//
// Geometry follows the GDI convention: a rectangle (l, t, r, b) covers the
// pixels l..r-1 by t..b-1, its one-pixel outline included.
#pragma once

#include <QColor>
#include <QImage>

#include "ZorvikDll.h"

class QPainter;

// Colours of the four channel statuses: 0 empty (button face), 1 Search,
// 2 Track, 3 PVT. Any other value gets the colour of an empty channel.
QColor StateColors(int status);

namespace ChannelChart {

constexpr int kBitmapWidth = 266;  // 14 columns wider than Image2, none of them used
constexpr int kHeight = 240;       // H, the height of Image2
constexpr int kBaseline = kHeight - 30;
constexpr int kSlotWidth = 18;
constexpr int kSlotPitch = 21;
constexpr int kSlots = 12;

inline QColor FrameColor() {
    return QColor(0, 0, 255);
}
inline QColor BarColor() {
    return QColor(52, 169, 90);
}

// The PRN as the chart and the sky plot label it: one leading space below 10.
QString PrnText(int prn);
// Bar height in pixels: C/N0 x 3.2 with the fraction cut off.
int BarHeight(int cn0);

// Draws one GDI-style rectangle: fill, then a one-pixel outline in pen.
void GdiRectangle(QPainter& painter, int left, int top, int right, int bottom, const QColor& pen,
                  const QColor& fill);
// The font of the off-screen bitmaps (an 8-point sans-serif face, unsmoothed).
QFont BitmapFont();

// Empty frame and PRN box of one slot.
void DrawChannelFrame(QPainter& painter, int slot);
// PRN box, bar, cap and C/N0 label of one slot (nothing for status 0).
void DrawChannelBar(QPainter& painter, int slot, int status, int prn, int cn0);

// The chart with twelve empty frames. A null image if it cannot be made.
QImage RenderEmpty();
// The chart of the twelve channels of info, in channel order or, with
// by_prn, from the PRN-ordered columns.
QImage Render(const ParseNMEAInfo& info, bool by_prn);

}  // namespace ChannelChart
