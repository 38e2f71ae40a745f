#include "ImageSwitch.h"

namespace tastavia::skin {

void switchPress(ImageControl *control, const QString &baseName, Qt::MouseButton button)
{
    if (button == Qt::LeftButton)
        control->loadBitmap(baseName + QStringLiteral("_DOWN"));
}

bool releasedInside(const QWidget *control, Qt::MouseButton button, QPoint pos)
{
    return button == Qt::LeftButton && pos.x() > 0 && pos.x() < control->width() && pos.y() > 0 &&
           pos.y() < control->height();
}

bool switchRelease(ImageControl *control, const QString &baseName, Qt::MouseButton button, QPoint pos)
{
    if (button != Qt::LeftButton)
        return false;
    control->loadBitmap(baseName + QStringLiteral("_UP"));
    return releasedInside(control, button, pos);
}

} // namespace tastavia::skin
