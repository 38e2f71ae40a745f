#include "Entry.h"

#include <resources/Resources.h>

#include <JpegPicture.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <QtMath>

namespace tastavia::app {

namespace {

constexpr QSize SplashSize(620, 277);

} // namespace

std::optional<QImage> decodeJpeg(const QByteArray &stream)
{
    QImage image = media::decodeJpeg(reinterpret_cast<const uchar *>(stream.constData()), stream.size());
    if (image.isNull())
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

QImage TLogo::pictureAt(qreal devicePixelRatio)
{
    if (!(devicePixelRatio > 1.0))
        return picture_;
    if (devicePixelRatio != scaledRatio_) {
        scaledRatio_ = devicePixelRatio;
        // Decoded only for a scaled screen: at 1× it would only slow the
        // start down. Without it the 1× picture is scaled up instead.
        QImage source = decodeJpeg(resources::splashJpegAt2x()).value_or(QImage());
        if (source.size() != SplashSize * 2)
            source = picture_;
        const QSize size(qCeil(SplashSize.width() * devicePixelRatio), qCeil(SplashSize.height() * devicePixelRatio));
        scaled_ = source.isNull() || source.size() == size
                      ? source
                      : source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        scaled_.setDevicePixelRatio(devicePixelRatio);
    }
    return scaled_;
}

void TLogo::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QImage shown = pictureAt(devicePixelRatioF());
    if (shown.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(0, 0, shown);
}

} // namespace tastavia::app
