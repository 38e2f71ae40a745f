#pragma once

// Shapes of the two colour-keyed windows. The red colour key is derived
// from the same numbers as the drawn rim, so the see-through edge and the
// metal that follows it never disagree.

#include <QImage>
#include <QPainterPath>
#include <QPolygonF>

#include <vector>

namespace artgen::outline {

// Keyboard window, 714 x 192: a rounded top-right corner, and below the
// control panel the body ends further left, beside the keys.
inline constexpr int keyboardWidth = 714;
inline constexpr int keyboardHeight = 192;
inline constexpr int keyboardLowerRight = 679;  // first column cut away below the step
inline constexpr int keyboardStepY = 90;        // the control panel's lower edge
inline constexpr double keyboardTopRadius = 36.0;
inline constexpr double keyboardStepRadius = 9.0;    // convex corner where the panel ends
inline constexpr double keyboardFilletRadius = 7.0;  // concave fillet into the key bed
inline constexpr int keyboardRedPixels = 3858;

// Body outline moved inwards by `inset` pixels.
QPainterPath keyboardPath(double inset);
// For each device row of a picture at `scale`, the first device column
// that lies outside the shaped body.
std::vector<int> keyboardFirstOutsideColumn(double scale = 1.0);

// Patch selection window, 310 x 321: a title tab at the top left stands
// 10 rows above the rest of the top edge; chamfered corners and a long
// wedge along the upper left edge.
inline constexpr int patchWidth = 310;
inline constexpr int patchHeight = 321;
inline constexpr int patchWindowsWidth = 311;
inline constexpr int patchWindowsHeight = 324;
inline constexpr int patchRedPixels = 2591;

QPolygonF patchPolygon(double inset);
QPainterPath patchPath(double inset);
// True where the centre of device pixel (x, y) of a picture at `scale`
// lies outside the shaped outline.
bool patchOutside(int x, int y, double scale = 1.0);

// Overwrites every pixel outside the shape with pure red, without
// antialiasing: the colour key must be exact. The picture's device pixel
// ratio says at which scale it was drawn.
void applyKeyboardColourKey(QImage &rgb888);
void applyPatchColourKey(QImage &rgb888);

// How many device pixels of a picture at `scale` lie outside each shape.
int keyboardOutsidePixels(double scale);
int patchOutsidePixels(double scale);

} // namespace artgen::outline
