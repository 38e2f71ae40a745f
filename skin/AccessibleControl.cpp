#include "AccessibleControl.h"

#include "ImageControl.h"
#include "SkinWindow.h"

namespace tastavia::skin {

AccessibleControl::AccessibleControl(ImageControl *control) : QAccessibleWidget(control, QAccessible::Button) {}

ImageControl *AccessibleControl::control() const
{
    // A control's own part is gone while QWidget's destructor runs.
    return qobject_cast<ImageControl *>(object());
}

bool AccessibleControl::pressable() const
{
    const ImageControl *c = control();
    return c && c->takesPointer() && (c->onMouseDown || c->onMouseUp);
}

QAccessible::Role AccessibleControl::role() const
{
    return pressable() ? QAccessible::Button : QAccessible::Graphic;
}

QAccessible::State AccessibleControl::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    if (const ImageControl *c = control(); c && pressable())
        state.pressed = c->shownDown();
    return state;
}

QString AccessibleControl::text(QAccessible::Text t) const
{
    const ImageControl *c = control();
    if (t == QAccessible::Name && c && c->accessibleName().isEmpty())
        return c->hint();
    return QAccessibleWidget::text(t);
}

QStringList AccessibleControl::actionNames() const
{
    QStringList names = QAccessibleWidget::actionNames();
    if (pressable())
        names.prepend(pressAction());
    return names;
}

void AccessibleControl::doAction(const QString &actionName)
{
    ImageControl *c = control();
    if (actionName != pressAction() || !pressable()) {
        QAccessibleWidget::doAction(actionName);
        return;
    }
    if (auto *window = qobject_cast<SkinWindow *>(c->parentWidget()))
        window->clickControl(c);
}

QAccessibleInterface *accessibleInterfaceFor(const QString &className, QObject *object)
{
    if (className == QLatin1String(ImageControl::staticMetaObject.className()))
        return new AccessibleControl(static_cast<ImageControl *>(object));
    // Qt would call a plain top-level widget a filler, which screen readers
    // skip over when they list the windows.
    if (className == QLatin1String(SkinWindow::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    // A passive area such as the advert strip is a picture, not a filler.
    // Asked only while its window is whole: a widget being destroyed must be
    // left to Qt's own factory, which will not cache it.
    if (className == QLatin1String("QWidget") && SkinWindow::isPassive(object))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Graphic);
    return nullptr;
}

} // namespace tastavia::skin
