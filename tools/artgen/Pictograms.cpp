#include "Pictograms.h"

#include "ArtKit.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace artgen {

namespace {

constexpr double stroke = 1.5;

QPen inkPen(const QColor &ink, double width = stroke)
{
    return QPen(ink, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// Cut-outs punch through whatever has been drawn, so details stay
// readable on any button face.
void cut(QPainter &p, const QPainterPath &shape)
{
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPath(shape);
    p.restore();
}

void cutLine(QPainter &p, QPointF a, QPointF b, double width)
{
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(QPen(Qt::black, width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(a, b);
    p.restore();
}

void piano(QPainter &p, const QColor &ink)
{
    // Grand piano from the side, lid raised.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPainterPath lid;
    lid.moveTo(2.5, 8.0);
    lid.lineTo(15.5, 2.2);
    lid.lineTo(16.2, 3.6);
    lid.lineTo(4.6, 8.0);
    lid.closeSubpath();
    p.drawPath(lid);
    p.setPen(inkPen(ink, 1.0));
    p.drawLine(QPointF(11.5, 4.6), QPointF(11.5, 8.0));
    p.setPen(Qt::NoPen);
    QPainterPath body;
    body.addRoundedRect(QRectF(1.5, 8.3, 15.5, 3.6), 1.6, 1.6);
    p.drawPath(body);
    p.drawRect(QRectF(3.2, 11.5, 1.5, 5.0));
    p.drawRect(QRectF(13.6, 11.5, 1.5, 5.0));
    p.drawRect(QRectF(8.4, 11.5, 1.2, 3.6));
    p.drawRect(QRectF(7.4, 14.6, 3.2, 1.0));
    // The keyboard's edge shows as a notch along the body.
    cutLine(p, QPointF(2.2, 10.1), QPointF(6.2, 10.1), 0.8);
}

void bells(QPainter &p, const QColor &ink)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPainterPath bell;
    bell.moveTo(9, 4.2);
    bell.cubicTo(6.0, 4.2, 5.2, 6.8, 5.2, 9.2);
    bell.cubicTo(5.2, 11.2, 4.6, 12.4, 2.8, 13.6);
    bell.lineTo(15.2, 13.6);
    bell.cubicTo(13.4, 12.4, 12.8, 11.2, 12.8, 9.2);
    bell.cubicTo(12.8, 6.8, 12.0, 4.2, 9, 4.2);
    bell.closeSubpath();
    p.drawPath(bell);
    p.drawRoundedRect(QRectF(8.0, 1.0, 2.0, 3.8), 0.9, 0.9);
    p.drawEllipse(QPointF(9, 15.4), 1.5, 1.5);
    // Ringing.
    p.setPen(inkPen(ink, 1.1));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(0.6, 3.4, 6, 6), 100 * 16, 70 * 16);
    p.drawArc(QRectF(11.4, 3.4, 6, 6), 10 * 16, 70 * 16);
    // A highlight groove down the bell's shoulder.
    cutLine(p, QPointF(7.3, 7.0), QPointF(6.9, 10.8), 0.7);
}

void organ(QPainter &p, const QColor &ink)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    const double xs[] = {1.4, 4.9, 8.0, 11.1, 14.6};
    const double heights[] = {8.5, 11.5, 14.5, 11.5, 8.5};
    for (int i = 0; i < 5; ++i) {
        const double w = i == 2 ? 2.6 : 2.1;
        const double top = 15.0 - heights[i];
        QPainterPath pipe;
        pipe.addRoundedRect(QRectF(xs[i] + (i == 2 ? -0.25 : 0), top, w, heights[i]), 0.9, 0.9);
        p.drawPath(pipe);
        // The pipe's mouth.
        QPainterPath mouth;
        const double cx = xs[i] + w / 2 + (i == 2 ? -0.25 : 0);
        mouth.moveTo(cx - 0.6, 11.4);
        mouth.lineTo(cx + 0.6, 11.4);
        mouth.lineTo(cx, 12.6);
        mouth.closeSubpath();
        cut(p, mouth);
    }
    p.setBrush(ink);
    p.drawRoundedRect(QRectF(0.6, 15.0, 16.8, 2.2), 0.6, 0.6);
}

// Draws in a frame rotated about `centre`, for the instruments that lie
// diagonally across their button.
template <typename Fn>
void rotated(QPainter &p, QPointF centre, double degrees, double scale, Fn fn)
{
    p.save();
    p.translate(centre);
    p.rotate(degrees);
    p.scale(scale, scale);
    fn();
    p.restore();
}

void guitar(QPainter &p, const QColor &ink)
{
    rotated(p, {8.6, 10.0}, 40, 0.78, [&] {
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        QPainterPath body;
        body.addEllipse(QPointF(0, 5.6), 5.4, 5.0);
        body.addEllipse(QPointF(0, -0.6), 4.1, 3.8);
        body.addRect(QRectF(-3.4, -0.6, 6.8, 5.0));
        body.setFillRule(Qt::WindingFill);
        p.drawPath(body.simplified());
        p.drawRect(QRectF(-1.0, -12.0, 2.0, 9.0));
        p.drawRoundedRect(QRectF(-1.7, -15.4, 3.4, 3.8), 0.8, 0.8);
        QPainterPath hole;
        hole.addEllipse(QPointF(0, 2.4), 1.7, 1.7);
        cut(p, hole);
        cutLine(p, QPointF(-2.2, 7.4), QPointF(2.2, 7.4), 0.9);
    });
}

void bassClef(QPainter &p, const QColor &ink)
{
    // The F clef: the family's own sign, unmistakable even at this size.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPainterPath clef;
    clef.moveTo(3.0, 6.2);
    clef.cubicTo(3.4, 2.8, 6.6, 1.6, 8.8, 1.8);
    clef.cubicTo(12.4, 2.1, 13.4, 5.0, 13.0, 7.8);
    clef.cubicTo(12.4, 11.8, 8.0, 14.8, 2.6, 16.6);
    clef.lineTo(2.4, 15.8);
    clef.cubicTo(6.4, 14.0, 10.2, 11.0, 10.4, 7.4);
    clef.cubicTo(10.6, 4.4, 9.4, 2.9, 7.8, 2.9);
    clef.cubicTo(6.2, 2.9, 5.2, 3.8, 4.9, 4.7);
    clef.closeSubpath();
    p.drawPath(clef);
    p.drawEllipse(QPointF(4.6, 6.0), 2.0, 2.0);
    p.drawEllipse(QPointF(15.4, 4.6), 1.25, 1.25);
    p.drawEllipse(QPointF(15.4, 9.2), 1.25, 1.25);
}

void violinShape(QPainter &p, const QColor &ink)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPainterPath body;
    body.moveTo(0, -5.6);
    body.cubicTo(2.8, -5.6, 3.6, -4.4, 3.4, -2.6);
    body.cubicTo(3.2, -1.2, 2.1, -0.6, 2.1, 0.6);
    body.cubicTo(2.1, 1.8, 4.2, 2.4, 4.2, 4.8);
    body.cubicTo(4.2, 7.2, 2.4, 8.0, 0, 8.0);
    body.cubicTo(-2.4, 8.0, -4.2, 7.2, -4.2, 4.8);
    body.cubicTo(-4.2, 2.4, -2.1, 1.8, -2.1, 0.6);
    body.cubicTo(-2.1, -0.6, -3.2, -1.2, -3.4, -2.6);
    body.cubicTo(-3.6, -4.4, -2.8, -5.6, 0, -5.6);
    p.drawPath(body);
    p.drawRect(QRectF(-0.7, -12.0, 1.4, 7.0));
    p.drawEllipse(QPointF(0, -12.6), 1.3, 1.3);
    // f-holes and the bridge.
    cutLine(p, QPointF(-1.5, 1.0), QPointF(-1.3, 4.2), 0.6);
    cutLine(p, QPointF(1.5, 1.0), QPointF(1.3, 4.2), 0.6);
    cutLine(p, QPointF(-1.4, 2.8), QPointF(1.4, 2.8), 0.6);
}

void violin(QPainter &p, const QColor &ink)
{
    rotated(p, {9.6, 9.8}, 35, 0.85, [&] { violinShape(p, ink); });
    // The bow crosses the strings.
    p.setPen(inkPen(ink, 1.0));
    p.drawLine(QPointF(1.6, 5.0), QPointF(15.8, 15.2));
    p.setPen(inkPen(ink, 0.6));
    p.drawLine(QPointF(1.8, 6.4), QPointF(14.6, 15.6));
}

void ensemble(QPainter &p, const QColor &ink)
{
    // Three singers: heads and shoulders, the middle one in front.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    auto person = [&](double cx, double top, double scale) {
        p.drawEllipse(QPointF(cx, top + 2.4 * scale), 2.3 * scale, 2.4 * scale);
        QPainterPath shoulders;
        shoulders.moveTo(cx - 4.4 * scale, 17.0);
        shoulders.cubicTo(cx - 4.4 * scale, top + 6.0 * scale, cx - 2.6 * scale, top + 5.4 * scale, cx,
                          top + 5.4 * scale);
        shoulders.cubicTo(cx + 2.6 * scale, top + 5.4 * scale, cx + 4.4 * scale, top + 6.0 * scale,
                          cx + 4.4 * scale, 17.0);
        shoulders.closeSubpath();
        p.drawPath(shoulders);
    };
    person(3.9, 3.0, 0.85);
    person(14.1, 3.0, 0.85);
    // Separate the front singer from those behind.
    QPainterPath gap;
    gap.addEllipse(QPointF(9, 7.2), 3.4, 3.5);
    QPainterPath gapBody;
    gapBody.moveTo(3.2, 17.5);
    gapBody.cubicTo(3.2, 11.0, 5.6, 10.2, 9, 10.2);
    gapBody.cubicTo(12.4, 10.2, 14.8, 11.0, 14.8, 17.5);
    gapBody.closeSubpath();
    cut(p, gap.united(gapBody));
    p.setBrush(ink);
    person(9, 4.6, 1.0);
}

void trumpet(QPainter &p, const QColor &ink)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRect(QRectF(0.6, 9.0, 1.6, 1.6));        // mouthpiece
    p.drawRect(QRectF(2.0, 9.3, 10.5, 1.3));       // lead pipe
    QPainterPath bell;
    bell.moveTo(11.8, 9.1);
    bell.cubicTo(14.0, 8.8, 15.6, 7.2, 17.4, 5.4);
    bell.lineTo(17.4, 14.4);
    bell.cubicTo(15.6, 12.6, 14.0, 11.0, 11.8, 10.8);
    bell.closeSubpath();
    p.drawPath(bell);
    for (double x : {5.4, 7.6, 9.8}) {
        p.drawRect(QRectF(x, 5.6, 1.4, 3.8));
        p.drawRoundedRect(QRectF(x - 0.4, 4.4, 2.2, 1.3), 0.5, 0.5);
    }
    p.setPen(inkPen(ink, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3.6, 10.6, 8.4, 3.4), 1.7, 1.7);
}

void saxophone(QPainter &p, const QColor &ink)
{
    p.setBrush(Qt::NoBrush);
    QPainterPath tube;
    tube.moveTo(4.6, 1.8);
    tube.cubicTo(6.8, 2.2, 7.6, 3.6, 7.6, 6.0);
    tube.lineTo(7.6, 12.6);
    tube.cubicTo(7.6, 16.4, 12.8, 16.8, 13.2, 12.8);
    tube.lineTo(13.4, 9.6);
    p.setPen(QPen(ink, 2.4, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.drawPath(tube);
    p.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(2.2, 1.6), QPointF(4.8, 1.8));   // mouthpiece
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPainterPath bell;
    bell.moveTo(12.0, 10.2);
    bell.lineTo(11.4, 7.4);
    bell.cubicTo(13.0, 6.8, 15.2, 6.8, 16.8, 7.2);
    bell.lineTo(14.8, 10.2);
    bell.closeSubpath();
    p.drawPath(bell);
    // Key pads along the body.
    for (double y : {7.0, 9.2, 11.4})
        cut(p, [&] {
            QPainterPath dot;
            dot.addEllipse(QPointF(7.6, y), 0.65, 0.65);
            return dot;
        }());
}

void flute(QPainter &p, const QColor &ink)
{
    const QPointF a(1.4, 14.8), b(16.8, 3.4);
    p.setPen(QPen(ink, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(a, b);
    const QPointF dir = (b - a) / std::hypot(b.x() - a.x(), b.y() - a.y());
    // Embouchure plate near the head.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    const QPointF plate = b - dir * 3.2;
    p.drawEllipse(plate, 1.7, 1.7);
    for (int i = 0; i < 5; ++i) {
        QPainterPath hole;
        hole.addEllipse(a + dir * (3.0 + 2.2 * i), 0.6, 0.6);
        cut(p, hole);
    }
    QPainterPath mouth;
    mouth.addEllipse(plate, 0.7, 0.7);
    cut(p, mouth);
    // A breath of air.
    p.setPen(inkPen(ink, 1.0));
    p.setBrush(Qt::NoBrush);
    QPainterPath air;
    air.moveTo(9.6, 0.8);
    air.cubicTo(11.0, 0.2, 12.2, 1.6, 13.4, 1.0);
    p.drawPath(air);
}

void synthLead(QPainter &p, const QColor &ink)
{
    // A bright sawtooth, the classic lead wave.
    p.setPen(QPen(ink, 1.7, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath saw;
    saw.moveTo(1.0, 13.2);
    saw.lineTo(6.0, 4.6);
    saw.lineTo(6.0, 13.2);
    saw.lineTo(11.0, 4.6);
    saw.lineTo(11.0, 13.2);
    saw.lineTo(16.4, 4.6);
    saw.lineTo(16.4, 9.0);
    p.drawPath(saw);
    p.setPen(inkPen(ink, 0.8));
    p.drawLine(QPointF(1.0, 16.2), QPointF(17.0, 16.2));
}

void pad(QPainter &p, const QColor &ink)
{
    // A soft, wide cloud: sound that hangs in the air.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPainterPath cloud;
    cloud.addEllipse(QPointF(4.9, 10.6), 3.3, 3.1);
    cloud.addEllipse(QPointF(8.8, 7.4), 4.3, 4.2);
    cloud.addEllipse(QPointF(13.2, 9.6), 3.4, 3.3);
    cloud.addRoundedRect(QRectF(1.6, 10.4, 15.0, 3.6), 1.8, 1.8);
    cloud.setFillRule(Qt::WindingFill);
    p.drawPath(cloud.simplified());
    // A fold inside keeps the puffs apart.
    p.setBrush(Qt::NoBrush);
    QPainterPath fold;
    fold.moveTo(6.2, 12.2);
    fold.cubicTo(6.0, 10.4, 7.4, 9.4, 9.0, 9.6);
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(QPen(Qt::black, 0.8, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(fold);
    p.restore();
    // Slow drift lines below.
    p.setPen(inkPen(ink, 1.0));
    p.drawLine(QPointF(4.0, 16.4), QPointF(9.0, 16.4));
    p.drawLine(QPointF(11.0, 16.4), QPointF(14.0, 16.4));
}

QPainterPath sparkle(QPointF c, double r)
{
    const double w = r * 0.28;
    QPainterPath star;
    star.moveTo(c.x(), c.y() - r);
    star.quadTo(c.x() + w, c.y() - w, c.x() + r, c.y());
    star.quadTo(c.x() + w, c.y() + w, c.x(), c.y() + r);
    star.quadTo(c.x() - w, c.y() + w, c.x() - r, c.y());
    star.quadTo(c.x() - w, c.y() - w, c.x(), c.y() - r);
    return star;
}

void effects(QPainter &p, const QColor &ink)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(sparkle({7.4, 10.2}, 6.8));
    p.drawPath(sparkle({14.4, 4.0}, 3.2));
    p.drawPath(sparkle({14.6, 14.4}, 2.4));
}

void sitar(QPainter &p, const QColor &ink)
{
    rotated(p, {9.0, 9.0}, 32, 0.82, [&] {
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawEllipse(QPointF(0, 6.8), 4.6, 4.4);          // gourd
        p.drawRect(QRectF(-1.1, -10.6, 2.2, 14.0));        // long neck
        p.drawEllipse(QPointF(0, -8.0), 2.0, 2.0);         // upper gourd
        p.drawRoundedRect(QRectF(-1.4, -13.2, 2.8, 2.8), 0.6, 0.6);
        // Frets.
        for (int i = 0; i < 5; ++i)
            cutLine(p, QPointF(-1.2, -4.6 + 1.6 * i), QPointF(1.2, -4.6 + 1.6 * i), 0.5);
        // Side pegs.
        p.setPen(inkPen(ink, 0.9));
        p.drawLine(QPointF(1.1, -3.0), QPointF(2.8, -3.4));
        p.drawLine(QPointF(1.1, -0.6), QPointF(2.8, -1.0));
        p.drawLine(QPointF(-1.1, -12.0), QPointF(-2.8, -12.4));
        cutLine(p, QPointF(-2.4, 7.8), QPointF(2.4, 7.8), 0.7);
    });
}

void drum(QPainter &p, const QColor &ink)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPainterPath shell;
    shell.moveTo(1.6, 9.4);
    shell.lineTo(1.6, 14.6);
    shell.cubicTo(1.6, 16.4, 16.4, 16.4, 16.4, 14.6);
    shell.lineTo(16.4, 9.4);
    shell.closeSubpath();
    p.drawPath(shell);
    // The head, lighter than the shell: an open ellipse.
    QPainterPath head;
    head.addEllipse(QPointF(9, 9.4), 7.4, 2.3);
    p.drawPath(head);
    QPainterPath skin;
    skin.addEllipse(QPointF(9, 9.4), 6.3, 1.5);
    cut(p, skin);
    // Tension rods.
    for (double x : {4.2, 9.0, 13.8})
        cutLine(p, QPointF(x, 12.0), QPointF(x, 15.4), 0.7);
    // Crossed sticks.
    p.setPen(QPen(ink, 1.3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(2.4, 1.4), QPointF(11.4, 7.2));
    p.drawLine(QPointF(15.6, 1.4), QPointF(6.6, 7.2));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(2.4, 1.4), 1.0, 1.0);
    p.drawEllipse(QPointF(15.6, 1.4), 1.0, 1.0);
}

void wave(QPainter &p, const QColor &ink)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPainterPath crest;
    crest.moveTo(0.8, 16.4);
    crest.lineTo(0.8, 13.6);
    crest.cubicTo(4.0, 13.2, 5.4, 5.4, 10.6, 3.6);
    crest.cubicTo(14.6, 2.4, 17.6, 4.8, 16.8, 8.4);
    crest.cubicTo(15.8, 6.4, 12.6, 6.2, 11.6, 8.8);
    crest.cubicTo(10.8, 11.0, 13.2, 12.8, 17.2, 12.6);
    crest.lineTo(17.2, 16.4);
    crest.closeSubpath();
    p.drawPath(crest);
    // A foam line inside the crest.
    p.setPen(Qt::NoPen);
    QPainterPath foam;
    foam.moveTo(3.4, 14.6);
    foam.cubicTo(5.6, 13.0, 6.6, 8.6, 9.8, 6.6);
    foam.lineTo(10.2, 7.4);
    foam.cubicTo(7.6, 9.4, 6.8, 13.4, 4.0, 15.2);
    foam.closeSubpath();
    cut(p, foam);
}

} // namespace

QImage pictogramLayer(int family, const QImage &target, const QRectF &box, const QColor &ink)
{
    QImage layer(target.size(), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(target.devicePixelRatio());
    layer.fill(Qt::transparent);
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.translate(box.topLeft());
    p.scale(box.width() / 18.0, box.height() / 18.0);
    switch (family) {
    case 1: piano(p, ink); break;
    case 2: bells(p, ink); break;
    case 3: organ(p, ink); break;
    case 4: guitar(p, ink); break;
    case 5: bassClef(p, ink); break;
    case 6: violin(p, ink); break;
    case 7: ensemble(p, ink); break;
    case 8: trumpet(p, ink); break;
    case 9: saxophone(p, ink); break;
    case 10: flute(p, ink); break;
    case 11: synthLead(p, ink); break;
    case 12: pad(p, ink); break;
    case 13: effects(p, ink); break;
    case 14: sitar(p, ink); break;
    case 15: drum(p, ink); break;
    case 16: wave(p, ink); break;
    default: break;
    }
    return layer;
}

void drawOlvaniMark(QPainter &p, QPointF c, double r, bool lit)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const double inner = r * 0.7;

    // Inside the O, a short keyboard seen as through a porthole: three
    // ivory keys with two black keys between them.
    QPainterPath well;
    well.addEllipse(c, inner, inner);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(8, 8, 12));
    p.drawPath(well);
    p.save();
    p.setClipPath(well);
    const double gap = std::max(0.7, r * 0.05);
    const double kw = (2 * inner - 2 * gap) / 3.0;
    for (int i = 0; i < 3; ++i) {
        const QRectF key(c.x() - inner + i * (kw + gap), c.y() - inner, kw, 2 * inner);
        QLinearGradient ivory(key.topLeft(), key.bottomLeft());
        const bool warm = lit && i == 1;
        ivory.setColorAt(0.0, warm ? palette::amberHot : palette::ivoryTop);
        ivory.setColorAt(1.0, warm ? palette::amber : palette::ivoryBottom.darker(112));
        p.setBrush(ivory);
        p.drawRect(key);
    }
    const double bw = kw * 0.56;
    for (int i = 1; i < 3; ++i) {
        const double x = c.x() - inner + i * (kw + gap) - gap / 2;
        const QRectF key(x - bw / 2, c.y() - inner, bw, inner * 1.12);
        QLinearGradient gloss(key.topLeft(), key.bottomLeft());
        gloss.setColorAt(0.0, QColor(14, 14, 18));
        gloss.setColorAt(0.8, QColor(30, 29, 38));
        gloss.setColorAt(1.0, QColor(74, 72, 88));
        p.setBrush(gloss);
        p.drawRoundedRect(key, r * 0.04, r * 0.04);
    }
    // Shade inside the rim, so the keys sit behind it.
    QRadialGradient depth(c, inner);
    depth.setColorAt(0.75, QColor(0, 0, 0, 0));
    depth.setColorAt(1.0, QColor(0, 0, 0, 150));
    p.setBrush(depth);
    p.drawPath(well);
    p.restore();

    // The O itself: a machined ring, lit from the upper left.
    QPainterPath ring;
    ring.addEllipse(c, r, r);
    ring.addEllipse(c, inner, inner);
    ring.setFillRule(Qt::OddEvenFill);
    QConicalGradient machined(c, 135);
    machined.setColorAt(0.0, QColor(240, 242, 250));
    machined.setColorAt(0.22, QColor(150, 152, 166));
    machined.setColorAt(0.5, QColor(86, 88, 102));
    machined.setColorAt(0.75, QColor(170, 172, 186));
    machined.setColorAt(1.0, QColor(240, 242, 250));
    p.setBrush(machined);
    p.drawPath(ring);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 160), std::max(0.8, r * 0.05)));
    p.drawEllipse(c, r, r);
    p.drawEllipse(c, inner, inner);
    p.setPen(QPen(QColor(255, 255, 255, 110), std::max(0.6, r * 0.035)));
    p.drawArc(QRectF(c.x() - r + 1, c.y() - r + 1, 2 * r - 2, 2 * r - 2), 70 * 16, 90 * 16);
    p.restore();
}

void drawPerspectiveKeyboard(QPainter &p, const QRectF &area, int whites, double nearScale, double farScale,
                             const std::vector<int> &lit)
{
    const double spread = std::max(nearScale, farScale) * area.width();
    const QRect bounds = QRectF(area.center().x() - spread / 2, area.top(), spread, area.height()).toAlignedRect();
    // The layer has the device pixels of what it is laid on.
    const double s = scaleOf(p);
    QImage layer(deviceLength(bounds.width(), s), deviceLength(bounds.height(), s), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(s);
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        lp.setRenderHint(QPainter::Antialiasing, true);
        lp.translate(-bounds.topLeft());
        const double nearY = area.bottom(), farY = area.top();
        const double nearW = area.width() * nearScale, farW = area.width() * farScale;
        const double cx = area.center().x();
        auto xAt = [&](double u, double y) {
            const double t = (y - farY) / (nearY - farY);
            const double w = farW + (nearW - farW) * t;
            return cx - w / 2 + u * w;
        };
        auto isLit = [&](int i) { return std::find(lit.begin(), lit.end(), i) != lit.end(); };
        lp.setPen(Qt::NoPen);
        for (int i = 0; i < whites; ++i) {
            const double gap = 0.1 / whites;
            const double u0 = double(i) / whites + gap, u1 = double(i + 1) / whites - gap;
            QPolygonF key;
            key << QPointF(xAt(u0, farY), farY) << QPointF(xAt(u1, farY), farY) << QPointF(xAt(u1, nearY), nearY)
                << QPointF(xAt(u0, nearY), nearY);
            QLinearGradient g(0, farY, 0, nearY);
            if (isLit(i)) {
                g.setColorAt(0.0, QColor(150, 96, 40));
                g.setColorAt(0.7, palette::amber);
                g.setColorAt(1.0, palette::amberHot);
            } else {
                g.setColorAt(0.0, QColor(120, 116, 118));
                g.setColorAt(0.7, palette::ivoryBottom);
                g.setColorAt(1.0, palette::ivoryTop);
            }
            lp.setBrush(g);
            lp.drawPolygon(key);
        }
        // Black keys follow the octave from C: after C, D, F, G and A.
        static const bool blackAfter[7] = {true, true, false, true, true, true, false};
        for (int i = 0; i + 1 < whites; ++i) {
            if (!blackAfter[i % 7])
                continue;
            const double uc = double(i + 1) / whites;
            const double hw = 0.3 / whites;
            const double yEnd = farY + (nearY - farY) * 0.6;
            QPolygonF key;
            key << QPointF(xAt(uc - hw, farY), farY) << QPointF(xAt(uc + hw, farY), farY)
                << QPointF(xAt(uc + hw, yEnd), yEnd) << QPointF(xAt(uc - hw, yEnd), yEnd);
            QLinearGradient g(0, farY, 0, yEnd);
            g.setColorAt(0.0, QColor(8, 8, 12));
            g.setColorAt(0.85, QColor(36, 34, 46));
            g.setColorAt(1.0, QColor(84, 82, 98));
            lp.setBrush(g);
            lp.drawPolygon(key);
        }
        // The far end dissolves: fade the layer's own alpha rather than
        // painting a colour over it, so it blends with any backdrop.
        lp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        QLinearGradient fade(0, farY, 0, farY + (nearY - farY) * 0.7);
        fade.setColorAt(0.0, QColor(0, 0, 0, 0));
        fade.setColorAt(1.0, QColor(0, 0, 0, 255));
        lp.fillRect(QRectF(bounds), fade);
    }
    p.drawImage(bounds.topLeft(), layer);
}

} // namespace artgen
