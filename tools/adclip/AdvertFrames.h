// The advert that plays in the keyboard window's strip: the brand word,
// then a line of Chinese, sliding across a dark lacquered strip with a
// passing shine. Every picture is a function of its index alone and the
// animation is periodic in the clip's length, so the clip loops without a
// seam.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

namespace adclip {

struct AdvertSpec {
    QSize size{340, 28};
    int fps = 20;
    int frames = 160;
};

QImage advertFrame(int index, const AdvertSpec &spec);

// What the installed fonts cannot draw (families or characters), one line
// each; empty when every picture will come out without empty boxes.
QStringList missingFontSupport();

} // namespace adclip
