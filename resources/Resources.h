#pragma once

// The pictures and font names built into the program: named bitmaps that
// the windows swap at run time, the pictures placed by the window layouts,
// the splash JPEG and the application icon.
//
// Every named and layout picture is drawn three times: for screens at 1×,
// 1.5× and 2×, each at ceil(catalogue size × ratio) device pixels. A screen
// scaled between two of those gets the next larger drawing scaled down.

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QStringList>
#include <QStringView>

namespace tastavia::resources {

// The named bitmap as 24-bit RGB (QImage::Format_RGB888). Names are
// case-sensitive ("Logo" included); an unknown name gives a null image.
QImage namedBitmap(QStringView name);
// The named bitmap for a screen of the given device pixel ratio: the
// drawing made for that ratio, with its devicePixelRatio() set so that its
// logical size is the catalogue size. A ratio of 1 or less gives the 1×
// picture; one between the drawn ratios the next larger drawing scaled down
// smoothly to ceil(size × ratio); one above 2 the 2× drawing scaled up.
// Pure red (the colour key) stays exactly where the outline puts it.
QImage namedBitmap(QStringView name, qreal devicePixelRatio);

// A picture embedded in a window layout, by "<window class>.<component>":
// "TKeyboard.ImgBkg", "TKeyboard.BlackKey", "TKeyboard.ImgLogo",
// "TPatchSelect.PatchBackground", "TADPlayer.ImgBkg". Null when unknown.
QImage formPicture(QStringView name);
// The same for a screen of the given device pixel ratio, as namedBitmap.
QImage formPicture(QStringView name, qreal devicePixelRatio);

// The splash picture, exactly as stored: a baseline JPEG stream.
QByteArray splashJpeg();
// The splash picture drawn at twice its size (1240 × 554), for screens
// scaled above 1×; also a baseline JPEG stream.
QByteArray splashJpegAt2x();

// The application icon at 16, 32, 48 and 64 pixels.
QIcon applicationIcon();

// Every name that namedBitmap() knows, in catalogue order.
QStringList namedBitmapNames();

// Maps the Windows font names the program asks for onto the installed CJK
// fonts, so that no Chinese text is drawn as empty boxes. Safe to call
// more than once.
void installFontSubstitutions();

} // namespace tastavia::resources
