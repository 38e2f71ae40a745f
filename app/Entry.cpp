#include "Entry.h"

#include <resources/Resources.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace tastavia::app {

namespace {

constexpr QSize SplashSize(620, 277);

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
};

void leaveOnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegError *>(info->err)->escape, 1);
}

void keepQuiet(j_common_ptr) {}

// Plain C-style on purpose: longjmp must not skip any C++ destructor, so the
// image is only built once libjpeg has finished without error.
bool decodeInto(const QByteArray &stream, QImage *out)
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
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(stream.constData()),
                 static_cast<unsigned long>(stream.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    *out = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

std::optional<QImage> decodeJpeg(const QByteArray &stream)
{
    if (stream.isEmpty())
        return std::nullopt;
    QImage image;
    if (!decodeInto(stream, &image))
        return std::nullopt;
    return image;
}

TLogo::TLogo() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("TLogo"));
    setFixedSize(SplashSize);
    if (auto decoded = decodeJpeg(resources::splashJpeg()))
        picture_ = *decoded;
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect place(QPoint(0, 0), SplashSize);
        place.moveCenter(screen->geometry().center());
        move(place.topLeft());
    }
}

void TLogo::showAndPaint()
{
    show();
    // On X11 the window can be painted only once the server has mapped and
    // exposed it; give that a short, bounded wait.
    QElapsedTimer waited;
    waited.start();
    while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    repaint();
    QCoreApplication::processEvents();
}

void TLogo::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (picture_.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(0, 0, picture_);
}

} // namespace tastavia::app
