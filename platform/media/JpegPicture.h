// One JPEG picture decoded with libjpeg directly: the splash picture and
// every picture of a Motion JPEG clip. Damage of any kind, including the
// kind libjpeg only warns about and would paint over in grey, gives a null
// image; so does a picture outside the sizes a clip may have.
#pragma once

#include <QImage>
#include <QtGlobal>

namespace tastavia::media {

// Format_RGB32, or a null image.
QImage decodeJpeg(const uchar *data, qsizetype size);

} // namespace tastavia::media
