#include "AdvertFrames.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace adclip {

namespace {

// The same lacquer and amber as the keyboard window's body.
const QColor lacquerTop{34, 31, 48};
const QColor lacquerMid{17, 16, 25};
const QColor lacquerDeep{7, 7, 11};
const QColor amber{255, 176, 72};
const QColor amberHot{255, 222, 160};
const QColor amberDeep{214, 112, 24};
const QColor ivory{246, 240, 226};
const QColor silver{186, 184, 206};

const QString brandFamily = QStringLiteral("URW Gothic");
const QString heiFamily = QStringLiteral("WenQuanYi Micro Hei");
const QString brandWord = QStringLiteral("Tastavia");
const QString brandLine = QStringLiteral("屏幕 MIDI 键盘");
const QString offerLine = QStringLiteral("免费下载 · 随时弹奏");

// Where the sliding text lives: right of the emblem and its engraved rule.
constexpr int textLeft = 38;

QFont pixelFont(const QString &family, double pixels, QFont::Weight weight, double spacing = 0)
{
    QFont font(family);
    font.setPixelSize(int(std::lround(pixels)));
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    if (spacing != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

QFont brandFont() { return pixelFont(brandFamily, 19, QFont::DemiBold, 1.2); }
QFont brandLineFont() { return pixelFont(heiFamily, 12, QFont::Normal, 0.6); }
QFont offerFont() { return pixelFont(heiFamily, 15, QFont::Bold, 1.4); }

double easeOut(double x) { return 1.0 - std::pow(1.0 - std::clamp(x, 0.0, 1.0), 3.0); }
double easeIn(double x) { return std::pow(std::clamp(x, 0.0, 1.0), 3.0); }

// Share of the way from a to b that t has come, 0 before and 1 after.
double progress(double t, double a, double b) { return std::clamp((t - a) / (b - a), 0.0, 1.0); }

// A text's left edge as it slides in from the right, rests and slides off
// to the left; times are in seconds within the loop.
double slide(double t, double rest, double width, double inStart, double inEnd, double outStart,
             double outEnd, int stripWidth)
{
    if (t < inEnd)
        return stripWidth + (rest - stripWidth) * easeOut(progress(t, inStart, inEnd));
    if (t < outStart)
        return rest;
    return rest + (-width - 8 - rest) * easeIn(progress(t, outStart, outEnd));
}

void paintLacquer(QPainter &p, const QSize &size)
{
    QLinearGradient body(0, 0, 0, size.height());
    body.setColorAt(0.0, lacquerTop);
    body.setColorAt(0.45, lacquerMid);
    body.setColorAt(1.0, lacquerDeep);
    p.fillRect(QRect(QPoint(0, 0), size), body);
    // The long soft reflection that makes lacquer look wet.
    QLinearGradient sheen(0, 2, 0, 11);
    sheen.setColorAt(0.0, QColor(200, 190, 255, 0));
    sheen.setColorAt(0.5, QColor(200, 190, 255, 16));
    sheen.setColorAt(1.0, QColor(200, 190, 255, 0));
    p.fillRect(QRect(0, 2, size.width(), 9), sheen);
    p.fillRect(QRect(0, 0, size.width(), 1), QColor(255, 255, 255, 26));
    p.fillRect(QRect(0, size.height() - 1, size.width(), 1), QColor(0, 0, 0, 150));
}

// Three white keys with two black ones, the middle white key lit: the
// program's mark. Its glow breathes twice per loop.
void paintEmblem(QPainter &p, double phase)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double breath = 0.55 + 0.45 * std::pow(std::sin(phase * 2.0 * M_PI), 2.0);
    QRadialGradient glow(QPointF(17, 16), 13);
    glow.setColorAt(0.0, QColor(amber.red(), amber.green(), amber.blue(), int(90 * breath)));
    glow.setColorAt(1.0, QColor(amber.red(), amber.green(), amber.blue(), 0));
    p.fillRect(QRectF(3, 0, 28, 28), glow);

    const double top = 5;
    const double height = 18;
    for (int key = 0; key < 3; ++key) {
        const QRectF rect(7 + key * 7, top, 6, height);
        QLinearGradient fill(rect.topLeft(), rect.bottomLeft());
        if (key == 1) {
            fill.setColorAt(0.0, amberHot);
            fill.setColorAt(1.0, QColor::fromRgbF(amber.redF(), amber.greenF() * (0.85 + 0.15 * breath),
                                                  amber.blueF()));
        } else {
            fill.setColorAt(0.0, ivory);
            fill.setColorAt(1.0, QColor(214, 206, 188));
        }
        QPainterPath shape;
        shape.addRoundedRect(rect, 1.2, 1.2);
        p.fillPath(shape, fill);
    }
    for (int gap = 0; gap < 2; ++gap) {
        const QRectF rect(11 + gap * 7, top, 4, 10);
        QLinearGradient fill(rect.topLeft(), rect.bottomLeft());
        fill.setColorAt(0.0, QColor(58, 56, 70));
        fill.setColorAt(0.35, QColor(14, 14, 20));
        fill.setColorAt(1.0, QColor(4, 4, 6));
        QPainterPath shape;
        shape.addRoundedRect(rect, 0.8, 0.8);
        p.fillPath(shape, fill);
    }
    p.restore();
    // An engraved rule between the mark and the text.
    p.fillRect(QRect(textLeft - 4, 4, 1, 20), QColor(0, 0, 0, 160));
    p.fillRect(QRect(textLeft - 3, 4, 1, 20), QColor(255, 255, 255, 20));
}

// A band of light that crosses the strip from left to right while
// progress goes from 0 to 1. It brightens the text layer strongly and the
// lacquer only faintly.
void paintShine(QPainter &p, const QSize &size, double along, int alpha)
{
    if (along <= 0.0 || along >= 1.0)
        return;
    const double centre = -60 + along * (size.width() + 120);
    QLinearGradient band(QPointF(centre - 26, 0), QPointF(centre + 26, size.height() * 0.6));
    band.setColorAt(0.0, QColor(255, 255, 255, 0));
    band.setColorAt(0.5, QColor(255, 250, 235, alpha));
    band.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.fillRect(QRect(QPoint(0, 0), size), band);
}

QImage textLayer(const QSize &size, double t, double loop)
{
    QImage layer(size, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setClipRect(QRect(textLeft, 0, size.width() - textLeft, size.height()));
    const double scale = loop / 8.0;

    // First half: the brand word, with what the program is beside it.
    const QFont brand = brandFont();
    const QFont brandSmall = brandLineFont();
    const QFontMetricsF brandMetrics(brand);
    const double brandWidth = brandMetrics.horizontalAdvance(brandWord);
    const double lineWidth = QFontMetricsF(brandSmall).horizontalAdvance(brandLine);
    const double groupWidth = brandWidth + 14 + lineWidth;
    const double brandRest = textLeft + (size.width() - textLeft - groupWidth) / 2.0;
    const double brandX = slide(t, brandRest, groupWidth, 0.0, 0.8 * scale, 3.4 * scale,
                                4.0 * scale, size.width());
    if (brandX < size.width()) {
        const double baseline = 20.5;
        QPainterPath word;
        word.addText(QPointF(brandX, baseline), brand, brandWord);
        p.fillPath(word.translated(0, 1), QColor(0, 0, 0, 170));
        QLinearGradient gold(0, 5, 0, 22);
        gold.setColorAt(0.0, amberHot);
        gold.setColorAt(0.55, amber);
        gold.setColorAt(1.0, amberDeep);
        p.fillPath(word, gold);

        const double lineAlpha = progress(t, 0.5 * scale, 1.0 * scale);
        p.setFont(brandSmall);
        p.setPen(QColor(0, 0, 0, int(170 * lineAlpha)));
        const QPointF linePos(brandX + brandWidth + 14, 19);
        p.drawText(linePos + QPointF(0, 1), brandLine);
        p.setPen(QColor(silver.red(), silver.green(), silver.blue(), int(255 * lineAlpha)));
        p.drawText(linePos, brandLine);
        // A small amber dot ties the two together.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(amber.red(), amber.green(), amber.blue(), int(230 * lineAlpha)));
        p.drawEllipse(QPointF(brandX + brandWidth + 7, 14.5), 1.6, 1.6);
    }

    // Second half: the offer, in Chinese.
    const QFont offer = offerFont();
    const QFontMetricsF offerMetrics(offer);
    const double offerWidth = offerMetrics.horizontalAdvance(offerLine);
    const double offerRest = textLeft + (size.width() - textLeft - offerWidth) / 2.0;
    const double offerX = slide(t, offerRest, offerWidth, 3.7 * scale, 4.5 * scale, 7.4 * scale,
                                8.0 * scale, size.width());
    if (t >= 3.7 * scale && offerX < size.width()) {
        const double baseline = 19.5;
        p.setFont(offer);
        p.setPen(QColor(0, 0, 0, 180));
        p.drawText(QPointF(offerX, baseline + 1), offerLine);
        // Ivory words, the middle dot in amber.
        const int dot = offerLine.indexOf(QChar(0x00b7));
        const QString before = offerLine.left(dot);
        const QString middle = offerLine.mid(dot, 1);
        const QString after = offerLine.mid(dot + 1);
        double x = offerX;
        p.setPen(ivory);
        p.drawText(QPointF(x, baseline), before);
        x += offerMetrics.horizontalAdvance(before);
        p.setPen(amber);
        p.drawText(QPointF(x, baseline), middle);
        x += offerMetrics.horizontalAdvance(middle);
        p.setPen(ivory);
        p.drawText(QPointF(x, baseline), after);
    }

    // The shine lights only what is already drawn in this layer.
    p.setClipping(false);
    p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    paintShine(p, size, progress(t, 1.3 * scale, 2.5 * scale), 200);
    paintShine(p, size, progress(t, 5.0 * scale, 6.2 * scale), 200);
    return layer;
}

} // namespace

QImage advertFrame(int index, const AdvertSpec &spec)
{
    const double loop = double(spec.frames) / spec.fps;
    // The loop starts just as the brand word comes to rest, so the first
    // picture, which the strip shows before playing and after a failed
    // play, carries the name.
    const double t = std::fmod(double(index % spec.frames) / spec.fps + 0.8 * loop / 8.0, loop);
    QImage frame(spec.size, QImage::Format_RGB32);
    QPainter p(&frame);
    paintLacquer(p, spec.size);
    paintShine(p, spec.size, progress(t, 1.3 * loop / 8.0, 2.5 * loop / 8.0), 14);
    paintShine(p, spec.size, progress(t, 5.0 * loop / 8.0, 6.2 * loop / 8.0), 14);
    paintEmblem(p, t / loop);
    p.drawImage(0, 0, textLayer(spec.size, t, loop));
    p.end();
    return frame;
}

QStringList missingFontSupport()
{
    QStringList missing;
    // A missing family silently falls back to another; what the font
    // actually resolves to tells.
    for (const QString &family : {brandFamily, heiFamily}) {
        if (!QFontInfo(QFont(family)).family().startsWith(family))
            missing << QStringLiteral("font family \"%1\" is not installed").arg(family);
    }
    const auto check = [&missing](const QFont &font, const QString &text) {
        const QFontMetricsF metrics(font);
        for (const QChar c : text) {
            if (!c.isSpace() && !metrics.inFont(c))
                missing << QStringLiteral("\"%1\" has no glyph for %2").arg(font.family(), QString(c));
        }
    };
    check(brandFont(), brandWord);
    check(brandLineFont(), brandLine);
    check(offerFont(), offerLine);
    return missing;
}

} // namespace adclip
