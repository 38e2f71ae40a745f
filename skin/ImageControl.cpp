#include "ImageControl.h"

#include "SkinWindow.h"

#include <resources/Resources.h>

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
    formName_.clear();
    pictureChanged();
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

void ImageControl::setFormPicture(const QString &formName)
{
    picture_ = resources::formPicture(formName);
    pictureName_.clear();
    formName_ = formName;
    pictureChanged();
}

void ImageControl::setDesignedPicture(const QImage &picture)
{
    picture_ = picture;
    pictureName_.clear();
    formName_.clear();
    pictureChanged();
}

void ImageControl::pictureChanged()
{
    update();
}

QImage ImageControl::pictureAt(qreal devicePixelRatio) const
{
    // At 1× exactly the picture of the layout, pixel for pixel. The
    // resources keep what they scaled, so asking on every paint is cheap.
    if (devicePixelRatio == 1.0 || (pictureName_.isEmpty() && formName_.isEmpty()))
        return picture_;
    const QImage scaled = pictureName_.isEmpty() ? resources::formPicture(formName_, devicePixelRatio)
                                                 : resources::namedBitmap(pictureName_, devicePixelRatio);
    return scaled.isNull() ? picture_ : scaled;
}

void ImageControl::paintEvent(QPaintEvent *)
{
    // The picture drawn for the screen's ratio lands on the device pixels
    // one for one wherever the control's place on them is whole, with no
    // resampling; a 1× picture would be magnified blockily.
    const QImage shown = pictureAt(devicePixelRatioF());
    if (shown.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, shown);
}

} // namespace tastavia::skin
