#pragma once

// Every picture of the program, drawn from code. Each function returns
// finished 24-bit pictures (or, for the icon, ARGB) keyed by the name the
// program looks them up by.

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>

#include <map>

namespace artgen {

using PictureSet = std::map<QString, QImage>;

// The screen scales the pictures are drawn for: 1x, 1.5x and 2x.
inline constexpr double pictureScales[] = {1.0, 1.5, 2.0};
inline constexpr double splashScales[] = {1.0, 2.0};

// Every picture comes at `scale` device pixels per logical pixel, with
// that device pixel ratio set.
// BACKGROUND_NT/_WINDOWS, keys, command switches, dial, logo, the 32
// quick-patch pictures, and the designed black key under its form name
// "blackkey_designed".
PictureSet drawKeyboardWindow(double scale);
// PATCHBACKGROUND_NT/_WINDOWS and the OK, Cancel and Apply buttons.
PictureSet drawPatchWindow(double scale);
// ADBACKGROUND and its three page buttons.
PictureSet drawAdvertWindow(double scale);

// The device pixels in which the designed black key differs from
// BLACKKEY_UP: six pixels of its second row, at 1x.
QRect designedGlint(double scale);

QImage drawSplash(double scale);
QImage drawIcon(int size);

// Baseline JPEG through libjpeg, so the bytes do not depend on which image
// plugins Qt happens to have.
QByteArray encodeBaselineJpeg(const QImage &image, int quality);

} // namespace artgen
