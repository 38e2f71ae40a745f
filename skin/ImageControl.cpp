#include "ImageControl.h"

#include "SkinWindow.h"

#include <QAccessible>
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
    const bool wasDown = shownDown();
    picture_ = window_->bitmap(name);
    pictureName_ = name;
    update();
    if (shownDown() != wasDown && QAccessible::isActive()) {
        QAccessible::State changed;
        changed.pressed = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

bool ImageControl::shownDown() const
{
    return pictureName_.endsWith(QLatin1String("_DOWN"));
}

void ImageControl::setHint(const QString &hint)
{
    if (hint == hint_)
        return;
    hint_ = hint;
    if (accessibleName().isEmpty() && QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
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
