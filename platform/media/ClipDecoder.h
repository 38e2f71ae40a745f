// One open clip: reads its file through FFmpeg, decodes the first real
// picture stream and hands out pictures as QImages, in presentation order.
// Only the given file is ever read: the path is never taken as a URL, and
// container formats that would open further files (playlists, references)
// are refused that access.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

namespace tastavia::media {

struct DecodedPicture {
    QImage image;       // Format_RGB32, the clip's own size
    qint64 timeUs = 0;  // presentation time from the clip's start
};

class ClipDecoder {
public:
    enum class Step { Picture, End, Failed };

    // Errors match ClipPlayer's codes; they are the only codes open gives.
    struct Opened {
        std::unique_ptr<ClipDecoder> decoder;
        int error = 0;
    };
    static Opened open(const QString &path);

    ~ClipDecoder();
    ClipDecoder(const ClipDecoder &) = delete;
    ClipDecoder &operator=(const ClipDecoder &) = delete;

    // The next picture. End comes once the stream is drained; Failed means
    // the file turned out damaged or unreadable, and nothing more comes.
    Step next(DecodedPicture &out);

    // Back to the first picture; the next call to next() gives it again.
    bool rewind();

    // The time one picture stays up when the clip's own timestamps do not
    // say (the last picture, or missing or broken timestamps).
    qint64 nominalFrameUs() const { return nominalFrameUs_; }
    QSize size() const { return size_; }

private:
    struct Ffmpeg;
    ClipDecoder();
    int openFile(const QString &path);
    Step decodeOne(DecodedPicture &out);
    bool convert(DecodedPicture &out);

    std::unique_ptr<Ffmpeg> ff_;
    QSize size_;
    qint64 nominalFrameUs_ = 40000;
    qint64 lastTimeUs_ = -1;
    bool draining_ = false;
    bool failed_ = false;
};

} // namespace tastavia::media
