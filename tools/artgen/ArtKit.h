#pragma once

// Small drawing vocabulary shared by every picture: the palette, textures
// made from a seeded generator (so every run writes the same bytes), and
// the recesses, bevels and glows that make flat shapes read as hardware.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <functional>

namespace artgen {

namespace palette {
// Lacquered body: near-black with a faint blue-violet tint.
inline const QColor bodyTop{38, 35, 52};
inline const QColor bodyBottom{16, 15, 23};
inline const QColor bodyDeep{7, 7, 11};
// Brushed metal of rims and bezels.
inline const QColor metal{168, 170, 180};
// Silver print and glyphs.
inline const QColor silver{206, 208, 218};
// Warm amber that every lit part shares.
inline const QColor amber{255, 176, 72};
inline const QColor amberHot{255, 222, 160};
// Ivory of the white keys.
inline const QColor ivoryTop{250, 246, 236};
inline const QColor ivoryBottom{236, 228, 208};
// Small dark display windows.
inline const QColor lcd{9, 13, 28};
} // namespace palette

// xorshift32: tiny, fast and identical on every platform.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : m_state(seed ? seed : 0x9e3779b9u) {}
    double uniform();    // [0, 1)
    double symmetric();  // [-1, 1)

private:
    std::uint32_t m_state;
};

QColor mix(const QColor &a, const QColor &b, double t);

// Every picture is drawn in the logical pixels the windows place it by, on
// a canvas of `scale` device pixels per logical one (its device pixel
// ratio), so one drawing serves the 1x, 1.5x and 2x sets. A side that
// does not divide evenly is rounded up, so the picture covers its place.
int deviceLength(int logical, double scale);
// The scale of whatever a painter draws on.
double scaleOf(const QPainter &p);

// A premultiplied ARGB canvas, fully opaque, ready for QPainter; its size
// is given in logical pixels.
QImage canvas(int width, int height, const QColor &fill, double scale = 1.0);
// A crop of a finished picture, in logical pixels, so a control drawn on it
// sits seamlessly on the background it will be placed over.
QImage cropOf(const QImage &source, int left, int top, int width, int height);

// Textures, sized to the picture they fill so that neighbouring pictures
// cut from one background line up. Their grain is one device pixel fine.
QImage lacquerTexture(int width, int height, std::uint32_t seed, int gradientHeight, double scale = 1.0);
QImage brushedMetalTexture(int width, int height, std::uint32_t seed, const QColor &base, double scale = 1.0);
// Calls `dot(device x, device y)` for each device pixel of a logical
// area, painting in device pixels: grain stays one pixel fine at any scale.
void forEachDevicePixel(QPainter &p, const QRect &area, const std::function<void(QPainter &, int, int)> &dot);

void fillWithTexture(QPainter &p, const QPainterPath &path, const QImage &texture);

// A shallow pocket pressed into the body: darker floor, shadow under the
// upper lip, light catching the lower lip.
void drawRecess(QPainter &p, const QPainterPath &shape, const QColor &floor, double depth = 1.0);
void drawRecess(QPainter &p, const QRectF &rect, double radius, const QColor &floor, double depth = 1.0);

// A raised metal bezel ring around a shape.
void drawBezel(QPainter &p, const QPainterPath &outer, const QPainterPath &inner, std::uint32_t seed);

// Text cut into the body: a dark groove whose lower edge catches the light.
void engraveText(QPainter &p, const QRectF &rect, int flags, const QString &text, const QFont &font,
                 const QColor &groove = QColor(6, 6, 10), const QColor &lip = QColor(255, 255, 255, 34));
// Printed text with a faint drop shadow, as silkscreen on a dark panel.
void printText(QPainter &p, const QRectF &rect, int flags, const QString &text, const QFont &font,
               const QColor &ink);

QFont pixelFont(const QString &family, double pixelSize, int weight = QFont::Normal,
                double letterSpacing = 0.0);

// Separable box blur, three passes: close to a Gaussian and deterministic.
QImage blurred(const QImage &image, int radius);
// Paints a soft halo of `colour` shaped like `shape` (drawn by the callback).
// `size` is the device size of what `p` paints on; the radius is logical.
void paintGlow(QPainter &p, const QSize &size, int radius, const QColor &colour, double strength,
               const std::function<void(QPainter &)> &shape);

// The rectangular variant of a shaped window: the very same body, set on
// a dark backing plate with its own thin rim that fills out the rectangle.
// Every control cut from the shaped picture fits both variants exactly.
QImage onBackingPlate(const QImage &shapedArt, const QPainterPath &shape, const QSize &plateSize,
                      std::uint32_t seed);

// Converts to 24-bit RGB; pure red (255,0,0) produced by blending is nudged
// to (254,0,0) so that only deliberate colour-key pixels ever carry it.
QImage finishRgb(const QImage &image);
int countPureRed(const QImage &image);

} // namespace artgen
