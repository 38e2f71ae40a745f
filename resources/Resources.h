#pragma once

// The pictures and font names built into the program: named bitmaps that
// the windows swap at run time, the pictures placed by the window layouts,
// the splash JPEG and the application icon.

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QStringList>
#include <QStringView>

namespace tastavia::resources {

// The named bitmap as 24-bit RGB (QImage::Format_RGB888). Names are
// case-sensitive ("Logo" included); an unknown name gives a null image.
QImage namedBitmap(QStringView name);

// A picture embedded in a window layout, by "<window class>.<component>":
// "TKeyboard.ImgBkg", "TKeyboard.BlackKey", "TKeyboard.ImgLogo",
// "TPatchSelect.PatchBackground", "TADPlayer.ImgBkg". Null when unknown.
QImage formPicture(QStringView name);

// The splash picture, exactly as stored: a baseline JPEG stream.
QByteArray splashJpeg();

// The application icon at 16, 32, 48 and 64 pixels.
QIcon applicationIcon();

// Every name that namedBitmap() knows, in catalogue order.
QStringList namedBitmapNames();

// Maps the Windows font names the program asks for onto the installed CJK
// fonts, so that no Chinese text is drawn as empty boxes. Safe to call
// more than once.
void installFontSubstitutions();

} // namespace tastavia::resources
