#include "ArtKit.h"

#include <QLinearGradient>

#include <algorithm>
#include <cmath>
#include <vector>

namespace artgen {

double Noise::uniform()
{
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return double(m_state >> 8) / double(1u << 24);
}

double Noise::symmetric()
{
    return uniform() * 2.0 - 1.0;
}

QColor mix(const QColor &a, const QColor &b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    auto lerp = [t](int x, int y) { return int(std::lround(x + (y - x) * t)); };
    return QColor(lerp(a.red(), b.red()), lerp(a.green(), b.green()), lerp(a.blue(), b.blue()),
                  lerp(a.alpha(), b.alpha()));
}

int deviceLength(int logical, double scale)
{
    // 1e-9 keeps an exact product (1.5 x 714) from rounding up past itself.
    return int(std::ceil(logical * scale - 1e-9));
}

double scaleOf(const QPainter &p)
{
    return p.device() ? p.device()->devicePixelRatioF() : 1.0;
}

QImage canvas(int width, int height, const QColor &fill, double scale)
{
    QImage image(deviceLength(width, scale), deviceLength(height, scale), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    QColor opaque = fill;
    opaque.setAlpha(255);
    image.fill(opaque);
    return image;
}

QImage cropOf(const QImage &source, int left, int top, int width, int height)
{
    // A place that starts between two device pixels (1.5x, odd offsets)
    // starts at the one before: the window draws it there too.
    const double s = source.devicePixelRatio();
    QImage crop = source.copy(int(std::floor(left * s + 1e-9)), int(std::floor(top * s + 1e-9)),
                              deviceLength(width, s), deviceLength(height, s));
    crop.setDevicePixelRatio(s);
    return crop.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

static int clampByte(double v)
{
    return std::clamp(int(std::lround(v)), 0, 255);
}

QImage lacquerTexture(int width, int height, std::uint32_t seed, int gradientHeight, double scale)
{
    QImage image(deviceLength(width, scale), deviceLength(height, scale), QImage::Format_ARGB32_Premultiplied);
    Noise noise(seed);
    for (int y = 0; y < image.height(); ++y) {
        // A slightly eased ramp: lacquer looks deepest low down, where less
        // light from above reaches it.
        const double t = std::pow(std::clamp((y + 0.5) / scale / gradientHeight, 0.0, 1.0), 0.85);
        const QColor base = mix(palette::bodyTop, palette::bodyBottom, t);
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const double grain = noise.symmetric() * 1.3;
            line[x] = qRgb(clampByte(base.red() + grain), clampByte(base.green() + grain),
                           clampByte(base.blue() + grain * 1.2));
        }
    }
    image.setDevicePixelRatio(scale);
    return image;
}

QImage brushedMetalTexture(int width, int height, std::uint32_t seed, const QColor &base, double scale)
{
    QImage image(deviceLength(width, scale), deviceLength(height, scale), QImage::Format_ARGB32_Premultiplied);
    Noise noise(seed);
    double rowDrift = 0.0;
    for (int y = 0; y < image.height(); ++y) {
        rowDrift = rowDrift * 0.6 + noise.symmetric() * 4.0;
        // Long horizontal correlation is what reads as brushing.
        double streak = noise.symmetric() * 6.0;
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            streak = streak * 0.94 + noise.symmetric() * 1.6;
            const double v = rowDrift + streak * 2.2 + noise.symmetric() * 2.0;
            line[x] = qRgb(clampByte(base.red() + v), clampByte(base.green() + v), clampByte(base.blue() + v * 1.05));
        }
    }
    image.setDevicePixelRatio(scale);
    return image;
}

void forEachDevicePixel(QPainter &p, const QRect &area, const std::function<void(QPainter &, int, int)> &dot)
{
    const double s = scaleOf(p);
    if (s == 1.0) {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                dot(p, x, y);
        return;
    }
    // The painter's own scale would make each dot a block of pixels, so the
    // dots go onto a layer of device pixels laid over the picture 1:1.
    const QRect device(QPoint(int(std::floor(area.left() * s)), int(std::floor(area.top() * s))),
                       QPoint(deviceLength(area.right() + 1, s) - 1, deviceLength(area.bottom() + 1, s) - 1));
    QImage layer(device.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        lp.setRenderHints(p.renderHints());
        lp.translate(-device.topLeft());
        for (int y = device.top(); y <= device.bottom(); ++y)
            for (int x = device.left(); x <= device.right(); ++x)
                dot(lp, x, y);
    }
    layer.setDevicePixelRatio(s);
    p.drawImage(QPointF(device.left() / s, device.top() / s), layer);
}

void fillWithTexture(QPainter &p, const QPainterPath &path, const QImage &texture)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QBrush(texture));
    p.setBrushOrigin(0, 0);
    p.drawPath(path);
    p.restore();
}

void drawRecess(QPainter &p, const QPainterPath &shape, const QColor &floor, double depth)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF box = shape.boundingRect();

    // Light catching the lower lip of the cut.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, int(40 * std::min(depth, 1.5))), 1.0));
    p.drawPath(shape.translated(0, 1.0));
    // Dark cut edge all round.
    p.setPen(QPen(QColor(0, 0, 0, 150), 1.0));
    p.drawPath(shape);

    QLinearGradient floorGradient(box.topLeft(), box.bottomLeft());
    floorGradient.setColorAt(0.0, floor.darker(130));
    floorGradient.setColorAt(0.35, floor);
    floorGradient.setColorAt(1.0, floor.lighter(112));
    p.setPen(Qt::NoPen);
    p.setBrush(floorGradient);
    p.drawPath(shape);

    // Shadow thrown by the upper lip onto the floor.
    p.setClipPath(shape, Qt::IntersectClip);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, int(150 * std::min(depth, 1.5))), 2.0 * depth));
    p.drawPath(shape.translated(0, 1.2 * depth));
    p.setPen(QPen(QColor(0, 0, 0, int(60 * std::min(depth, 1.5))), 4.0 * depth));
    p.drawPath(shape.translated(0, 2.4 * depth));
    p.restore();
}

void drawRecess(QPainter &p, const QRectF &rect, double radius, const QColor &floor, double depth)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    drawRecess(p, path, floor, depth);
}

void drawBezel(QPainter &p, const QPainterPath &outer, const QPainterPath &inner, std::uint32_t seed)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF box = outer.boundingRect().adjusted(-2, -2, 2, 2);
    const QImage metal =
        brushedMetalTexture(int(box.right()) + 2, int(box.bottom()) + 2, seed, palette::metal, scaleOf(p));
    const QPainterPath ring = outer.subtracted(inner);
    fillWithTexture(p, ring, metal);

    // Light from above: the upper half of the ring is brighter.
    QLinearGradient shade(box.topLeft(), box.bottomLeft());
    shade.setColorAt(0.0, QColor(255, 255, 255, 70));
    shade.setColorAt(0.5, QColor(0, 0, 0, 20));
    shade.setColorAt(1.0, QColor(0, 0, 0, 110));
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawPath(ring);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 170), 1.0));
    p.drawPath(outer);
    p.setPen(QPen(QColor(0, 0, 0, 190), 1.0));
    p.drawPath(inner);
    p.restore();
}

void engraveText(QPainter &p, const QRectF &rect, int flags, const QString &text, const QFont &font,
                 const QColor &groove, const QColor &lip)
{
    p.save();
    p.setFont(font);
    p.setPen(lip);
    p.drawText(rect.translated(0, 1), flags, text);
    p.setPen(groove);
    p.drawText(rect, flags, text);
    p.restore();
}

void printText(QPainter &p, const QRectF &rect, int flags, const QString &text, const QFont &font,
               const QColor &ink)
{
    p.save();
    p.setFont(font);
    p.setPen(QColor(0, 0, 0, 150));
    p.drawText(rect.translated(0, 1), flags, text);
    p.setPen(ink);
    p.drawText(rect, flags, text);
    p.restore();
}

QFont pixelFont(const QString &family, double pixelSize, int weight, double letterSpacing)
{
    QFont font(family);
    font.setPixelSize(int(std::lround(pixelSize)));
    font.setWeight(QFont::Weight(weight));
    font.setStyleStrategy(QFont::PreferAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    if (letterSpacing != 0.0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    return font;
}

namespace {

void boxBlurLine(const std::vector<double> &in, std::vector<double> &out, int radius)
{
    const int n = int(in.size());
    double sum = 0.0;
    const double window = 2.0 * radius + 1.0;
    for (int i = -radius; i <= radius; ++i)
        sum += in[std::clamp(i, 0, n - 1)];
    for (int i = 0; i < n; ++i) {
        out[i] = sum / window;
        sum += in[std::clamp(i + radius + 1, 0, n - 1)] - in[std::clamp(i - radius, 0, n - 1)];
    }
}

} // namespace

QImage blurred(const QImage &image, int radius)
{
    QImage src = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (radius <= 0)
        return src;
    const int w = src.width();
    const int h = src.height();
    std::vector<std::vector<double>> planes(4, std::vector<double>(size_t(w) * size_t(h)));
    for (int y = 0; y < h; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(src.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            planes[0][i] = qAlpha(line[x]);
            planes[1][i] = qRed(line[x]);
            planes[2][i] = qGreen(line[x]);
            planes[3][i] = qBlue(line[x]);
        }
    }
    // Three box passes per axis approximate a Gaussian of about this radius.
    const int box = std::max(1, radius / 2);
    for (auto &plane : planes) {
        std::vector<double> in(size_t(std::max(w, h))), out(in.size());
        for (int pass = 0; pass < 3; ++pass) {
            for (int y = 0; y < h; ++y) {
                in.resize(size_t(w));
                out.resize(size_t(w));
                for (int x = 0; x < w; ++x)
                    in[size_t(x)] = plane[size_t(y) * size_t(w) + size_t(x)];
                boxBlurLine(in, out, box);
                for (int x = 0; x < w; ++x)
                    plane[size_t(y) * size_t(w) + size_t(x)] = out[size_t(x)];
            }
            for (int x = 0; x < w; ++x) {
                in.resize(size_t(h));
                out.resize(size_t(h));
                for (int y = 0; y < h; ++y)
                    in[size_t(y)] = plane[size_t(y) * size_t(w) + size_t(x)];
                boxBlurLine(in, out, box);
                for (int y = 0; y < h; ++y)
                    plane[size_t(y) * size_t(w) + size_t(x)] = out[size_t(y)];
            }
        }
    }
    QImage result(w, h, QImage::Format_ARGB32_Premultiplied);
    result.setDevicePixelRatio(image.devicePixelRatio());
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            const int a = clampByte(planes[0][i]);
            line[x] = qRgba(std::min(a, clampByte(planes[1][i])), std::min(a, clampByte(planes[2][i])),
                            std::min(a, clampByte(planes[3][i])), a);
        }
    }
    return result;
}

void paintGlow(QPainter &p, const QSize &size, int radius, const QColor &colour, double strength,
               const std::function<void(QPainter &)> &shape)
{
    const double s = scaleOf(p);
    QImage layer(size, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(s);
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        lp.setRenderHint(QPainter::Antialiasing, true);
        shape(lp);
        lp.setCompositionMode(QPainter::CompositionMode_SourceIn);
        lp.fillRect(QRectF(QPointF(0, 0), layer.deviceIndependentSize()), colour);
    }
    const QImage halo = blurred(layer, int(std::lround(radius * s)));
    p.save();
    // Light adds up; a shadow (a dark colour) lies over what is there.
    p.setCompositionMode(colour.lightness() > 64 ? QPainter::CompositionMode_Plus
                                                 : QPainter::CompositionMode_SourceOver);
    double left = strength;
    while (left > 0.0) {
        p.setOpacity(std::min(left, 1.0));
        p.drawImage(0, 0, halo);
        left -= 1.0;
    }
    p.restore();
}

QImage onBackingPlate(const QImage &shapedArt, const QPainterPath &shape, const QSize &plateSize,
                      std::uint32_t seed)
{
    const double s = shapedArt.devicePixelRatio();
    QImage plate = canvas(plateSize.width(), plateSize.height(), palette::bodyDeep, s);
    QPainter p(&plate);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF all(QPointF(0, 0), QSizeF(plateSize));
    fillWithTexture(p, QPainterPath([&] {
                        QPainterPath r;
                        r.addRect(all);
                        return r;
                    }()),
                    brushedMetalTexture(plateSize.width(), plateSize.height(), seed, palette::metal.darker(125), s));
    QLinearGradient floor(0, 0, 0, plateSize.height());
    floor.setColorAt(0.0, QColor(24, 23, 32));
    floor.setColorAt(1.0, QColor(9, 9, 13));
    p.setPen(Qt::NoPen);
    p.setBrush(floor);
    p.drawRect(all.adjusted(2, 2, -2, -2));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 150), 1.0));
    p.drawRect(all.adjusted(0.5, 0.5, -0.5, -0.5));
    p.drawRect(all.adjusted(2.5, 2.5, -2.5, -2.5));

    // The body throws a soft shadow onto the plate.
    paintGlow(p, plate.size(), 4, QColor(0, 0, 0), 1.0, [&](QPainter &gp) {
        gp.setPen(Qt::NoPen);
        gp.setBrush(Qt::black);
        gp.drawPath(shape.translated(0, 2));
    });

    // Cut the body out of its shaped picture with an antialiased edge.
    QImage body = shapedArt.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        QImage mask(body.size(), QImage::Format_ARGB32_Premultiplied);
        mask.setDevicePixelRatio(s);
        mask.fill(Qt::transparent);
        QPainter mp(&mask);
        mp.setRenderHint(QPainter::Antialiasing, true);
        mp.setPen(Qt::NoPen);
        mp.setBrush(Qt::black);
        mp.drawPath(shape);
        mp.end();
        QPainter bp(&body);
        bp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        bp.drawImage(0, 0, mask);
    }
    p.drawImage(0, 0, body);
    return plate;
}

QImage finishRgb(const QImage &image)
{
    QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y) {
        uchar *line = rgb.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            uchar *px = line + 3 * x;
            if (px[0] == 255 && px[1] == 0 && px[2] == 0)
                px[0] = 254;
        }
    }
    return rgb;
}

int countPureRed(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    int count = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar *line = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            if (line[3 * x] == 255 && line[3 * x + 1] == 0 && line[3 * x + 2] == 0)
                ++count;
    }
    return count;
}

} // namespace artgen
