#include "Outline.h"

#include <QLineF>

#include <cmath>

namespace artgen::outline {

namespace {

constexpr double W = keyboardWidth;
constexpr double H = keyboardHeight;
constexpr double R = keyboardTopRadius;
constexpr double r2 = keyboardStepRadius;
constexpr double r3 = keyboardFilletRadius;
constexpr double Ys = keyboardStepY;
constexpr double Xl = keyboardLowerRight;

// Right edge of the body at height yc (a pixel centre), from circle
// geometry directly: Qt's arcs are Bezier approximations and could flip a
// boundary pixel, and the red count must be exact.
double keyboardRightEdge(double yc)
{
    if (yc < R)
        return W - R + std::sqrt(R * R - (R - yc) * (R - yc));
    if (yc < Ys - r2)
        return W;
    if (yc < Ys) {
        const double dy = yc - (Ys - r2);
        return W - r2 + std::sqrt(std::max(0.0, r2 * r2 - dy * dy));
    }
    if (yc < Ys + r3) {
        const double dy = Ys + r3 - yc;
        return Xl + r3 - std::sqrt(std::max(0.0, r3 * r3 - dy * dy));
    }
    return Xl;
}

void addArc(QPainterPath &path, QPointF centre, double radius, double startDeg, double sweepDeg)
{
    path.arcTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), startDeg, sweepDeg);
}

// Tab right end, slant length, corner chamfers, wedge width and the height
// where the wedge meets the left edge.
constexpr double tabEnd = 124;
constexpr double tabSlant = 8;
constexpr double topChamfer = 12;
constexpr double bottomChamfer = 12;
constexpr double wedgeWidth = 6;
constexpr double wedgeFoot = 149;
constexpr double stripRows = 10;

} // namespace

QPainterPath keyboardPath(double d)
{
    QPainterPath path;
    path.moveTo(d, d);
    path.lineTo(W - R, d);
    addArc(path, {W - R, R}, R - d, 90, -90);
    path.lineTo(W - d, Ys - r2);
    addArc(path, {W - r2, Ys - r2}, r2 - d, 0, -90);
    path.lineTo(Xl + r3, Ys - d);
    addArc(path, {Xl + r3, Ys + r3}, r3 + d, 90, 90);
    path.lineTo(Xl - d, H - d);
    path.lineTo(d, H - d);
    path.closeSubpath();
    return path;
}

std::vector<int> keyboardFirstOutsideColumn(double scale)
{
    const int width = int(std::ceil(keyboardWidth * scale - 1e-9));
    std::vector<int> first(size_t(std::ceil(keyboardHeight * scale - 1e-9)));
    for (size_t y = 0; y < first.size(); ++y) {
        const double edge = keyboardRightEdge((double(y) + 0.5) / scale) * scale;
        int x = 0;
        while (x < width && x + 0.5 < edge)
            ++x;
        first[y] = x;
    }
    return first;
}

QPolygonF patchPolygon(double d)
{
    const double w = patchWidth;
    const double h = patchHeight;
    const QPolygonF outer{
        QPointF(wedgeWidth + topChamfer, 0), QPointF(tabEnd, 0), QPointF(tabEnd + tabSlant, stripRows),
        QPointF(w - topChamfer, stripRows), QPointF(w, stripRows + topChamfer), QPointF(w, h - bottomChamfer),
        QPointF(w - bottomChamfer, h), QPointF(bottomChamfer, h), QPointF(0, h - bottomChamfer),
        QPointF(0, wedgeFoot), QPointF(wedgeWidth, topChamfer)};
    if (d == 0.0)
        return outer;

    // Move every edge inwards along its normal and intersect neighbours.
    // The points run clockwise on screen, so (-dy, dx) points inside.
    const int n = int(outer.size());
    std::vector<QLineF> edges;
    for (int i = 0; i < n; ++i) {
        const QPointF a = outer[i];
        const QPointF b = outer[(i + 1) % n];
        const QPointF dir = b - a;
        const double len = std::hypot(dir.x(), dir.y());
        const QPointF normal(-dir.y() / len * d, dir.x() / len * d);
        edges.emplace_back(a + normal, b + normal);
    }
    QPolygonF inset;
    for (int i = 0; i < n; ++i) {
        QPointF hit;
        edges[size_t((i + n - 1) % n)].intersects(edges[size_t(i)], &hit);
        inset << hit;
    }
    return inset;
}

QPainterPath patchPath(double d)
{
    QPainterPath path;
    path.addPolygon(patchPolygon(d));
    path.closeSubpath();
    return path;
}

bool patchOutside(int x, int y, double scale)
{
    // Even-odd crossing test on the pixel centre, kept free of Qt's
    // rasteriser so the count is the same wherever it runs.
    static const QPolygonF poly = patchPolygon(0.0);
    const double px = (x + 0.5) / scale;
    const double py = (y + 0.5) / scale;
    bool inside = false;
    const int n = int(poly.size());
    for (int i = 0; i < n; ++i) {
        const QPointF a = poly[i];
        const QPointF b = poly[(i + 1) % n];
        if ((a.y() > py) != (b.y() > py)) {
            const double xi = a.x() + (py - a.y()) * (b.x() - a.x()) / (b.y() - a.y());
            if (px < xi)
                inside = !inside;
        }
    }
    return !inside;
}

namespace {
void setRed(QImage &rgb888, int x, int y)
{
    uchar *px = rgb888.scanLine(y) + 3 * x;
    px[0] = 255;
    px[1] = 0;
    px[2] = 0;
}
} // namespace

void applyKeyboardColourKey(QImage &rgb888)
{
    const std::vector<int> first = keyboardFirstOutsideColumn(rgb888.devicePixelRatio());
    for (int y = 0; y < rgb888.height() && y < int(first.size()); ++y)
        for (int x = first[size_t(y)]; x < rgb888.width(); ++x)
            setRed(rgb888, x, y);
}

void applyPatchColourKey(QImage &rgb888)
{
    const double scale = rgb888.devicePixelRatio();
    for (int y = 0; y < rgb888.height(); ++y)
        for (int x = 0; x < rgb888.width(); ++x)
            if (patchOutside(x, y, scale))
                setRed(rgb888, x, y);
}

int keyboardOutsidePixels(double scale)
{
    const int width = int(std::ceil(keyboardWidth * scale - 1e-9));
    int count = 0;
    for (int first : keyboardFirstOutsideColumn(scale))
        count += width - first;
    return count;
}

int patchOutsidePixels(double scale)
{
    int count = 0;
    for (int y = 0; y < int(std::ceil(patchHeight * scale - 1e-9)); ++y)
        for (int x = 0; x < int(std::ceil(patchWidth * scale - 1e-9)); ++x)
            count += patchOutside(x, y, scale) ? 1 : 0;
    return count;
}

} // namespace artgen::outline
