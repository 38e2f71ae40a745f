// One open clip: reads its file and hands out pictures as QImages, in
// presentation order. An AVI holding Motion JPEG (the advert clip's own
// format) is read in-process; any other file goes to the FFmpeg module,
// which is loaded only then. Either way only the given file is ever read:
// the path is never taken as a URL, and container formats that would open
// further files (playlists, references) are refused that access.
#pragma once

#include "PictureSource.h"

#include <QSize>
#include <QString>

#include <memory>

namespace tastavia::media {

class ClipDecoder {
public:
    using Step = PictureSource::Step;

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
    // the file turned out damaged or unreadable, and nothing more comes
    // until a rewind.
    Step next(DecodedPicture &out);

    // Back to the first picture; the next call to next() gives it again.
    bool rewind();

    // The time one picture stays up when the clip's own timestamps do not
    // say (the last picture, or missing or broken timestamps).
    qint64 nominalFrameUs() const { return source_->nominalFrameUs(); }
    QSize size() const { return source_->size(); }

private:
    explicit ClipDecoder(std::unique_ptr<PictureSource> source);

    std::unique_ptr<PictureSource> source_;
    bool failed_ = false;
};

} // namespace tastavia::media
