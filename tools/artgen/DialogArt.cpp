#include "Artwork.h"

#include "ArtKit.h"
#include "Outline.h"
#include "Pictograms.h"

#include <QLinearGradient>
#include <QRadialGradient>

#include <cmath>

namespace artgen {

namespace {

constexpr double rim = 3.0;
const QString hei = QStringLiteral("WenQuanYi Micro Hei");
const QString song = QStringLiteral("AR PL UMing CN");

// Lacquered body inside a brushed rim, for any outline.
void paintBody(QPainter &p, const QSize &size, const QPainterPath &outer, const QPainterPath &inner,
               std::uint32_t seed, int gradientHeight)
{
    const double s = scaleOf(p);
    fillWithTexture(p, outer, brushedMetalTexture(size.width(), size.height(), seed, palette::metal, s));
    QLinearGradient rimShade(0, 0, 0, size.height());
    rimShade.setColorAt(0.0, QColor(255, 255, 255, 60));
    rimShade.setColorAt(0.4, QColor(0, 0, 0, 20));
    rimShade.setColorAt(1.0, QColor(0, 0, 0, 120));
    p.setPen(Qt::NoPen);
    p.setBrush(rimShade);
    p.drawPath(outer.subtracted(inner));
    fillWithTexture(p, inner, lacquerTexture(size.width(), size.height(), seed * 7u + 1u, gradientHeight, s));

    p.save();
    p.setClipPath(inner);
    QRadialGradient glint(QPointF(size.width() * 0.25, -size.height() * 0.35), size.height() * 0.9);
    glint.setColorAt(0.0, QColor(210, 200, 255, 26));
    glint.setColorAt(1.0, QColor(210, 200, 255, 0));
    p.setBrush(glint);
    p.drawRect(QRectF(QPointF(0, 0), QSizeF(size)));
    p.restore();
}

void paintEdges(QPainter &p, const QPainterPath &outerHalf, const QPainterPath &seam, const QPainterPath &seamLight)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 120), 1.0));
    p.drawPath(outerHalf);
    p.setPen(QPen(QColor(0, 0, 0, 170), 1.0));
    p.drawPath(seam);
    p.setPen(QPen(QColor(255, 255, 255, 24), 1.0));
    p.drawPath(seamLight);
}

void engravedGroove(QPainter &p, QPointF a, QPointF b)
{
    p.setPen(QPen(QColor(0, 0, 0, 170), 1.0));
    p.drawLine(a, b);
    p.setPen(QPen(QColor(255, 255, 255, 30), 1.0));
    p.drawLine(a + QPointF(0, 1), b + QPointF(0, 1));
}

// ---- Patch selection window --------------------------------------------

namespace patchAt {
const QRect familyList(21, 23, 150, 250);
const QRect instrumentList(181, 23, 115, 150);
const QRect ok(219, 188, 66, 25), cancel(219, 218, 66, 25), apply(219, 249, 66, 25);
} // namespace patchAt

QImage patchBackground(double scale)
{
    const QSize size(outline::patchWidth, outline::patchHeight);
    QImage img = canvas(size.width(), size.height(), palette::bodyDeep, scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    paintBody(p, size, outline::patchPath(0), outline::patchPath(rim), 0x7a7cu, size.height());
    paintEdges(p, outline::patchPath(0.5), outline::patchPath(rim + 0.5), outline::patchPath(rim + 1.5));

    // Title on the tab.
    printText(p, QRectF(15, 4, 104, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("选择音色"),
              pixelFont(hei, 12, QFont::Bold, 2.0), QColor(196, 192, 218));

    // Wells for the two lists and a rail for the three buttons.
    drawRecess(p, QRectF(patchAt::familyList).adjusted(-2.5, -2.5, 3.5, 3.5), 3, QColor(6, 6, 10), 1.2);
    drawRecess(p, QRectF(patchAt::instrumentList).adjusted(-2.5, -2.5, 3.5, 3.5), 3, QColor(6, 6, 10), 1.2);
    drawRecess(p, QRectF(214.5, 183.5, 76, 95), 5, QColor(14, 13, 20), 1.0);

    // Beside the rail, the maker's mark cut into the body.
    drawRecess(p, QRectF(181.5, 183.5, 29, 95), 5, QColor(14, 13, 20), 0.8);
    drawOlvaniMark(p, QPointF(196, 207), 10.0);
    {
        const QFont small = pixelFont(QStringLiteral("DejaVu Sans"), 6, QFont::Bold, 0.8);
        p.save();
        p.translate(196, 264);
        p.rotate(-90);
        printText(p, QRectF(-30, -5, 60, 10), Qt::AlignCenter, QStringLiteral("OLVANI"), small, QColor(150, 146, 170));
        p.restore();
    }

    // Footer: a groove and the product's name.
    engravedGroove(p, QPointF(18, 284.5), QPointF(292, 284.5));
    const QFont word = pixelFont(QStringLiteral("URW Gothic"), 13, QFont::DemiBold, 2.4);
    engraveText(p, QRectF(18, 289, 150, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("TASTAVIA"), word);
    p.save();
    p.setFont(word);
    p.setPen(QColor(170, 168, 196, 105));
    p.drawText(QRectF(18, 289, 150, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("TASTAVIA"));
    p.restore();
    printText(p, QRectF(150, 289, 142, 20), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("128 GM 音色"),
              pixelFont(hei, 10), QColor(150, 146, 170));
    return img;
}

// The dialog buttons' face: lit from above at rest, sunk and warmed by the
// amber glow when pressed.
void drawButtonFace(QPainter &p, const QRectF &face, qreal radius, const QColor &top, bool down)
{
    QLinearGradient fill(0, face.top(), 0, face.bottom());
    if (down) {
        fill.setColorAt(0.0, QColor(14, 12, 16));
        fill.setColorAt(1.0, QColor(46, 34, 26));
    } else {
        fill.setColorAt(0.0, top);
        fill.setColorAt(0.5, QColor(36, 34, 48));
        fill.setColorAt(1.0, QColor(22, 21, 30));
    }
    p.setPen(QPen(QColor(0, 0, 0, 220), 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(face, radius, radius);
}

QImage textButton(const QImage &background, const QRect &place, const QString &text, bool down)
{
    QImage img = cropOf(background, place.x(), place.y(), place.width(), place.height());
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    const QRectF face(1.5, 1.5, place.width() - 3, place.height() - 3);

    drawButtonFace(p, face, 4, QColor(66, 63, 84), down);
    QPainterPath clip;
    clip.addRoundedRect(face, 4, 4);
    if (down) {
        p.save();
        p.setClipPath(clip);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0, 0, 0, 170), 2.0));
        p.drawRoundedRect(face.translated(0, 1.2), 4, 4);
        p.restore();
    } else {
        QLinearGradient edge(0, face.top(), 0, face.bottom());
        edge.setColorAt(0.0, QColor(255, 255, 255, 90));
        edge.setColorAt(0.5, QColor(255, 255, 255, 10));
        edge.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.setPen(QPen(QBrush(edge), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(face.adjusted(1, 1, -1, -1), 3, 3);
    }

    const QFont font = pixelFont(hei, 14, QFont::Bold, 3.0);
    const QRectF textRect = face.translated(1.5, down ? 1.0 : 0.0);
    if (down) {
        paintGlow(p, img.size(), 3, palette::amber, 0.8, [&](QPainter &gp) {
            gp.setFont(font);
            gp.setPen(Qt::white);
            gp.drawText(textRect, Qt::AlignCenter, text);
        });
        p.setFont(font);
        p.setPen(palette::amberHot);
        p.drawText(textRect, Qt::AlignCenter, text);
    } else {
        printText(p, textRect, Qt::AlignCenter, text, font, palette::silver);
    }
    return img;
}

// ---- Advert pages window -----------------------------------------------

namespace adAt {
const QRect upper(211, 231, 21, 21), next(211, 256, 21, 21), close(211, 327, 21, 21);
const QRectF textPanel(5.5, 81.5, 200, 271);
} // namespace adAt

QImage advertBackground(double scale)
{
    constexpr int w = 400, h = 356;
    QImage img = canvas(w, h, palette::bodyDeep, scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    QPainterPath outer, inner, half, seam, seamLight;
    outer.addRect(0, 0, w, h);
    inner.addRect(QRectF(rim, rim, w - 2 * rim, h - 2 * rim));
    half.addRect(QRectF(0.5, 0.5, w - 1, h - 1));
    seam.addRect(QRectF(rim + 0.5, rim + 0.5, w - 2 * rim - 1, h - 2 * rim - 1));
    seamLight.addRect(QRectF(rim + 1.5, rim + 1.5, w - 2 * rim - 3, h - 2 * rim - 3));
    paintBody(p, QSize(w, h), outer, inner, 0xadu, h);
    paintEdges(p, half, seam, seamLight);

    // Heading area: the program writes the page heading at (9, 22).
    printText(p, QRectF(10, 7, 200, 10), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("TASTAVIA  \u00b7  产品介绍"),
              pixelFont(hei, 9), QColor(140, 136, 164));
    engravedGroove(p, QPointF(9, 52.5), QPointF(204, 52.5));
    p.setPen(Qt::NoPen);
    p.setBrush(palette::amber);
    p.drawRect(QRectF(9, 52, 26, 1.5));

    drawRecess(p, adAt::textPanel, 3, QColor(0, 0, 0), 1.2);

    // Page buttons: a rail for up and down, a socket for close.
    drawRecess(p, QRectF(208.5, 228.5, 27, 51), 6, QColor(12, 11, 18), 1.0);
    drawRecess(p, QRectF(208.5, 324.5, 27, 27), 6, QColor(12, 11, 18), 1.0);
    printText(p, QRectF(204, 213, 36, 12), Qt::AlignCenter, QStringLiteral("翻页"), pixelFont(hei, 9),
              QColor(150, 146, 174));

    // A divider, then the brand column.
    p.setPen(QPen(QColor(0, 0, 0, 150), 1.0));
    p.drawLine(QPointF(240.5, 14), QPointF(240.5, 342));
    p.setPen(QPen(QColor(255, 255, 255, 22), 1.0));
    p.drawLine(QPointF(241.5, 14), QPointF(241.5, 342));

    const QPointF emblem(318, 86);
    QRadialGradient halo(emblem, 80);
    halo.setColorAt(0.0, QColor(120, 100, 220, 46));
    halo.setColorAt(1.0, QColor(120, 100, 220, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(emblem, 80, 80);
    drawOlvaniMark(p, emblem, 46);

    const QFont word = pixelFont(QStringLiteral("URW Gothic"), 19, QFont::DemiBold, 3.2);
    QLinearGradient metal(0, 152, 0, 172);
    metal.setColorAt(0.0, QColor(240, 240, 250));
    metal.setColorAt(1.0, QColor(150, 150, 170));
    p.save();
    p.setFont(word);
    p.setPen(QColor(0, 0, 0, 160));
    p.drawText(QRectF(246, 151, 146, 24), Qt::AlignCenter, QStringLiteral("TASTAVIA"));
    p.setPen(QPen(QBrush(metal), 1));
    p.drawText(QRectF(246, 150, 146, 24), Qt::AlignCenter, QStringLiteral("TASTAVIA"));
    p.restore();
    printText(p, QRectF(246, 176, 146, 20), Qt::AlignCenter, QStringLiteral("随心弹奏 · 声声入耳"),
              pixelFont(song, 13), QColor(226, 214, 190));
    printText(p, QRectF(246, 197, 146, 13), Qt::AlignCenter, QStringLiteral("OLVANI 屏幕电子琴"),
              pixelFont(hei, 9, QFont::Normal, 1.0), QColor(150, 146, 174));

    drawPerspectiveKeyboard(p, QRectF(252, 232, 132, 104), 8, 1.0, 0.62, {4});
    return img;
}

enum class PageGlyph { Close, Down, Up };

QImage pageButton(const QImage &background, const QRect &place, PageGlyph glyph, bool down)
{
    QImage img = cropOf(background, place.x(), place.y(), place.width(), place.height());
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF face(1.5, 1.5, 18, 18);
    drawButtonFace(p, face, 4.5, QColor(70, 67, 88), down);
    if (!down) {
        QLinearGradient edge(0, face.top(), 0, face.bottom());
        edge.setColorAt(0.0, QColor(255, 255, 255, 90));
        edge.setColorAt(0.6, QColor(255, 255, 255, 0));
        p.setPen(QPen(QBrush(edge), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(face.adjusted(1, 1, -1, -1), 3.5, 3.5);
    }

    const QPointF c = face.center() + QPointF(0, down ? 0.8 : 0.0);
    auto drawGlyph = [&](QPainter &gp, const QColor &colour) {
        gp.save();
        gp.translate(c);
        switch (glyph) {
        case PageGlyph::Close:
            gp.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap));
            gp.drawLine(QPointF(-3.4, -3.4), QPointF(3.4, 3.4));
            gp.drawLine(QPointF(-3.4, 3.4), QPointF(3.4, -3.4));
            break;
        case PageGlyph::Down:
        case PageGlyph::Up: {
            const double s = glyph == PageGlyph::Down ? 1.0 : -1.0;
            QPainterPath arrow;
            arrow.moveTo(-4.4, -2.2 * s);
            arrow.lineTo(4.4, -2.2 * s);
            arrow.lineTo(0, 3.0 * s);
            arrow.closeSubpath();
            gp.setPen(QPen(colour, 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            gp.setBrush(colour);
            gp.drawPath(arrow);
            break;
        }
        }
        gp.restore();
    };
    if (down) {
        paintGlow(p, img.size(), 3, palette::amber, 1.6, [&](QPainter &gp) { drawGlyph(gp, Qt::white); });
        drawGlyph(p, palette::amberHot);
    } else {
        p.save();
        p.translate(0, 0.8);
        drawGlyph(p, QColor(0, 0, 0, 170));
        p.restore();
        drawGlyph(p, palette::silver);
    }
    return img;
}

} // namespace

PictureSet drawPatchWindow(double scale)
{
    PictureSet out;
    const QImage shapedArt = patchBackground(scale);
    QImage nt = finishRgb(shapedArt);
    outline::applyPatchColourKey(nt);
    out[QStringLiteral("PATCHBACKGROUND_NT")] = nt;
    out[QStringLiteral("PATCHBACKGROUND_WINDOWS")] = finishRgb(
        onBackingPlate(shapedArt, outline::patchPath(0),
                       QSize(outline::patchWindowsWidth, outline::patchWindowsHeight), 0x7a7du));

    const struct {
        const char *name;
        QRect place;
        QString text;
    } buttons[] = {{"PATCHOK", patchAt::ok, QStringLiteral("确定")},
                   {"PATCHCANCLE", patchAt::cancel, QStringLiteral("取消")},
                   {"PATCHAPPLY", patchAt::apply, QStringLiteral("应用")}};
    for (const auto &b : buttons) {
        const QString base = QString::fromLatin1(b.name);
        out[base + QStringLiteral("_UP")] = finishRgb(textButton(shapedArt, b.place, b.text, false));
        out[base + QStringLiteral("_DOWN")] = finishRgb(textButton(shapedArt, b.place, b.text, true));
    }
    return out;
}

PictureSet drawAdvertWindow(double scale)
{
    PictureSet out;
    const QImage art = advertBackground(scale);
    out[QStringLiteral("ADBACKGROUND")] = finishRgb(art);
    const struct {
        const char *name;
        QRect place;
        PageGlyph glyph;
    } buttons[] = {{"ADCLOSE", adAt::close, PageGlyph::Close},
                   {"NEXTPAGE", adAt::next, PageGlyph::Down},
                   {"UPPERPAGE", adAt::upper, PageGlyph::Up}};
    for (const auto &b : buttons) {
        const QString base = QString::fromLatin1(b.name);
        out[base + QStringLiteral("_UP")] = finishRgb(pageButton(art, b.place, b.glyph, false));
        out[base + QStringLiteral("_DOWN")] = finishRgb(pageButton(art, b.place, b.glyph, true));
    }
    return out;
}

} // namespace artgen
