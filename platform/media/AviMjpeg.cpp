#include "AviMjpeg.h"

#include "ClipPlayer.h"
#include "JpegPicture.h"
#include "MediaLog.h"

#include <QtEndian>

#include <algorithm>
#include <cstdlib>

namespace tastavia::media {

namespace {

constexpr quint32 fourcc(const char (&code)[5])
{
    return quint32(uchar(code[0])) | quint32(uchar(code[1])) << 8 | quint32(uchar(code[2])) << 16
        | quint32(uchar(code[3])) << 24;
}

// A full-HD picture at the best JPEG quality is about 2 MB.
constexpr qint64 MaxPictureBytes = 16 * 1024 * 1024;
// The header list of a clip with a few streams is a few kilobytes.
constexpr qint64 MaxHeaderBytes = 1024 * 1024;
// A damaged file can hold any number of chunks that are not pictures;
// past this many in a row, waiting for one is pointless.
constexpr int MaxChunksPerPicture = 4096;

quint32 le32(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

bool isMotionJpeg(quint32 code)
{
    for (const quint32 known : {fourcc("MJPG"), fourcc("mjpg"), fourcc("JPEG"), fourcc("jpeg")}) {
        if (code == known)
            return true;
    }
    return false;
}

} // namespace

AviMjpegSource::Opened AviMjpegSource::open(const QString &path)
{
    Opened result;
    std::unique_ptr<AviMjpegSource> source(new AviMjpegSource);
    source->file_.setFileName(path);
    if (!source->file_.open(QIODevice::ReadOnly)) {
        result.notMine = true;
        return result;
    }
    result.error = source->readHeaders(result.notMine);
    if (result.notMine || result.error != ClipPlayer::NoError)
        return result;

    // Like every format, the clip is only open once its first picture is:
    // a file cut or damaged before then is refused here.
    DecodedPicture first;
    if (source->next(first) != Step::Picture || !source->rewind()) {
        qCWarning(lcMedia) << path << "has no readable first picture";
        result.error = ClipPlayer::DamagedClip;
        return result;
    }
    // The header's size is only a claim; the pictures say what it is.
    source->size_ = first.image.size();
    qCDebug(lcMedia) << "opened" << path << "avi mjpeg" << source->size_ << "frame" << source->frameUs_ << "us";
    result.source = std::move(source);
    return result;
}

bool AviMjpegSource::readChunk(qint64 at, qint64 end, Chunk &chunk)
{
    if (at < 0 || at + 8 > end || !file_.seek(at))
        return false;
    const QByteArray head = file_.read(8);
    if (head.size() != 8)
        return false;
    chunk.id = le32(head, 0);
    chunk.at = at + 8;
    chunk.size = le32(head, 4);
    return true;
}

int AviMjpegSource::readHeaders(bool &notMine)
{
    // Whatever is not plainly ours goes to the general decoder, which also
    // gives the verdict on broken headers.
    notMine = true;
    const QByteArray head = file_.read(12);
    if (head.size() != 12 || le32(head, 0) != fourcc("RIFF") || le32(head, 8) != fourcc("AVI "))
        return ClipPlayer::NoError;
    const qint64 fileSize = file_.size();
    const qint64 end = std::min<qint64>(8 + qint64(le32(head, 4)), fileSize);

    Stream stream;
    qint64 usPerFrame = 0;
    bool haveHeader = false;
    Chunk chunk;
    for (qint64 at = 12; readChunk(at, end, chunk); at = chunk.end()) {
        if (chunk.id != fourcc("LIST") || chunk.size < 4)
            continue;
        const QByteArray type = file_.read(4);
        if (type.size() != 4)
            return ClipPlayer::NoError;
        if (le32(type, 0) == fourcc("hdrl")) {
            if (!readHeaderList(chunk, stream, usPerFrame) || !stream.motionJpeg)
                return ClipPlayer::NoError;
            haveHeader = true;
        } else if (le32(type, 0) == fourcc("movi")) {
            if (!haveHeader)
                return ClipPlayer::NoError;
            moviStart_ = chunk.at + 4;
            moviEnd_ = chunk.at + chunk.size;
            if (moviEnd_ > fileSize) {
                cutShort_ = true;
                moviEnd_ = fileSize;
            }
            break;
        }
    }
    if (!haveHeader)
        return ClipPlayer::NoError;
    notMine = false;

    if (!limits::acceptedSize(stream.width, stream.height)) {
        qCWarning(lcMedia) << file_.fileName() << "declares a picture of" << stream.width << "x" << stream.height;
        return stream.width > 0 && stream.height > 0 ? ClipPlayer::PictureTooLarge : ClipPlayer::DamagedClip;
    }
    if (moviStart_ == 0)
        return ClipPlayer::DamagedClip;

    size_ = QSize(int(stream.width), int(stream.height));
    qint64 frameUs = stream.scale > 0 && stream.rate > 0 ? stream.scale * 1'000'000 / stream.rate : usPerFrame;
    if (frameUs <= 0)
        frameUs = limits::DefaultFrameUs;
    frameUs_ = std::clamp(frameUs, limits::MinFrameUs, limits::MaxFrameUs);
    const auto digit = [](int d) { return quint32('0' + d); };
    const quint32 number = digit(stream.index / 10) | digit(stream.index % 10) << 8;
    pictureId_ = number | quint32('d') << 16 | quint32('c') << 24;
    pictureIdAlt_ = number | quint32('d') << 16 | quint32('b') << 24;
    pos_ = moviStart_;
    return ClipPlayer::NoError;
}

bool AviMjpegSource::readHeaderList(const Chunk &list, Stream &stream, qint64 &usPerFrame)
{
    const qint64 end = list.at + list.size;
    if (list.size > MaxHeaderBytes || end > file_.size())
        return false;
    int streams = 0;
    Chunk chunk;
    for (qint64 at = list.at + 4; readChunk(at, end, chunk); at = chunk.end()) {
        if (chunk.at + chunk.size > end)
            return false;
        if (chunk.id == fourcc("avih") && chunk.size >= 40) {
            usPerFrame = le32(file_.read(4).leftJustified(4, '\0'), 0);
        } else if (chunk.id == fourcc("LIST") && chunk.size >= 4) {
            if (le32(file_.read(4).leftJustified(4, '\0'), 0) == fourcc("strl")) {
                // Only the first picture stream counts, as for every format.
                if (!stream.found)
                    readStreamList(chunk, streams, stream);
                ++streams;
            }
        }
    }
    return stream.found && stream.index < 100;
}

void AviMjpegSource::readStreamList(const Chunk &list, int index, Stream &stream)
{
    const qint64 end = list.at + list.size;
    bool video = false;
    quint32 handler = 0;
    quint32 compression = 0;
    bool haveFormat = false;
    Chunk chunk;
    for (qint64 at = list.at + 4; readChunk(at, end, chunk) && chunk.at + chunk.size <= end; at = chunk.end()) {
        if (chunk.id == fourcc("strh") && chunk.size >= 28) {
            const QByteArray strh = file_.read(28);
            if (strh.size() != 28)
                return;
            video = le32(strh, 0) == fourcc("vids");
            handler = le32(strh, 4);
            stream.scale = le32(strh, 20);
            stream.rate = le32(strh, 24);
        } else if (chunk.id == fourcc("strf") && chunk.size >= 20) {
            const QByteArray strf = file_.read(20);
            if (strf.size() != 20)
                return;
            haveFormat = true;
            stream.width = qint32(le32(strf, 4));
            stream.height = std::abs(qint64(qint32(le32(strf, 8))));
            compression = le32(strf, 16);
        }
    }
    if (!video)
        return;
    stream.found = true;
    stream.index = index;
    stream.motionJpeg = haveFormat ? isMotionJpeg(compression) : isMotionJpeg(handler);
}

PictureSource::Step AviMjpegSource::next(DecodedPicture &out)
{
    Chunk chunk;
    for (int chunks = 0; chunks < MaxChunksPerPicture; ++chunks) {
        if (pos_ >= moviEnd_ || (pos_ + 8 > moviEnd_ && !cutShort_)) {
            if (!cutShort_)
                return Step::End;
            qCWarning(lcMedia) << "the clip is cut short";
            return Step::Failed;
        }
        if (!readChunk(pos_, moviEnd_, chunk) || chunk.at + chunk.size > moviEnd_) {
            qCWarning(lcMedia) << "the clip ends inside a picture";
            return Step::Failed;
        }
        if (chunk.id == fourcc("LIST")) {
            // Grouped chunks ("rec " lists): their contents follow in place.
            if (chunk.size < 4)
                return Step::Failed;
            pos_ = chunk.at + 4;
            continue;
        }
        pos_ = chunk.end();
        if (chunk.id != pictureId_ && chunk.id != pictureIdAlt_)
            continue;
        qint64 timeUs = 0;
        if (__builtin_mul_overflow(index_, frameUs_, &timeUs) || timeUs > limits::TimeLimitUs)
            timeUs = limits::TimeLimitUs;
        ++index_;
        // An empty chunk is a dropped picture: the one before stays up.
        if (chunk.size == 0 && last_.isNull())
            continue;
        if (chunk.size > 0) {
            const Step decoded = decodeChunk(chunk, out);
            if (decoded != Step::Picture)
                return decoded;
        } else {
            out.image = last_;
        }
        out.timeUs = timeUs;
        return Step::Picture;
    }
    qCWarning(lcMedia) << "no picture in" << MaxChunksPerPicture << "chunks";
    return Step::Failed;
}

PictureSource::Step AviMjpegSource::decodeChunk(const Chunk &chunk, DecodedPicture &out)
{
    if (chunk.size > MaxPictureBytes || !file_.seek(chunk.at)) {
        qCWarning(lcMedia) << "picture of" << chunk.size << "bytes refused";
        return Step::Failed;
    }
    const QByteArray bytes = file_.read(chunk.size);
    if (bytes.size() != chunk.size)
        return Step::Failed;
    QImage image = decodeJpeg(reinterpret_cast<const uchar *>(bytes.constData()), bytes.size());
    if (image.isNull() || (!last_.isNull() && image.size() != last_.size())) {
        qCWarning(lcMedia) << "damaged picture in the clip";
        return Step::Failed;
    }
    last_ = image;
    out.image = std::move(image);
    return Step::Picture;
}

bool AviMjpegSource::rewind()
{
    pos_ = moviStart_;
    index_ = 0;
    last_ = QImage();
    return true;
}

} // namespace tastavia::media
