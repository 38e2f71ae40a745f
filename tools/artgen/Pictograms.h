#pragma once

// Line-art pictograms of the 16 instrument families and the maker's mark.
// Pictograms are drawn on an 18 x 18 grid into a transparent layer, so one
// drawing serves the silver print, its shadow and the amber glow alike.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>

#include <vector>

namespace artgen {

inline constexpr int familyCount = 16;

// family 1..16: piano, bells, organ, guitar, bass, violin, ensemble,
// trumpet, saxophone, flute, synth lead, pad, effects, sitar, drum, wave.
// The layer matches `target` in size and scale; `box` is in its logical pixels.
QImage pictogramLayer(int family, const QImage &target, const QRectF &box, const QColor &ink);

// The Olvani mark: a brushed ring, the O, holding a pair of piano keys.
// `lit` warms the white key as if lit from within.
void drawOlvaniMark(QPainter &p, QPointF centre, double radius, bool lit = false);

// White keys from C upwards seen from the player's seat: the near edge
// spans `nearScale` times the area's width, the far edge `farScale`, and
// the far end fades out. Keys listed in `lit` (0-based whites) glow amber.
void drawPerspectiveKeyboard(QPainter &p, const QRectF &area, int whites, double nearScale, double farScale,
                             const std::vector<int> &lit);

} // namespace artgen
