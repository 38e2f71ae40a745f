#include "JpegPicture.h"

#include "PictureSource.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace tastavia::media {

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
};

void leaveOnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegError *>(info->err)->escape, 1);
}

void keepQuiet(j_common_ptr) {}

// Straight into QImage's own layout, with the fourth byte set to 0xff.
constexpr J_COLOR_SPACE Rgb32Layout =
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    JCS_EXT_BGRX;
#else
    JCS_EXT_XRGB;
#endif

// Plain C-style on purpose: longjmp must not skip a C++ destructor, so
// nothing with one is made between setjmp and the last libjpeg call; the
// image belongs to the caller and is only assigned, never created here.
bool decodeInto(const uchar *data, qsizetype size, QImage *out)
{
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = leaveOnError;
    error.manager.output_message = keepQuiet;
    if (setjmp(error.escape)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    // Clip pictures are baseline; a progressive stream can ask for
    // thousands of passes over one picture, a cheap way to stall the GUI
    // thread.
    if (info.progressive_mode || !limits::acceptedSize(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = Rgb32Layout;
    jpeg_start_decompress(&info);
    *out = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB32);
    if (out->isNull() || info.output_components != 4) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->scanLine(static_cast<int>(info.output_scanline));
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            break;
    }
    const bool whole = info.output_scanline == info.output_height;
    if (whole)
        jpeg_finish_decompress(&info);
    const bool clean = whole && error.manager.num_warnings == 0;
    jpeg_destroy_decompress(&info);
    return clean;
}

} // namespace

QImage decodeJpeg(const uchar *data, qsizetype size)
{
    if (!data || size <= 0)
        return {};
    QImage image;
    if (!decodeInto(data, size, &image))
        return {};
    return image;
}

} // namespace tastavia::media
