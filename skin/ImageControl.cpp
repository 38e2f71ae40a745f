#include "ImageControl.h"

#include "SkinWindow.h"

#include <QPainter>

namespace tastavia::skin {

ImageControl::ImageControl(SkinWindow *window, const QString &name, const QRect &geometry)
    : QWidget(window), window_(window)
{
    setObjectName(name);
    setGeometry(geometry);
    SkinWindow::makeRouted(this);
}

void ImageControl::loadBitmap(const QString &name)
{
    picture_ = window_->bitmap(name);
    pictureName_ = name;
    update();
}

void ImageControl::setDesignedPicture(const QImage &picture)
{
    picture_ = picture;
    pictureName_.clear();
    update();
}

void ImageControl::paintEvent(QPaintEvent *)
{
    if (picture_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

} // namespace tastavia::skin
