// The faces the windows are drawn in. Their pixel layout was made for Arial's
// metrics; where Arial is not installed, Liberation Sans (same metrics) takes
// its place, asked for by name rather than left to the system's fallback.
#pragma once

#include <QFont>

namespace Fonts {

// Makes "Arial" and "MS Sans Serif" resolve to a face with Arial's metrics
// wherever a window asks for them, and makes the forms' face the default of
// every window; called once before any window is made.
void Install();

QFont Arial(int pixel_size, QFont::Weight weight = QFont::Normal);
// A point size of -1 keeps the application's default size.
QFont ArialPoints(int point_size, QFont::Weight weight = QFont::Normal);
QFont ArialBlack(int pixel_size);
QFont SansSerif(int pixel_size);

}  // namespace Fonts
