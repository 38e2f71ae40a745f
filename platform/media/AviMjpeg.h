// The built-in clip format: an AVI file whose picture stream is Motion
// JPEG, read with our own RIFF walker and decoded by libjpeg. This is the
// format of the advert clip, so the program plays it without loading a
// general media library. Anything else is left to the FFmpeg module.
#pragma once

#include "PictureSource.h"

#include <QFile>

#include <memory>

namespace tastavia::media {

class AviMjpegSource final : public PictureSource {
public:
    struct Opened {
        std::unique_ptr<AviMjpegSource> source;
        int error = 0;         // a ClipPlayer code when the file is ours but bad
        bool notMine = false;  // not an AVI holding Motion JPEG: ask elsewhere
    };
    // The path names a readable, non-empty file.
    static Opened open(const QString &path);

    Step next(DecodedPicture &out) override;
    bool rewind() override;
    QSize size() const override { return size_; }
    qint64 nominalFrameUs() const override { return frameUs_; }

private:
    struct Chunk {
        quint32 id = 0;
        qint64 at = 0;     // where its data starts
        qint64 size = 0;
        qint64 end() const { return at + size + (size & 1); }
    };
    struct Stream {
        bool found = false;
        bool motionJpeg = false;
        int index = -1;
        qint64 scale = 0;
        qint64 rate = 0;
        qint64 width = 0;
        qint64 height = 0;
    };

    AviMjpegSource() = default;
    int readHeaders(bool &notMine);
    bool readChunk(qint64 at, qint64 end, Chunk &chunk);
    bool readHeaderList(const Chunk &list, Stream &stream, qint64 &usPerFrame);
    void readStreamList(const Chunk &list, int index, Stream &stream);
    Step decodeChunk(const Chunk &chunk, DecodedPicture &out);

    QFile file_;
    qint64 moviStart_ = 0;
    qint64 moviEnd_ = 0;
    bool cutShort_ = false;  // the file ends before its movie list does
    quint32 pictureId_ = 0;  // "NNdc"
    quint32 pictureIdAlt_ = 0; // "NNdb"
    qint64 pos_ = 0;
    qint64 index_ = 0;       // pictures (and dropped pictures) passed so far
    QImage last_;
    QSize size_;
    qint64 frameUs_ = limits::DefaultFrameUs;
};

} // namespace tastavia::media
