#include "Entry.h"

#include <resources/Resources.h>

#include <JpegPicture.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>

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

void TLogo::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (picture_.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(0, 0, picture_);
}

} // namespace tastavia::app
