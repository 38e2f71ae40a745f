#pragma once

#include <QAccessibleWidget>

namespace tastavia::skin {

class ImageControl;

// How assistive technology (AT-SPI on Linux) sees a picture control. Qt
// would report it as an unnamed filler, since it is a bare QWidget that Qt
// never sends a click. A control the window routes presses to is a push
// button whose press action clicks it through the window's own routing; any
// other control is a picture. Its name is the accessible name set on it, or
// else its hint, so that a renamed hint is heard at once.
class AccessibleControl : public QAccessibleWidget
{
public:
    explicit AccessibleControl(ImageControl *control);

    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;

private:
    // Null once the control is being destroyed.
    ImageControl *control() const;
    bool pressable() const;
};

// Qt's interface factory for the skinned windows and what they hold;
// every SkinWindow installs it.
QAccessibleInterface *accessibleInterfaceFor(const QString &className, QObject *object);

} // namespace tastavia::skin
