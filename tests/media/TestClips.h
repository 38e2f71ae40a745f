// Small clips for the player tests. Picture i is filled with colourOf(i),
// far enough apart in hue that lossy coding cannot confuse two of them.
#pragma once

#include "ClipPlayer.h"
#include "ClipWriter.h"

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QList>
#include <QSignalSpy>
#include <QSize>
#include <QString>
#include <QtEndian>

#include <cstdlib>
#include <utility>

namespace cliptest {

inline QColor colourOf(int index)
{
    return QColor::fromHsv((index * 47) % 360, 200, 230);
}

inline bool near(const QColor &a, const QColor &b, int tolerance = 28)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

// The picture index whose colour the pixel shows, or -1.
inline int indexShown(const QColor &pixel, int frames)
{
    for (int i = 0; i < frames; ++i) {
        if (near(pixel, colourOf(i)))
            return i;
    }
    return -1;
}

inline int indexShown(const QImage &image, int frames)
{
    if (image.isNull())
        return -1;
    return indexShown(image.pixelColor(image.width() / 2, image.height() / 2), frames);
}

inline QList<tastavia::media::Notice> noticesOf(const QSignalSpy &spy)
{
    QList<tastavia::media::Notice> notices;
    for (const QList<QVariant> &args : spy)
        notices << args.at(0).value<tastavia::media::Notice>();
    return notices;
}

struct ClipSpec {
    int frames = 8;
    int fps = 25;
    QSize size{64, 32};
    int keyframeInterval = 0;
    tastavia::clipwriter::ClipFormat::Codec codec = tastavia::clipwriter::ClipFormat::Codec::MotionJpeg;
};

// Returns an empty string or the writer's error.
inline QString makeClip(const QString &path, const ClipSpec &spec)
{
    QList<QImage> pictures;
    for (int i = 0; i < spec.frames; ++i) {
        QImage picture(spec.size, QImage::Format_RGB32);
        picture.fill(colourOf(i));
        pictures << picture;
    }
    tastavia::clipwriter::ClipFormat format;
    format.size = spec.size;
    format.fps = spec.fps;
    format.quality = 2;
    format.keyframeInterval = spec.keyframeInterval;
    format.codec = spec.codec;
    return tastavia::clipwriter::writeClip(path, format, pictures);
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// Offset and size of each picture's data in an AVI's movie list, in order.
inline QList<std::pair<qsizetype, qsizetype>> pictureChunks(const QByteArray &avi)
{
    QList<std::pair<qsizetype, qsizetype>> chunks;
    qsizetype at = avi.indexOf("movi");
    if (at < 0)
        return chunks;
    at += 4;
    while (at + 8 <= avi.size()) {
        const QByteArray id = avi.mid(at, 4);
        const auto size = qsizetype(qFromLittleEndian<quint32>(avi.constData() + at + 4));
        if (id == "idx1" || at + 8 + size > avi.size())
            break;
        if (id == "00dc")
            chunks.append({at + 8, size});
        at += 8 + size + (size & 1);
    }
    return chunks;
}

} // namespace cliptest
