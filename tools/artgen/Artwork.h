#pragma once

// Every picture of the program, drawn from code. Each function returns
// finished 24-bit pictures (or, for the icon, ARGB) keyed by the name the
// program looks them up by.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <map>

namespace artgen {

using PictureSet = std::map<QString, QImage>;

// BACKGROUND_NT/_WINDOWS, keys, command switches, dial, logo, the 32
// quick-patch pictures, and the designed black key under its form name
// "blackkey_designed".
PictureSet drawKeyboardWindow();
// PATCHBACKGROUND_NT/_WINDOWS and the OK, Cancel and Apply buttons.
PictureSet drawPatchWindow();
// ADBACKGROUND and its three page buttons.
PictureSet drawAdvertWindow();

QImage drawSplash();
QImage drawIcon(int size);

// Baseline JPEG through libjpeg, so the bytes do not depend on which image
// plugins Qt happens to have.
QByteArray encodeBaselineJpeg(const QImage &image, int quality);

} // namespace artgen
