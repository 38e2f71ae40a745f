#pragma once

#include "ImageControl.h"

namespace tastavia::skin {

// The press-and-release protocol every picture switch follows: the left
// key shows the "_DOWN" picture on the press; any left release shows
// "_UP" again wherever it happens, and only a release strictly inside the
// switch acts. The right column and bottom row count as inside, the left
// column and top row do not.
void switchPress(ImageControl *control, const QString &baseName, Qt::MouseButton button);
// Returns whether the switch should act.
bool switchRelease(ImageControl *control, const QString &baseName, Qt::MouseButton button, QPoint pos);
// The same test for switches without press pictures.
bool releasedInside(const QWidget *control, Qt::MouseButton button, QPoint pos);

// A window's switch handler: mouse key, modifiers, point in the switch.
template <typename Window>
using SwitchHandler = void (Window::*)(Qt::MouseButton, Qt::KeyboardModifiers, QPoint);

// Binds a switch's press and release to handlers of its window; either may
// be null for a switch that ignores that event.
template <typename Window>
void bindSwitch(ImageControl *control, Window *window, SwitchHandler<Window> down, SwitchHandler<Window> up)
{
    if (down)
        control->onMouseDown = [window, down](ImageControl *, Qt::MouseButton b, Qt::KeyboardModifiers s, QPoint p) {
            (window->*down)(b, s, p);
        };
    if (up)
        control->onMouseUp = [window, up](ImageControl *, Qt::MouseButton b, Qt::KeyboardModifiers s, QPoint p) {
            (window->*up)(b, s, p);
        };
}

} // namespace tastavia::skin
