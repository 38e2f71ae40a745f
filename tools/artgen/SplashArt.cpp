#include "Artwork.h"

#include "ArtKit.h"
#include "Pictograms.h"

#include <QLinearGradient>
#include <QRadialGradient>

#include <cmath>

namespace artgen {

QImage drawSplash(double scale)
{
    constexpr int w = 620, h = 277;
    QImage img = canvas(w, h, QColor(10, 9, 16), scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    QRadialGradient backdrop(QPointF(w / 2.0, 70), 420);
    backdrop.setColorAt(0.0, QColor(58, 48, 96));
    backdrop.setColorAt(0.45, QColor(26, 22, 42));
    backdrop.setColorAt(1.0, QColor(8, 7, 12));
    const QRect all(0, 0, w, h);
    p.fillRect(all, backdrop);
    // Fine grain keeps the large gradient from banding.
    Noise noise(0x5b1a5u);
    forEachDevicePixel(p, all, [&](QPainter &dp, int x, int y) {
        const double n = noise.symmetric();
        if (std::abs(n) > 0.8) {
            dp.setPen(n > 0 ? QColor(255, 255, 255, 6) : QColor(0, 0, 0, 10));
            dp.drawPoint(x, y);
        }
    });

    // A chord lit on the keys, its light rising into the dark.
    const QRectF keys(20, 196, 580, 81);
    const std::vector<int> chord{9, 11, 13};
    drawPerspectiveKeyboard(p, keys, 22, 1.25, 0.78, chord);
    for (int i : chord) {
        const double x = keys.center().x() + ((i + 0.5) / 22.0 - 0.5) * keys.width() * 1.25;
        QRadialGradient glow(QPointF(x, keys.bottom()), keys.height() * 1.1);
        glow.setColorAt(0.0, QColor(255, 160, 60, 60));
        glow.setColorAt(1.0, QColor(255, 160, 60, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawRect(keys.adjusted(-40, -60, 40, 0));
    }

    // Maker's mark, top left.
    drawOlvaniMark(p, QPointF(38, 36), 15);
    printText(p, QRectF(60, 26, 140, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("OLVANI"),
              pixelFont(QStringLiteral("DejaVu Sans"), 11, QFont::Bold, 3.0), QColor(196, 194, 214));

    // The brand word, in brushed silver.
    const QFont brand = pixelFont(QStringLiteral("P052"), 70, QFont::Normal, 4.0);
    const QRectF brandRect(0, 46, w, 90);
    p.setFont(brand);
    p.setPen(QColor(0, 0, 0, 170));
    p.drawText(brandRect.translated(0, 3), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Tastavia"));
    QLinearGradient silver(0, brandRect.top() + 22, 0, brandRect.bottom() - 18);
    silver.setColorAt(0.0, QColor(252, 252, 255));
    silver.setColorAt(0.48, QColor(206, 206, 222));
    silver.setColorAt(0.52, QColor(150, 150, 172));
    silver.setColorAt(1.0, QColor(212, 212, 228));
    p.setPen(QPen(QBrush(silver), 1));
    p.drawText(brandRect, Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Tastavia"));

    // An amber rule under the word, and the Chinese line.
    QLinearGradient rule(w / 2.0 - 90, 0, w / 2.0 + 90, 0);
    rule.setColorAt(0.0, QColor(255, 176, 72, 0));
    rule.setColorAt(0.5, QColor(255, 176, 72, 230));
    rule.setColorAt(1.0, QColor(255, 176, 72, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(rule);
    p.drawRect(QRectF(w / 2.0 - 90, 138, 180, 1.5));
    printText(p, QRectF(0, 146, w, 30), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("随心弹奏，声声入耳"),
              pixelFont(QStringLiteral("AR PL UMing CN"), 22, QFont::Normal, 5.0), QColor(236, 226, 204));
    printText(p, QRectF(0, 176, w, 16), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("屏幕 MIDI 电子琴"),
              pixelFont(QStringLiteral("WenQuanYi Micro Hei"), 11, QFont::Normal, 3.0), QColor(150, 146, 178));

    // Vignette.
    QRadialGradient vignette(QPointF(w / 2.0, h / 2.0), w * 0.62);
    vignette.setColorAt(0.7, QColor(0, 0, 0, 0));
    vignette.setColorAt(1.0, QColor(0, 0, 0, 120));
    p.fillRect(all, vignette);
    p.end();
    return img.convertToFormat(QImage::Format_RGB888);
}

QImage drawIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const double s = size;
    const double radius = std::max(3.0, s * 0.2);

    // Tile: the lacquered body with a metal edge. From 128 px up a menu
    // shows the icon large enough that a fixed edge would look like a hairline.
    const double edge = s >= 128 ? s / 96.0 : s >= 32 ? 1.5 : 1.0;
    const double inset = s >= 128 ? edge / 2 : 0.5;
    const QRectF tile(inset, inset, s - 2 * inset, s - 2 * inset);
    QLinearGradient body(0, 0, 0, s);
    body.setColorAt(0.0, QColor(64, 56, 100));
    body.setColorAt(1.0, QColor(18, 16, 30));
    p.setPen(QPen(QColor(150, 150, 170), edge));
    p.setBrush(body);
    p.drawRoundedRect(tile, radius, radius);

    // Three white keys, the middle one lit. At 16 px the keys are placed
    // on whole pixels so their gaps stay crisp.
    struct Key {
        QRectF rect;
        bool lit;
    };
    std::vector<Key> keys;
    if (size <= 16) {
        keys = {{QRectF(2, 3, 3, 10), false}, {QRectF(6, 3, 4, 10), true}, {QRectF(11, 3, 3, 10), false}};
    } else {
        const double margin = s * 0.16, gap = s * 0.05;
        const double kw = (s - 2 * margin - 2 * gap) / 3.0;
        for (int i = 0; i < 3; ++i)
            keys.push_back({QRectF(margin + i * (kw + gap), s * 0.16, kw, s * 0.68), i == 1});
    }
    for (const Key &k : keys) {
        QLinearGradient g(0, k.rect.top(), 0, k.rect.bottom());
        g.setColorAt(0.0, k.lit ? palette::amberHot : palette::ivoryTop);
        g.setColorAt(1.0, k.lit ? palette::amber : palette::ivoryBottom);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        const double r = size <= 16 ? 0.0 : s * 0.04;
        p.drawRoundedRect(k.rect, r, r);
    }
    if (size > 16) {
        // Two black keys between them, over the keys' upper half.
        const double bw = keys[0].rect.width() * 0.55;
        for (int i = 0; i < 2; ++i) {
            const double gapCentre = (keys[size_t(i)].rect.right() + keys[size_t(i) + 1].rect.left()) / 2.0;
            const QRectF black(gapCentre - bw / 2, keys[0].rect.top(), bw, keys[0].rect.height() * 0.56);
            QLinearGradient g(0, black.top(), 0, black.bottom());
            g.setColorAt(0.0, QColor(12, 12, 16));
            g.setColorAt(1.0, QColor(54, 52, 66));
            p.setBrush(g);
            p.drawRoundedRect(black, s * 0.03, s * 0.03);
        }
    }
    p.end();
    return img;
}

} // namespace artgen
