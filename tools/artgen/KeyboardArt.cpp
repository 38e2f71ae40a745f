#include "Artwork.h"

#include "ArtKit.h"
#include "Outline.h"
#include "Pictograms.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QRadialGradient>

#include <cmath>

namespace artgen {

namespace {

// Where the window places each component (left, top, size); the
// background carries a recess for each, and each control picture is drawn
// over a crop of the background at its own place.
namespace at {
constexpr int keysLeft = 19, keysRight = 665, keysTop = 95, keysBottom = 178;
const QRect advert(152, 2, 340, 28);
const QRect close(23, 12, 18, 18), minimise(42, 12, 18, 18), help(61, 11, 18, 18), staff(84, 11, 18, 18);
const QRect logo(29, 43, 31, 37);
const QRect dial(645, 37, 52, 52);
constexpr int patchLeft = 179, patchTop = 49, patchSize = 28;
QRect patch(int k) { return QRect(patchLeft + patchSize * (k - 1), patchTop, patchSize, patchSize); }
const QRectF lcd(80.5, 45.5, 95, 35);
} // namespace at

constexpr double rim = 3.0;

void paintBody(QPainter &p)
{
    using namespace outline;
    const QPainterPath outer = keyboardPath(0.0);
    const QPainterPath inner = keyboardPath(rim);

    // Brushed rim, brighter along the top where the light falls.
    const double s = scaleOf(p);
    fillWithTexture(p, outer, brushedMetalTexture(keyboardWidth, keyboardHeight, 0x51a7u, palette::metal, s));
    QLinearGradient rimShade(0, 0, 0, keyboardHeight);
    rimShade.setColorAt(0.0, QColor(255, 255, 255, 60));
    rimShade.setColorAt(0.45, QColor(0, 0, 0, 30));
    rimShade.setColorAt(1.0, QColor(0, 0, 0, 120));
    p.setPen(Qt::NoPen);
    p.setBrush(rimShade);
    p.drawPath(outer.subtracted(inner));

    fillWithTexture(p, inner, lacquerTexture(keyboardWidth, keyboardHeight, 0x1acu, keyboardHeight, s));

    // Lacquer gloss: a soft reflection across the panel, stronger at the
    // upper left where a window light would catch it.
    p.save();
    p.setClipPath(inner);
    QLinearGradient sheen(0, rim, 0, 60);
    sheen.setColorAt(0.0, QColor(190, 180, 255, 30));
    sheen.setColorAt(0.25, QColor(190, 180, 255, 10));
    sheen.setColorAt(1.0, QColor(190, 180, 255, 0));
    p.setBrush(sheen);
    p.drawRect(QRectF(0, 0, keyboardWidth, 60));
    QRadialGradient glint(QPointF(150, -60), 260);
    glint.setColorAt(0.0, QColor(210, 200, 255, 26));
    glint.setColorAt(1.0, QColor(210, 200, 255, 0));
    p.setBrush(glint);
    p.drawRect(QRectF(0, 0, keyboardWidth, keyboardStepY));
    p.restore();

    // Edge lines: the outer edge is a hair darker, the seam between rim
    // and body darker still.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 120), 1.0));
    p.drawPath(keyboardPath(0.5));
    p.setPen(QPen(QColor(0, 0, 0, 170), 1.0));
    p.drawPath(keyboardPath(rim + 0.5));
    p.setPen(QPen(QColor(255, 255, 255, 24), 1.0));
    p.drawPath(keyboardPath(rim + 1.5));
}

void paintKeyWell(QPainter &p)
{
    // The key bed sits lower than the control panel: a deep well whose
    // upper lip throws a shadow onto a strip of felt behind the keys.
    const QRectF well(at::keysLeft - 3.5, 89.5, (at::keysRight - at::keysLeft) + 7, 94);
    drawRecess(p, well, 2.0, QColor(12, 11, 16), 1.4);

    Noise noise(0xfe17u);
    const double s = scaleOf(p);
    const QRect feltStrip(QPoint(at::keysLeft - 1, 90), QPoint(at::keysRight, at::keysTop - 1));
    forEachDevicePixel(p, feltStrip, [&](QPainter &dp, int x, int y) {
        const double t = (y / s - 90) / 5.0;
        const double grain = noise.symmetric() * 6.0;
        QColor felt = mix(QColor(40, 10, 18), QColor(104, 26, 42), t);
        dp.setPen(QColor(std::clamp(int(felt.red() + grain), 0, 255),
                         std::clamp(int(felt.green() + grain * 0.4), 0, 255),
                         std::clamp(int(felt.blue() + grain * 0.5), 0, 255)));
        dp.drawPoint(x, y);
    });
    // The panel's lower edge: a lit lip, then its shadow across the felt.
    p.setPen(QPen(QColor(255, 255, 255, 40), 1.0));
    p.drawLine(QPointF(rim + 1, 88.5), QPointF(outline::keyboardLowerRight - rim - 1, 88.5));
    QLinearGradient shadow(0, 90, 0, 94);
    shadow.setColorAt(0.0, QColor(0, 0, 0, 200));
    shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawRect(QRectF(at::keysLeft - 3, 90, at::keysRight - at::keysLeft + 6, 4));

    // Below the keys the floor of the well recedes into shadow.
    QLinearGradient floor(0, at::keysBottom, 0, 183);
    floor.setColorAt(0.0, QColor(0, 0, 0, 220));
    floor.setColorAt(1.0, QColor(0, 0, 0, 60));
    p.setBrush(floor);
    p.drawRect(QRectF(at::keysLeft - 3, at::keysBottom, at::keysRight - at::keysLeft + 6, 4.5));
}

void paintAdvertSlot(QPainter &p)
{
    // A display window set into the top edge, with a fine metal bezel.
    const QRectF glass = QRectF(at::advert).adjusted(-0.5, -0.5, 0.5, 0.5);
    QPainterPath outer;
    outer.addRoundedRect(glass.adjusted(-3.5, -2, 3.5, 3.5), 4, 4);
    QPainterPath inner;
    inner.addRoundedRect(glass.adjusted(-1, -1, 1, 1), 2, 2);
    drawBezel(p, outer, inner, 0xad5u);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(3, 3, 6));
    p.drawPath(inner);
}

void paintSwitchCluster(QPainter &p)
{
    QPainterPath plate;
    plate.addRoundedRect(QRectF(16.5, 6.5, 92, 29), 14.5, 14.5);
    drawRecess(p, plate, QColor(18, 17, 25), 0.9);
    for (const QRect &r : {at::close, at::minimise, at::help, at::staff}) {
        const QPointF c = QRectF(r).center();
        QPainterPath socket;
        socket.addEllipse(c, 9.2, 9.2);
        drawRecess(p, socket, QColor(8, 8, 12), 1.0);
    }
}

void paintLcd(QPainter &p)
{
    QPainterPath bezelOuter;
    bezelOuter.addRoundedRect(at::lcd.adjusted(-2, -2, 2, 2), 4, 4);
    QPainterPath glass;
    glass.addRoundedRect(at::lcd, 2.5, 2.5);
    drawBezel(p, bezelOuter, glass, 0x1cdu);
    QLinearGradient screen(at::lcd.topLeft(), at::lcd.bottomLeft());
    screen.setColorAt(0.0, QColor(14, 20, 42));
    screen.setColorAt(1.0, palette::lcd);
    p.setPen(Qt::NoPen);
    p.setBrush(screen);
    p.drawPath(glass);
    // Glass reflection across the upper part of the display.
    p.save();
    p.setClipPath(glass);
    QPainterPath reflection;
    reflection.moveTo(at::lcd.left(), at::lcd.top());
    reflection.lineTo(at::lcd.right(), at::lcd.top());
    reflection.lineTo(at::lcd.right(), at::lcd.top() + 6);
    reflection.cubicTo(at::lcd.center().x(), at::lcd.top() + 9, at::lcd.left() + 30, at::lcd.top() + 12,
                       at::lcd.left(), at::lcd.top() + 14);
    reflection.closeSubpath();
    p.setBrush(QColor(140, 160, 255, 14));
    p.drawPath(reflection);
    p.restore();
}

void paintPatchChannel(QPainter &p)
{
    const QRectF channel(at::patchLeft - 2.5, at::patchTop - 2.5, 16 * at::patchSize + 5, at::patchSize + 5);
    drawRecess(p, channel, 3.5, QColor(6, 6, 10), 1.2);
    // Key hints under the wells, as printed on a hardware panel.
    static const char *const hints[16] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0",
                                          "INS", "HOME", "PGUP", "DEL", "END", "PGDN"};
    const QFont font = pixelFont(QStringLiteral("DejaVu Sans"), 6.5, QFont::Bold, 0.3);
    for (int k = 1; k <= 16; ++k) {
        const QRect r = at::patch(k);
        printText(p, QRectF(r.left() - 4, 80.5, r.width() + 8, 8), Qt::AlignCenter, QString::fromLatin1(hints[k - 1]),
                  font, QColor(150, 146, 170));
    }
}

void paintDialSeat(QPainter &p)
{
    const QPointF c = QRectF(at::dial).center();
    QPainterPath seat;
    seat.addEllipse(c, 27.0, 27.0);
    drawRecess(p, seat, QColor(6, 6, 10), 1.3);
    // A scale of ticks round the upper arc, the way a selector is marked.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i <= 16; ++i) {
        const double deg = 215.0 - i * (250.0 / 16.0);
        const double rad = deg * M_PI / 180.0;
        const QPointF dir(std::cos(rad), -std::sin(rad));
        const bool major = i % 4 == 0;
        if (dir.y() > 0.55)
            continue;   // keep the lower arc clear of the key bed
        p.setPen(QPen(major ? QColor(186, 184, 204) : QColor(120, 118, 140), major ? 1.2 : 0.9, Qt::SolidLine,
                      Qt::RoundCap));
        p.drawLine(c + dir * 29.0, c + dir * (major ? 32.5 : 31.2));
    }
    p.restore();
}

void paintBrand(QPainter &p)
{
    const QFont word = pixelFont(QStringLiteral("URW Gothic"), 17, QFont::DemiBold, 3.0);
    engraveText(p, QRectF(496, 5, 146, 22), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("TASTAVIA"), word,
                QColor(8, 8, 12), QColor(255, 255, 255, 40));
    // The same word, filled with a whisper of metal so it reads on the lacquer.
    p.save();
    p.setFont(word);
    p.setPen(QColor(170, 168, 196, 105));
    p.drawText(QRectF(496, 5, 146, 22), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("TASTAVIA"));
    p.restore();
    // The program speaks Chinese; only the brand words stay in Latin letters.
    const QFont small = pixelFont(QStringLiteral("WenQuanYi Micro Hei"), 9, QFont::Normal, 1.0);
    printText(p, QRectF(496, 26, 146, 11), Qt::AlignHCenter | Qt::AlignVCenter,
              QStringLiteral("OLVANI \u00b7 61键电子琴"), small, QColor(150, 146, 174));
    // Small engraved captions over the display and the patch bar.
    printText(p, QRectF(82, 35.5, 60, 11), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("音色"), small,
              QColor(150, 146, 174));
    printText(p, QRectF(at::patchLeft, 35.5, 120, 11), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("快捷音色"),
              small, QColor(150, 146, 174));
}

void paintGrip(QPainter &p)
{
    // The right end is a handle: a column of small dimples says so.
    for (int row = 0; row < 7; ++row) {
        const QPointF c(706.5, 36.5 + row * 6.0);
        QRadialGradient dimple(c - QPointF(0.4, 0.6), 1.8);
        dimple.setColorAt(0.0, QColor(0, 0, 0, 190));
        dimple.setColorAt(0.7, QColor(0, 0, 0, 90));
        dimple.setColorAt(1.0, QColor(0, 0, 0, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(dimple);
        p.drawEllipse(c, 1.8, 1.8);
        p.setBrush(QColor(255, 255, 255, 26));
        p.drawEllipse(c + QPointF(0.3, 1.0), 1.0, 0.6);
    }
}

QImage keyboardBackground(double scale)
{
    QImage img = canvas(outline::keyboardWidth, outline::keyboardHeight, palette::bodyDeep, scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    paintBody(p);
    paintKeyWell(p);
    paintAdvertSlot(p);
    paintSwitchCluster(p);
    {
        QPainterPath plate;
        plate.addRoundedRect(QRectF(at::logo).adjusted(-2.5, -2.5, 2.5, 2.5), 4, 4);
        drawRecess(p, plate, QColor(14, 13, 20), 0.9);
    }
    paintLcd(p);
    paintPatchChannel(p);
    paintDialSeat(p);
    paintBrand(p);
    paintGrip(p);
    return img;
}

// ---- Keys -------------------------------------------------------------

QImage whiteKey(bool down, double scale)
{
    constexpr int w = 18, h = 83;
    QImage img = canvas(w, h, palette::ivoryTop, scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);

    // A pressed key tilts down into the bed: its top sinks further into
    // the panel's shadow, its front lip shows less, and the light under it
    // glows warm.
    const int shadowRows = down ? 7 : 4;
    const int lipTop = down ? 79 : 76;
    const QColor top = down ? QColor(248, 232, 204) : palette::ivoryTop;
    const QColor bottom = down ? QColor(250, 206, 142) : palette::ivoryBottom;

    QLinearGradient face(0, 0, 0, lipTop);
    face.setColorAt(0.0, top);
    face.setColorAt(1.0, bottom);
    p.fillRect(QRectF(0, 0, w, lipTop), face);

    Noise noise(down ? 0x17u : 0x71u);
    forEachDevicePixel(p, QRect(0, 0, w - 1, lipTop), [&](QPainter &dp, int x, int y) {
        const double grain = noise.symmetric();
        if (std::abs(grain) > 0.7) {
            dp.setPen(grain > 0 ? QColor(255, 255, 255, 22) : QColor(120, 100, 60, 16));
            dp.drawPoint(x, y);
        }
    });

    QLinearGradient shadow(0, 0, 0, shadowRows);
    shadow.setColorAt(0.0, QColor(30, 22, 16, 220));
    shadow.setColorAt(0.5, QColor(60, 46, 30, 90));
    shadow.setColorAt(1.0, QColor(60, 46, 30, 0));
    p.fillRect(QRectF(0, 0, w, shadowRows), shadow);

    // Front lip: a highlight where the top bends over, then the face.
    QLinearGradient lip(0, lipTop, 0, h);
    lip.setColorAt(0.0, down ? QColor(230, 190, 130) : QColor(222, 212, 190));
    lip.setColorAt(0.7, down ? QColor(196, 150, 92) : QColor(196, 184, 160));
    lip.setColorAt(1.0, down ? QColor(120, 86, 46) : QColor(132, 122, 104));
    p.fillRect(QRectF(0, lipTop, w, h - lipTop), lip);
    p.setPen(down ? QColor(255, 236, 200) : QColor(255, 253, 246));
    p.drawLine(QPointF(0.5, lipTop - 0.5), QPointF(w - 1.5, lipTop - 0.5));

    if (down) {
        // Warm glow rising from the front of the key.
        QRadialGradient glow(QPointF(w / 2.0, h + 6), 46);
        glow.setColorAt(0.0, QColor(255, 170, 60, 90));
        glow.setColorAt(1.0, QColor(255, 170, 60, 0));
        p.fillRect(QRectF(0, 0, w, h), glow);
    }

    // Left edge catches the light; the right edge is the gap to the next key.
    p.setPen(QColor(255, 255, 255, down ? 60 : 110));
    p.drawLine(QPointF(0.5, shadowRows), QPointF(0.5, lipTop - 1));
    p.setPen(down ? QColor(120, 92, 58) : QColor(138, 130, 116));
    p.drawLine(QPointF(w - 0.5, 0), QPointF(w - 0.5, h));
    p.setPen(QColor(0, 0, 0, 60));
    p.drawLine(QPointF(w - 1.5, 0), QPointF(w - 1.5, h));
    return img;
}

QImage blackKey(bool down, double scale)
{
    constexpr int w = 18, h = 47;
    QImage img = canvas(w, h, QColor(6, 6, 8), scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);

    const double frontTop = down ? 42.5 : 39.5;
    // Side bevels run the full length and narrow towards the front.
    QPainterPath left;
    left.moveTo(0.8, 0);
    left.lineTo(3.2, 0);
    left.lineTo(3.6, frontTop);
    left.lineTo(1.2, h - 0.8);
    left.lineTo(0.8, h - 0.8);
    left.closeSubpath();
    QPainterPath right;
    right.moveTo(w - 0.8, 0);
    right.lineTo(w - 3.2, 0);
    right.lineTo(w - 3.6, frontTop);
    right.lineTo(w - 1.2, h - 0.8);
    right.lineTo(w - 0.8, h - 0.8);
    right.closeSubpath();
    p.setPen(Qt::NoPen);
    QLinearGradient side(0, 0, 0, h);
    side.setColorAt(0.0, QColor(38, 36, 46));
    side.setColorAt(1.0, QColor(58, 56, 68));
    p.setBrush(side);
    p.drawPath(left);
    p.setBrush(QColor(20, 19, 25));
    p.drawPath(right);

    // Top surface: deep gloss, with the highlight along its upper third.
    const QRectF topFace(3.2, 0, w - 6.4, frontTop);
    QLinearGradient gloss(0, 0, 0, frontTop);
    gloss.setColorAt(0.0, QColor(18, 17, 22));
    gloss.setColorAt(0.06, down ? QColor(56, 50, 52) : QColor(88, 86, 104));
    gloss.setColorAt(0.30, down ? QColor(34, 30, 32) : QColor(46, 45, 56));
    gloss.setColorAt(0.34, QColor(22, 21, 27));
    gloss.setColorAt(1.0, QColor(12, 12, 16));
    p.setBrush(gloss);
    p.drawRect(topFace);
    // A narrow specular streak, as on polished lacquer.
    QLinearGradient streak(topFace.left(), 0, topFace.right(), 0);
    streak.setColorAt(0.0, QColor(255, 255, 255, 0));
    streak.setColorAt(0.35, QColor(255, 255, 255, down ? 20 : 46));
    streak.setColorAt(0.55, QColor(255, 255, 255, 0));
    p.setBrush(streak);
    p.drawRect(QRectF(topFace.left(), 2, topFace.width(), frontTop * 0.32));

    // Front slope down to the key bed.
    QPainterPath front;
    front.moveTo(3.6, frontTop);
    front.lineTo(w - 3.6, frontTop);
    front.lineTo(w - 1.2, h - 0.8);
    front.lineTo(1.2, h - 0.8);
    front.closeSubpath();
    QLinearGradient slope(0, frontTop, 0, h);
    slope.setColorAt(0.0, QColor(72, 70, 84));
    slope.setColorAt(1.0, QColor(30, 29, 36));
    p.setBrush(slope);
    p.drawPath(front);

    if (down) {
        // The same warm light as the white keys, seen on black: it
        // rims the edges and glows up from the front.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 160, 60, 150), 1.0));
        p.drawLine(QPointF(3.4, 4), QPointF(3.8, frontTop));
        p.drawLine(QPointF(w - 3.4, 4), QPointF(w - 3.8, frontTop));
        QRadialGradient glow(QPointF(w / 2.0, h + 4), 30);
        glow.setColorAt(0.0, QColor(255, 150, 50, 150));
        glow.setColorAt(1.0, QColor(255, 150, 50, 0));
        p.setPen(Qt::NoPen);
        p.setCompositionMode(QPainter::CompositionMode_Plus);
        p.setBrush(glow);
        p.drawRect(QRectF(0, 0, w, h));
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    p.setPen(QColor(0, 0, 0));
    p.drawLine(QPointF(0.5, 0), QPointF(0.5, h));
    p.drawLine(QPointF(w - 0.5, 0), QPointF(w - 0.5, h));
    p.drawLine(QPointF(0, h - 0.5), QPointF(w, h - 0.5));
    return img;
}

// ---- Round command switches -------------------------------------------

enum class Glyph { Close, Minimise, Help, Note };

QImage roundSwitch(const QImage &background, const QRect &place, Glyph glyph, bool down)
{
    QImage img = cropOf(background, place.x(), place.y(), place.width(), place.height());
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c(place.width() / 2.0, place.height() / 2.0);
    const double r = 7.2;

    // Metal collar, then the dark dome inside it.
    QConicalGradient collar(c, 120);
    collar.setColorAt(0.0, QColor(220, 222, 232));
    collar.setColorAt(0.3, QColor(120, 122, 136));
    collar.setColorAt(0.55, QColor(70, 72, 84));
    collar.setColorAt(0.8, QColor(150, 152, 166));
    collar.setColorAt(1.0, QColor(220, 222, 232));
    p.setPen(QPen(QColor(0, 0, 0, 180), 0.8));
    p.setBrush(collar);
    p.drawEllipse(c, r + 0.6, r + 0.6);

    const QPointF domeCentre = c + QPointF(0, down ? 0.5 : 0.0);
    QRadialGradient dome(domeCentre + QPointF(-1.6, down ? 1.4 : -2.2), r * 1.5);
    if (down) {
        dome.setColorAt(0.0, QColor(30, 26, 30));
        dome.setColorAt(1.0, QColor(10, 9, 12));
    } else {
        dome.setColorAt(0.0, QColor(78, 74, 96));
        dome.setColorAt(0.6, QColor(30, 28, 40));
        dome.setColorAt(1.0, QColor(14, 13, 20));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(dome);
    p.drawEllipse(domeCentre, r - 1.0, r - 1.0);
    if (!down) {
        p.setBrush(QColor(255, 255, 255, 36));
        p.drawEllipse(QRectF(c.x() - 3.6, c.y() - 5.4, 7.2, 3.4));
    }

    const QColor ink = down ? palette::amberHot : palette::silver;
    auto drawGlyph = [&](QPainter &gp, const QColor &colour) {
        gp.save();
        gp.translate(domeCentre);
        const QPen pen(colour, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        switch (glyph) {
        case Glyph::Close:
            gp.setPen(pen);
            gp.drawLine(QPointF(-2.6, -2.6), QPointF(2.6, 2.6));
            gp.drawLine(QPointF(-2.6, 2.6), QPointF(2.6, -2.6));
            break;
        case Glyph::Minimise:
            gp.setPen(QPen(colour, 1.7, Qt::SolidLine, Qt::RoundCap));
            gp.drawLine(QPointF(-3.0, 0.3), QPointF(3.0, 0.3));
            break;
        case Glyph::Help: {
            gp.setPen(QPen(colour, 1.45, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            gp.setBrush(Qt::NoBrush);
            QPainterPath hook;
            hook.moveTo(-2.2, -1.6);
            hook.cubicTo(-2.2, -4.0, 2.4, -4.2, 2.4, -1.7);
            hook.cubicTo(2.4, -0.2, 0.0, 0.0, 0.0, 1.5);
            gp.drawPath(hook);
            gp.setPen(Qt::NoPen);
            gp.setBrush(colour);
            gp.drawEllipse(QPointF(0.0, 3.7), 0.95, 0.95);
            break;
        }
        case Glyph::Note: {
            gp.setPen(Qt::NoPen);
            gp.setBrush(colour);
            gp.save();
            gp.translate(-1.3, 2.5);
            gp.rotate(-22);
            gp.drawEllipse(QPointF(0, 0), 2.5, 1.8);
            gp.restore();
            gp.setPen(QPen(colour, 1.2, Qt::SolidLine, Qt::FlatCap));
            gp.drawLine(QPointF(0.95, 2.0), QPointF(0.95, -4.6));
            gp.setPen(QPen(colour, 1.3, Qt::SolidLine, Qt::RoundCap));
            QPainterPath flag;
            flag.moveTo(1.0, -4.4);
            flag.cubicTo(2.0, -3.0, 3.8, -2.6, 3.0, -0.2);
            gp.setBrush(Qt::NoBrush);
            gp.drawPath(flag);
            break;
        }
        }
        gp.restore();
    };

    if (down) {
        paintGlow(p, img.size(), 3, palette::amber, 1.6, [&](QPainter &gp) { drawGlyph(gp, Qt::white); });
    } else {
        p.save();
        p.translate(0, 0.8);
        drawGlyph(p, QColor(0, 0, 0, 170));
        p.restore();
    }
    drawGlyph(p, ink);
    return img;
}

// ---- Quick-patch buttons -----------------------------------------------

QImage patchButton(const QImage &background, int k, bool down)
{
    const QRect place = at::patch(k);
    QImage img = cropOf(background, place.x(), place.y(), place.width(), place.height());
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF face(1.5, 1.5, 25, 25);

    QLinearGradient fill(0, face.top(), 0, face.bottom());
    if (down) {
        fill.setColorAt(0.0, QColor(12, 11, 16));
        fill.setColorAt(0.3, QColor(28, 22, 22));
        fill.setColorAt(1.0, QColor(44, 32, 26));
    } else {
        fill.setColorAt(0.0, QColor(58, 55, 74));
        fill.setColorAt(0.5, QColor(34, 32, 45));
        fill.setColorAt(1.0, QColor(22, 21, 30));
    }
    p.setPen(QPen(QColor(0, 0, 0, 220), 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(face, 4, 4);

    if (down) {
        // Pressed: the top edge is in shadow, and the light pools in.
        p.save();
        QPainterPath clip;
        clip.addRoundedRect(face, 4, 4);
        p.setClipPath(clip);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0, 0, 0, 180), 2.0));
        p.drawRoundedRect(face.translated(0, 1.2), 4, 4);
        QRadialGradient pool(face.center() + QPointF(0, 2), 16);
        pool.setColorAt(0.0, QColor(255, 160, 60, 60));
        pool.setColorAt(1.0, QColor(255, 160, 60, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(pool);
        p.drawRect(face);
        p.restore();
        p.setPen(QPen(QColor(255, 190, 110, 70), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(face.left() + 3, face.bottom() + 0.5), QPointF(face.right() - 3, face.bottom() + 0.5));
    } else {
        // Raised: a bright top edge and a soft edge light down the sides.
        QLinearGradient edge(0, face.top(), 0, face.bottom());
        edge.setColorAt(0.0, QColor(255, 255, 255, 90));
        edge.setColorAt(0.4, QColor(255, 255, 255, 12));
        edge.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.setPen(QPen(QBrush(edge), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(face.adjusted(1, 1, -1, -1), 3, 3);
    }

    const QRectF box = QRectF(5, 5, 18, 18).translated(0, down ? 1.0 : 0.0);
    if (down) {
        const QImage glowShape = pictogramLayer(k, img, box, Qt::white);
        paintGlow(p, img.size(), 3, palette::amber, 0.7, [&](QPainter &gp) { gp.drawImage(0, 0, glowShape); });
        QImage lit = pictogramLayer(k, img, box, Qt::white);
        {
            QPainter lp(&lit);
            lp.setCompositionMode(QPainter::CompositionMode_SourceIn);
            QLinearGradient warm(0, box.top(), 0, box.bottom());
            warm.setColorAt(0.0, palette::amberHot);
            warm.setColorAt(1.0, palette::amber);
            lp.fillRect(QRectF(QPointF(0, 0), lit.deviceIndependentSize()), warm);
        }
        p.drawImage(0, 0, lit);
    } else {
        p.drawImage(0, 1, pictogramLayer(k, img, box, QColor(0, 0, 0, 200)));
        QImage print = pictogramLayer(k, img, box, Qt::white);
        {
            QPainter lp(&print);
            lp.setCompositionMode(QPainter::CompositionMode_SourceIn);
            QLinearGradient silver(0, box.top(), 0, box.bottom());
            silver.setColorAt(0.0, QColor(232, 234, 244));
            silver.setColorAt(1.0, QColor(170, 172, 190));
            lp.fillRect(QRectF(QPointF(0, 0), print.deviceIndependentSize()), silver);
        }
        p.drawImage(0, 0, print);
    }
    return img;
}

// ---- Select-patch dial --------------------------------------------------

QImage dial(const QImage &background, bool lit)
{
    QImage img = cropOf(background, at::dial.x(), at::dial.y(), at::dial.width(), at::dial.height());
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c(26, 26);

    if (lit) {
        // Light spills round the knob into its seat, and stays in it.
        p.save();
        QPainterPath seat;
        seat.addEllipse(c, 25.5, 25.5);
        p.setClipPath(seat);
        paintGlow(p, img.size(), 3, palette::amber, 1.5, [&](QPainter &gp) {
            gp.setPen(QPen(Qt::white, 2.5));
            gp.setBrush(Qt::NoBrush);
            gp.drawEllipse(c, 22.5, 22.5);
        });
        p.restore();
    }
    // Shadow of the knob on its seat.
    QRadialGradient shadow(c + QPointF(0, 2), 25);
    shadow.setColorAt(0.75, QColor(0, 0, 0, 160));
    shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(c + QPointF(0, 2), 25, 25);

    // Knurled grip: fine ridges all round.
    QConicalGradient knurl(c, 0);
    for (int i = 0; i < 48; ++i) {
        const double t = i / 48.0;
        knurl.setColorAt(t, QColor(64, 64, 76));
        knurl.setColorAt(t + 0.5 / 48.0, QColor(22, 22, 28));
    }
    knurl.setColorAt(1.0, QColor(64, 64, 76));
    p.setBrush(knurl);
    p.setPen(QPen(QColor(0, 0, 0, 220), 1.0));
    p.drawEllipse(c, 21.5, 21.5);
    QRadialGradient gripShade(c + QPointF(-6, -8), 30);
    gripShade.setColorAt(0.0, QColor(255, 255, 255, 50));
    gripShade.setColorAt(0.6, QColor(255, 255, 255, 0));
    gripShade.setColorAt(1.0, QColor(0, 0, 0, 120));
    p.setPen(Qt::NoPen);
    p.setBrush(gripShade);
    p.drawEllipse(c, 21.5, 21.5);
    if (lit) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 180, 90, 150), 1.0));
        p.drawEllipse(c, 21.0, 21.0);
    }

    // Machined aluminium cap: the conical sheen of a spun finish.
    QConicalGradient spun(c, 60);
    spun.setColorAt(0.00, QColor(236, 238, 246));
    spun.setColorAt(0.12, QColor(160, 162, 176));
    spun.setColorAt(0.25, QColor(108, 110, 124));
    spun.setColorAt(0.40, QColor(176, 178, 192));
    spun.setColorAt(0.50, QColor(226, 228, 238));
    spun.setColorAt(0.62, QColor(150, 152, 166));
    spun.setColorAt(0.75, QColor(100, 102, 116));
    spun.setColorAt(0.88, QColor(170, 172, 186));
    spun.setColorAt(1.00, QColor(236, 238, 246));
    p.setBrush(spun);
    p.setPen(QPen(QColor(0, 0, 0, 200), 1.0));
    p.drawEllipse(c, 15.5, 15.5);
    p.setBrush(Qt::NoBrush);
    for (double r = 3.0; r < 15.0; r += 2.2) {
        p.setPen(QPen(QColor(255, 255, 255, 18), 0.6));
        p.drawEllipse(c, r, r);
    }
    p.setPen(QPen(QColor(255, 255, 255, 120), 1.0));
    p.drawArc(QRectF(c.x() - 14.5, c.y() - 14.5, 29, 29), 60 * 16, 100 * 16);

    // Pointer: a groove that lights up amber.
    const QPointF from = c + QPointF(0, -5.0);
    const QPointF to = c + QPointF(0, -13.2);
    if (lit) {
        paintGlow(p, img.size(), 3, palette::amber, 2.0, [&](QPainter &gp) {
            gp.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
            gp.drawLine(from, to);
        });
        p.setPen(QPen(palette::amberHot, 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(from, to);
    } else {
        p.setPen(QPen(QColor(255, 255, 255, 120), 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(from + QPointF(0, 0.8), to + QPointF(0, 0.8));
        p.setPen(QPen(QColor(24, 24, 30), 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(from, to);
    }
    return img;
}

QImage logo(const QImage &background)
{
    QImage img = cropOf(background, at::logo.x(), at::logo.y(), at::logo.width(), at::logo.height());
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    drawOlvaniMark(p, QPointF(15.5, 14.0), 11.5);
    QFont font = pixelFont(QStringLiteral("DejaVu Sans"), 6, QFont::Bold, 0.5);
    // Hinting snaps each advance to whole pixels, which at this size opens
    // uneven gaps inside the word.
    font.setHintingPreference(QFont::PreferNoHinting);
    printText(p, QRectF(0, 27.5, 31, 8), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("OLVANI"), font,
              QColor(196, 196, 212));
    return img;
}

} // namespace

QRect designedGlint(double scale)
{
    const int left = int(std::floor(6 * scale + 1e-9)), top = int(std::floor(1 * scale + 1e-9));
    return QRect(QPoint(left, top), QPoint(deviceLength(12, scale) - 1, deviceLength(2, scale) - 1));
}

PictureSet drawKeyboardWindow(double scale)
{
    PictureSet out;
    const QImage shapedArt = keyboardBackground(scale);
    QImage nt = finishRgb(shapedArt);
    outline::applyKeyboardColourKey(nt);
    out[QStringLiteral("BACKGROUND_NT")] = nt;
    out[QStringLiteral("BACKGROUND_WINDOWS")] = finishRgb(
        onBackingPlate(shapedArt, outline::keyboardPath(0.0),
                       QSize(outline::keyboardWidth, outline::keyboardHeight), 0x91a7u));

    out[QStringLiteral("WHITEKEY_UP")] = finishRgb(whiteKey(false, scale));
    out[QStringLiteral("WHITEKEY_DOWN")] = finishRgb(whiteKey(true, scale));
    const QImage blackUp = finishRgb(blackKey(false, scale));
    out[QStringLiteral("BLACKKEY_UP")] = blackUp;
    out[QStringLiteral("BLACKKEY_DOWN")] = finishRgb(blackKey(true, scale));

    // The picture the black keys carry until their first release: the up
    // picture with a slightly brighter glint in six pixels of its second row.
    QImage designed = blackUp.copy();
    const QRect glint = designedGlint(scale);
    for (int y = glint.top(); y <= glint.bottom(); ++y)
        for (int x = glint.left(); x <= glint.right(); ++x) {
            uchar *px = designed.scanLine(y) + 3 * x;
            for (int ch = 0; ch < 3; ++ch)
                px[ch] = uchar(std::min(255, px[ch] + 7));
        }
    out[QStringLiteral("blackkey_designed")] = designed;

    const struct {
        const char *name;
        QRect place;
        Glyph glyph;
    } switches[] = {{"CLOSE", at::close, Glyph::Close},
                    {"MINIMIZE", at::minimise, Glyph::Minimise},
                    {"HELP", at::help, Glyph::Help},
                    {"STAFF", at::staff, Glyph::Note}};
    for (const auto &s : switches) {
        const QString base = QString::fromLatin1(s.name);
        out[base + QStringLiteral("_UP")] = finishRgb(roundSwitch(shapedArt, s.place, s.glyph, false));
        out[base + QStringLiteral("_DOWN")] = finishRgb(roundSwitch(shapedArt, s.place, s.glyph, true));
    }

    for (int k = 1; k <= 16; ++k) {
        const QString base = QStringLiteral("PATCH%1").arg(k, 2, 10, QLatin1Char('0'));
        out[base + QStringLiteral("_UP")] = finishRgb(patchButton(shapedArt, k, false));
        out[base + QStringLiteral("_DOWN")] = finishRgb(patchButton(shapedArt, k, true));
    }
    out[QStringLiteral("SELECTPATCH_UP")] = finishRgb(dial(shapedArt, false));
    out[QStringLiteral("SELECTPATCH_DOWN")] = finishRgb(dial(shapedArt, true));
    out[QStringLiteral("Logo")] = finishRgb(logo(shapedArt));
    return out;
}

} // namespace artgen
