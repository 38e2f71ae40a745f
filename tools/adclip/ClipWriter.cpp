#include "ClipWriter.h"

#include "FileSeek.h"

#include <QSaveFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cerrno>

namespace tastavia::clipwriter {

namespace {

constexpr int kIoBufferSize = 32 * 1024;
constexpr int kMaxSide = 4096;

int writeFile(void *opaque, uint8_t *buffer, int size)
{
    auto *file = static_cast<QFileDevice *>(opaque);
    return file->write(reinterpret_cast<const char *>(buffer), size) == size ? size : AVERROR(EIO);
}


} // namespace

struct ClipWriter::Ffmpeg {
    QSaveFile file;
    AVIOContext *io = nullptr;
    AVFormatContext *format = nullptr;
    AVStream *stream = nullptr;
    AVCodecContext *codec = nullptr;
    SwsContext *scaler = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;

    ~Ffmpeg()
    {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_free_context(format);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }
};

ClipWriter::ClipWriter(const QString &path, const ClipFormat &format)
    : path_(path), format_(format), ff_(std::make_unique<Ffmpeg>())
{
}

ClipWriter::~ClipWriter() = default;

bool ClipWriter::fail(const QString &what, int averror)
{
    error_ = what;
    if (averror < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(averror, text, sizeof text);
        error_ += QStringLiteral(": ") + QString::fromUtf8(text);
    }
    return false;
}

bool ClipWriter::begin()
{
    if (started_)
        return fail(QStringLiteral("the clip is already started"));
    started_ = true;
    const QSize size = format_.size;
    if (size.width() <= 0 || size.height() <= 0 || size.width() % 2 || size.height() % 2
        || size.width() > kMaxSide || size.height() > kMaxSide)
        return fail(QStringLiteral("the picture size must be even and at most %1").arg(kMaxSide));
    if (format_.fps < 1 || format_.fps > 120)
        return fail(QStringLiteral("the frame rate must be 1 to 120"));
    if (format_.quality < 1 || format_.quality > 31)
        return fail(QStringLiteral("the quality must be 1 to 31"));

    Ffmpeg &ff = *ff_;
    ff.file.setFileName(path_);
    if (!ff.file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1: %2").arg(path_, ff.file.errorString()));
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    if (!buffer)
        return fail(QStringLiteral("out of memory"));
    ff.io = avio_alloc_context(buffer, kIoBufferSize, 1, static_cast<QFileDevice *>(&ff.file), nullptr, writeFile, media::seekFileDevice);
    if (!ff.io) {
        av_free(buffer);
        return fail(QStringLiteral("out of memory"));
    }
    int ret = avformat_alloc_output_context2(&ff.format, nullptr, "avi", nullptr);
    if (ret < 0)
        return fail(QStringLiteral("no AVI muxer"), ret);
    ff.format->pb = ff.io;
    ff.format->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;

    const bool jpeg = format_.codec == ClipFormat::Codec::MotionJpeg;
    const AVCodec *encoder = avcodec_find_encoder(jpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_MPEG4);
    if (!encoder)
        return fail(QStringLiteral("no %1 encoder in this libavcodec").arg(jpeg ? "Motion JPEG" : "MPEG-4"));
    ff.stream = avformat_new_stream(ff.format, nullptr);
    ff.codec = avcodec_alloc_context3(encoder);
    ff.frame = av_frame_alloc();
    ff.packet = av_packet_alloc();
    if (!ff.stream || !ff.codec || !ff.frame || !ff.packet)
        return fail(QStringLiteral("out of memory"));

    AVCodecContext *codec = ff.codec;
    codec->width = size.width();
    codec->height = size.height();
    // Motion JPEG keeps full chroma and the full range, so coloured type
    // stays crisp in every picture.
    codec->pix_fmt = jpeg ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
    if (jpeg)
        codec->color_range = AVCOL_RANGE_JPEG;
    codec->time_base = AVRational{1, format_.fps};
    codec->framerate = AVRational{format_.fps, 1};
    codec->gop_size = format_.keyframeInterval > 0 ? format_.keyframeInterval : 2 * format_.fps;
    // Pictures in decoding order are pictures in showing order: the player
    // needs no reordering and a cut file loses only its tail.
    codec->max_b_frames = 0;
    codec->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_BITEXACT;
    codec->global_quality = FF_QP2LAMBDA * format_.quality;
    codec->thread_count = 1;
    if (ff.format->oformat->flags & AVFMT_GLOBALHEADER)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ret = avcodec_open2(codec, encoder, nullptr);
    if (ret < 0)
        return fail(QStringLiteral("cannot start the encoder"), ret);
    ret = avcodec_parameters_from_context(ff.stream->codecpar, codec);
    if (ret < 0)
        return fail(QStringLiteral("cannot describe the stream"), ret);
    ff.stream->time_base = codec->time_base;
    ff.stream->avg_frame_rate = codec->framerate;

    ret = avformat_write_header(ff.format, nullptr);
    if (ret < 0)
        return fail(QStringLiteral("cannot write the AVI header"), ret);

    ff.frame->format = codec->pix_fmt;
    ff.frame->width = codec->width;
    ff.frame->height = codec->height;
    ret = av_frame_get_buffer(ff.frame, 0);
    if (ret < 0)
        return fail(QStringLiteral("out of memory"), ret);
    return true;
}

bool ClipWriter::addFrame(const QImage &picture)
{
    if (!started_ || finished_ || !error_.isEmpty())
        return fail(error_.isEmpty() ? QStringLiteral("the clip is not open for pictures") : error_);
    if (picture.isNull())
        return fail(QStringLiteral("empty picture"));
    Ffmpeg &ff = *ff_;
    const QSize size = format_.size;
    QImage rgb = picture.size() == size
        ? picture.convertToFormat(QImage::Format_RGB32)
        : picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
              .convertToFormat(QImage::Format_RGB32);

    int ret = av_frame_make_writable(ff.frame);
    if (ret < 0)
        return fail(QStringLiteral("out of memory"), ret);
    ff.scaler = sws_getCachedContext(ff.scaler, size.width(), size.height(), AV_PIX_FMT_RGB32,
                                     size.width(), size.height(), AVPixelFormat(ff.frame->format),
                                     SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP,
                                     nullptr, nullptr, nullptr);
    if (!ff.scaler)
        return fail(QStringLiteral("no colour conversion to YUV"));
    if (ff.codec->color_range == AVCOL_RANGE_JPEG) {
        const int *matrix = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(ff.scaler, matrix, 1, matrix, 1, 0, 1 << 16, 1 << 16);
    }
    const uint8_t *source[4] = {rgb.constBits(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(rgb.bytesPerLine()), 0, 0, 0};
    sws_scale(ff.scaler, source, strides, 0, size.height(), ff.frame->data, ff.frame->linesize);
    ff.frame->pts = frames_;

    ret = avcodec_send_frame(ff.codec, ff.frame);
    if (ret < 0)
        return fail(QStringLiteral("encoding picture %1 failed").arg(frames_), ret);
    ++frames_;
    return drain(false);
}

bool ClipWriter::drain(bool flushing)
{
    Ffmpeg &ff = *ff_;
    for (;;) {
        int ret = avcodec_receive_packet(ff.codec, ff.packet);
        if (ret == AVERROR(EAGAIN) && !flushing)
            return true;
        if (ret == AVERROR_EOF)
            return true;
        if (ret < 0)
            return fail(QStringLiteral("encoding failed"), ret);
        av_packet_rescale_ts(ff.packet, ff.codec->time_base, ff.stream->time_base);
        ff.packet->stream_index = ff.stream->index;
        ret = av_interleaved_write_frame(ff.format, ff.packet);
        if (ret < 0)
            return fail(QStringLiteral("writing the clip failed"), ret);
    }
}

bool ClipWriter::finish()
{
    if (!started_ || finished_ || !error_.isEmpty())
        return fail(error_.isEmpty() ? QStringLiteral("the clip is not open") : error_);
    if (frames_ == 0)
        return fail(QStringLiteral("a clip needs at least one picture"));
    Ffmpeg &ff = *ff_;
    int ret = avcodec_send_frame(ff.codec, nullptr);
    if (ret < 0)
        return fail(QStringLiteral("flushing the encoder failed"), ret);
    if (!drain(true))
        return false;
    ret = av_write_trailer(ff.format);
    if (ret < 0)
        return fail(QStringLiteral("cannot write the AVI index"), ret);
    avio_flush(ff.io);
    if (ff.io->error < 0)
        return fail(QStringLiteral("writing the clip failed"), ff.io->error);
    finished_ = true;
    if (!ff.file.commit())
        return fail(QStringLiteral("cannot replace %1: %2").arg(path_, ff.file.errorString()));
    return true;
}

QString writeClip(const QString &path, const ClipFormat &format, const QList<QImage> &frames)
{
    ClipWriter writer(path, format);
    if (!writer.begin())
        return writer.errorString();
    for (const QImage &frame : frames) {
        if (!writer.addFrame(frame))
            return writer.errorString();
    }
    if (!writer.finish())
        return writer.errorString();
    return QString();
}

} // namespace tastavia::clipwriter
