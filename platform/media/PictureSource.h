// What the clip player needs from a clip format: pictures in presentation
// order, a way back to the first one, and the limits every format keeps.
// The built-in reader (AVI holding Motion JPEG) and the FFmpeg module both
// implement it, so the player cannot tell which one it talks to.
#pragma once

#include <QImage>
#include <QSize>
#include <QtGlobal>

namespace tastavia::media {

struct DecodedPicture {
    QImage image;       // Format_RGB32, the clip's own size
    qint64 timeUs = 0;  // presentation time from the clip's start
};

namespace limits {
// Pictures larger than this are not adverts for a 340 x 28 strip: decoding
// and scaling one on the GUI thread would cost most of a core and answer
// clicks late, and a forged header could ask for gigabytes. Full HD is
// the largest accepted.
constexpr int MaxSide = 4096;
constexpr qint64 MaxPixels = qint64(1920) * 1080;
constexpr qint64 MinFrameUs = 5000;
constexpr qint64 MaxFrameUs = 10'000'000;
constexpr qint64 DefaultFrameUs = 40000;
// Timestamps from a file may be anything; kept within this span, later
// arithmetic on them cannot overflow.
constexpr qint64 TimeLimitUs = qint64(1) << 50;

inline bool acceptedSize(qint64 width, qint64 height)
{
    return width > 0 && height > 0 && width <= MaxSide && height <= MaxSide && width * height <= MaxPixels;
}
} // namespace limits

class PictureSource {
public:
    enum class Step { Picture, End, Failed };

    virtual ~PictureSource() = default;
    // The next picture. End comes once the stream is drained; Failed means
    // the file turned out damaged or unreadable.
    virtual Step next(DecodedPicture &out) = 0;
    // Back to the first picture; the next call to next() gives it again.
    virtual bool rewind() = 0;
    virtual QSize size() const = 0;
    // The time one picture stays up when the clip's own timestamps do not
    // say.
    virtual qint64 nominalFrameUs() const = 0;
};

} // namespace tastavia::media
