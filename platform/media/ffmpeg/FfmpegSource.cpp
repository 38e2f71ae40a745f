// Every clip format that the built-in reader does not know, through
// FFmpeg. Built as a module of its own and loaded only when such a clip is
// opened: FFmpeg's codec libraries pull in well over a hundred shared
// libraries, which would otherwise cost every start of the program tens of
// milliseconds and megabytes for a clip it never plays.
#include "FfmpegModule.h"

#include "ClipPlayer.h"
#include "FileSeek.h"
#include "FfmpegLog.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <type_traits>
#include <vector>

namespace tastavia::media {

namespace {

constexpr int kIoBufferSize = 32 * 1024;
// A damaged file can hold any number of packets that never make a
// picture; past this many, waiting for one is pointless.
constexpr int kMaxPacketsPerPicture = 4096;

// FFmpeg copies some enum fields straight from the file: a damaged header
// can leave a number there that no enumerator names, and reading that as
// the enum is undefined. They are read as the integers they are.
template <typename Enum>
int fieldValue(const Enum &field)
{
    std::underlying_type_t<Enum> value;
    std::memcpy(&value, &field, sizeof value);
    return int(value);
}

// The accepted sizes, with room for decoders that count a row's pixels
// rounded up to their alignment (at most 64).
constexpr int64_t kDecoderMaxPixels = limits::MaxPixels + int64_t(64) * limits::MaxSide;

int findStreamInfo(AVFormatContext *format)
{
    std::vector<AVDictionary *> options(format->nb_streams, nullptr);
    for (AVDictionary *&streamOptions : options)
        av_dict_set_int(&streamOptions, "max_pixels", kDecoderMaxPixels, 0);
    const int ret = avformat_find_stream_info(format, options.data());
    for (AVDictionary *&streamOptions : options)
        av_dict_free(&streamOptions);
    return ret;
}

int readFile(void *opaque, uint8_t *buffer, int size)
{
    auto *file = static_cast<QFileDevice *>(opaque);
    const qint64 got = file->read(reinterpret_cast<char *>(buffer), size);
    if (got < 0)
        return AVERROR(EIO);
    if (got == 0)
        return AVERROR_EOF;
    return int(got);
}


// Playlists, reference movies and image sequences name other files or
// URLs; a clip is one file, so every such open is refused.
int refuseFurtherFiles(AVFormatContext *, AVIOContext **, const char *url, int, AVDictionary **)
{
    qCDebug(lcFfmpeg, "refused to open %s from inside the clip", url);
    return AVERROR(EPERM);
}

qint64 frameUsFromRate(AVRational rate)
{
    if (rate.num <= 0 || rate.den <= 0)
        return 0;
    return av_rescale(1'000'000, rate.den, rate.num);
}

QString describe(int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return QString::fromUtf8(text);
}

class FfmpegSource final : public PictureSource {
public:
    FfmpegSource() = default;
    ~FfmpegSource() override;
    FfmpegSource(const FfmpegSource &) = delete;
    FfmpegSource &operator=(const FfmpegSource &) = delete;

    int openFile(const QString &path);
    Step next(DecodedPicture &out) override;
    bool rewind() override;
    QSize size() const override { return size_; }
    qint64 nominalFrameUs() const override { return nominalFrameUs_; }

private:
    bool convert(DecodedPicture &out);

    QFile file;
    AVIOContext *io = nullptr;
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    SwsContext *scaler = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    int stream = -1;
    AVRational timeBase{1, 1};
    int64_t startPts = 0;
    QSize size_;
    qint64 nominalFrameUs_ = limits::DefaultFrameUs;
    qint64 lastTimeUs_ = -1;
    bool draining_ = false;
};

FfmpegSource::~FfmpegSource()
{
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    // The I/O context is ours (custom I/O), so closing the input leaves it
    // alone.
    avformat_close_input(&format);
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
}

int FfmpegSource::openFile(const QString &path)
{
    FfmpegSource &ff = *this;
    ff.file.setFileName(path);
    if (!ff.file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qCWarning(lcFfmpeg) << "cannot read" << path << ff.file.errorString();
        return ff.file.exists() ? ClipPlayer::FileUnreadable : ClipPlayer::FileNotFound;
    }
    if (ff.file.size() == 0)
        return ClipPlayer::NotAClip;

    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    if (!buffer)
        return ClipPlayer::OutOfMemory;
    ff.io = avio_alloc_context(buffer, kIoBufferSize, 0, static_cast<QFileDevice *>(&ff.file), readFile, nullptr, seekFileDevice);
    if (!ff.io) {
        av_free(buffer);
        return ClipPlayer::OutOfMemory;
    }
    ff.format = avformat_alloc_context();
    if (!ff.format)
        return ClipPlayer::OutOfMemory;
    ff.format->pb = ff.io;
    ff.format->io_open = refuseFurtherFiles;

    // No file name goes in: the format is probed from the bytes alone.
    int ret = avformat_open_input(&ff.format, "", nullptr, nullptr);
    if (ret < 0) {
        // On failure the context is already freed.
        ff.format = nullptr;
        qCWarning(lcFfmpeg) << "not a clip:" << path << describe(ret);
        return ret == AVERROR(ENOMEM) ? ClipPlayer::OutOfMemory : ClipPlayer::NotAClip;
    }
    // The stream's header is checked below, but decoders take a picture's
    // size from the bitstream: a clip that declares 32 x 16 may hold a
    // picture of millions of pixels, which would be decoded, at full cost,
    // before being refused. The decoders refuse it themselves instead,
    // here while the streams are read and later while playing.
    ret = findStreamInfo(ff.format);
    if (ret < 0) {
        qCWarning(lcFfmpeg) << "cannot read the streams of" << path << describe(ret);
        return ret == AVERROR(ENOMEM) ? ClipPlayer::OutOfMemory : ClipPlayer::DamagedClip;
    }

    // The first stream that moves; cover art in a sound file is not a clip.
    const AVCodec *codec = nullptr;
    bool sawPicture = false;
    for (unsigned i = 0; i < ff.format->nb_streams; ++i) {
        const AVStream *stream = ff.format->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO
            || (stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        sawPicture = true;
        if (const AVCodec *found = avcodec_find_decoder(stream->codecpar->codec_id)) {
            ff.stream = int(i);
            codec = found;
            break;
        }
    }
    if (!codec) {
        qCWarning(lcFfmpeg) << path << (sawPicture ? "has no decodable picture stream" : "has no picture stream");
        return sawPicture ? ClipPlayer::NoDecoder : ClipPlayer::NoPicture;
    }
    for (unsigned i = 0; i < ff.format->nb_streams; ++i) {
        if (int(i) != ff.stream)
            ff.format->streams[i]->discard = AVDISCARD_ALL;
    }

    AVStream *stream = ff.format->streams[ff.stream];
    const AVCodecParameters *par = stream->codecpar;
    if (par->width < 0 || par->height < 0) {
        qCWarning(lcFfmpeg) << path << "declares a picture of" << par->width << "x" << par->height;
        return ClipPlayer::DamagedClip;
    }
    if (!limits::acceptedSize(par->width, par->height)) {
        qCWarning(lcFfmpeg) << path << "declares a picture of" << par->width << "x" << par->height;
        return ClipPlayer::PictureTooLarge;
    }

    ff.codec = avcodec_alloc_context3(codec);
    ff.packet = av_packet_alloc();
    ff.frame = av_frame_alloc();
    if (!ff.codec || !ff.packet || !ff.frame)
        return ClipPlayer::OutOfMemory;
    ret = avcodec_parameters_to_context(ff.codec, par);
    if (ret < 0)
        return ret == AVERROR(ENOMEM) ? ClipPlayer::OutOfMemory : ClipPlayer::NoDecoder;
    ff.codec->pkt_timebase = stream->time_base;
    ff.codec->max_pixels = kDecoderMaxPixels;
    // Decoding a small picture on the caller's thread is cheaper than
    // handing it to a pool.
    ff.codec->thread_count = 1;
    // A damaged picture ends playback with a Failure notice instead of
    // being shown half concealed.
    ff.codec->err_recognition |= AV_EF_EXPLODE;
    ret = avcodec_open2(ff.codec, codec, nullptr);
    if (ret < 0) {
        qCWarning(lcFfmpeg) << "cannot start the decoder for" << path << describe(ret);
        return ret == AVERROR(ENOMEM) ? ClipPlayer::OutOfMemory : ClipPlayer::NoDecoder;
    }

    ff.timeBase = stream->time_base;
    if (ff.timeBase.num <= 0 || ff.timeBase.den <= 0)
        ff.timeBase = AVRational{1, AV_TIME_BASE};
    ff.startPts = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;

    qint64 frameUs = frameUsFromRate(stream->avg_frame_rate);
    if (frameUs <= 0)
        frameUs = frameUsFromRate(stream->r_frame_rate);
    if (frameUs <= 0)
        frameUs = limits::DefaultFrameUs;
    nominalFrameUs_ = std::clamp(frameUs, limits::MinFrameUs, limits::MaxFrameUs);
    size_ = QSize(par->width, par->height);
    qCDebug(lcFfmpeg) << "opened" << path << ff.format->iformat->name << codec->name << size_
                     << "frame" << nominalFrameUs_ << "us";
    return ClipPlayer::NoError;
}

PictureSource::Step FfmpegSource::next(DecodedPicture &out)
{
    FfmpegSource &ff = *this;
    for (int packets = 0;;) {
        int ret = avcodec_receive_frame(ff.codec, ff.frame);
        if (ret >= 0) {
            const bool damaged = ff.frame->decode_error_flags != 0
                || (ff.frame->flags & AV_FRAME_FLAG_CORRUPT);
            if (damaged) {
                qCWarning(lcFfmpeg) << "damaged picture in the clip";
                av_frame_unref(ff.frame);
                return Step::Failed;
            }
            const bool converted = convert(out);
            av_frame_unref(ff.frame);
            return converted ? Step::Picture : Step::Failed;
        }
        if (ret == AVERROR_EOF)
            return Step::End;
        if (ret != AVERROR(EAGAIN) || draining_) {
            qCWarning(lcFfmpeg) << "decoding failed:" << describe(ret);
            return Step::Failed;
        }
        if (++packets > kMaxPacketsPerPicture) {
            qCWarning(lcFfmpeg) << "no picture in" << kMaxPacketsPerPicture << "packets";
            return Step::Failed;
        }

        ret = av_read_frame(ff.format, ff.packet);
        if (ret == AVERROR_EOF) {
            // Drain the pictures the decoder still holds.
            draining_ = true;
            avcodec_send_packet(ff.codec, nullptr);
            continue;
        }
        if (ret < 0) {
            qCWarning(lcFfmpeg) << "reading the clip failed:" << describe(ret);
            return Step::Failed;
        }
        if (ff.packet->stream_index != ff.stream) {
            av_packet_unref(ff.packet);
            continue;
        }
        const bool cut = ff.packet->flags & AV_PKT_FLAG_CORRUPT;
        ret = avcodec_send_packet(ff.codec, ff.packet);
        av_packet_unref(ff.packet);
        if (cut) {
            qCWarning(lcFfmpeg) << "the clip ends inside a picture";
            return Step::Failed;
        }
        if (ret < 0 && ret != AVERROR(EAGAIN)) {
            qCWarning(lcFfmpeg) << "decoding failed:" << describe(ret);
            return Step::Failed;
        }
    }
}

bool FfmpegSource::convert(DecodedPicture &out)
{
    FfmpegSource &ff = *this;
    const AVFrame *frame = ff.frame;
    const int width = frame->width;
    const int height = frame->height;
    // A picture of another size than the stream declared is damage, as in
    // every other format: the clip keeps one size from open to end.
    if (!limits::acceptedSize(width, height) || QSize(width, height) != size_) {
        qCWarning(lcFfmpeg) << "picture of" << width << "x" << height << "refused";
        return false;
    }
    const auto format = AVPixelFormat(frame->format);
    // Accurate rounding also keeps swscale off its fast x86 path, which
    // leaves the last columns unwritten when the width is not a multiple
    // of eight (the strip's 340 is not). Full horizontal chroma keeps
    // coloured type crisp.
    ff.scaler = sws_getCachedContext(ff.scaler, width, height, format, width, height, AV_PIX_FMT_RGB32,
                                     SWS_BILINEAR | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND,
                                     nullptr, nullptr, nullptr);
    if (!ff.scaler) {
        qCWarning(lcFfmpeg) << "no conversion from pixel format" << format;
        return false;
    }
    // Honour the clip's own colour matrix and range; the defaults are the
    // MPEG-4 ones (BT.601, limited range).
    const int matrix = fieldValue(frame->colorspace) == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
    int *inverse = nullptr;
    int *table = nullptr;
    int srcRange = 0;
    int dstRange = 0;
    int brightness = 0;
    int contrast = 0;
    int saturation = 0;
    if (sws_getColorspaceDetails(ff.scaler, &inverse, &srcRange, &table, &dstRange, &brightness,
                                 &contrast, &saturation) >= 0) {
        if (fieldValue(frame->color_range) == AVCOL_RANGE_JPEG)
            srcRange = 1;
        sws_setColorspaceDetails(ff.scaler, sws_getCoefficients(matrix), srcRange, table,
                                 dstRange, brightness, contrast, saturation);
    }

    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return false;
    uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(ff.scaler, frame->data, frame->linesize, 0, height, planes, strides) != height)
        return false;

    // Timestamps come from the file and may be anything; they are kept
    // within a span where later arithmetic on them cannot overflow.
    int64_t sinceStart = 0;
    const int64_t pts = frame->best_effort_timestamp;
    qint64 timeUs;
    if (pts == AV_NOPTS_VALUE || __builtin_sub_overflow(pts, ff.startPts, &sinceStart))
        timeUs = lastTimeUs_ < 0 ? 0 : lastTimeUs_ + nominalFrameUs_;
    else
        timeUs = av_rescale_q(sinceStart, ff.timeBase, AVRational{1, 1'000'000});
    // A picture stamped before the stream's start or before the picture
    // shown last (a damaged or edited clip) is due at once: times only go
    // forward, as in every other format.
    timeUs = std::clamp(timeUs, std::max<qint64>(lastTimeUs_, 0), limits::TimeLimitUs);
    lastTimeUs_ = timeUs;
    out.image = std::move(image);
    out.timeUs = timeUs;
    return true;
}

bool FfmpegSource::rewind()
{
    FfmpegSource &ff = *this;
    int ret = av_seek_frame(ff.format, ff.stream, ff.startPts, AVSEEK_FLAG_BACKWARD);
    if (ret < 0)
        ret = avformat_seek_file(ff.format, ff.stream, INT64_MIN, ff.startPts, ff.startPts, 0);
    if (ret < 0) {
        qCDebug(lcFfmpeg) << "seeking to the start failed:" << describe(ret);
        return false;
    }
    avcodec_flush_buffers(ff.codec);
    draining_ = false;
    lastTimeUs_ = -1;
    return true;
}

} // namespace

} // namespace tastavia::media

extern "C" TASTAVIA_FFMPEG_EXPORT int tastavia_ffmpeg_open_clip_v1(const char *path, tastavia::media::PictureSource **source)
{
    using namespace tastavia::media;
    routeFfmpegLog();
    auto opened = std::make_unique<FfmpegSource>();
    const int error = opened->openFile(QString::fromUtf8(path));
    if (error == ClipPlayer::NoError)
        *source = opened.release();
    return error;
}
