#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace tastavia::testing {

// Sends pointer events to a skinned window the way the window system does:
// the window receives every event and routes it itself. Remembers which
// mouse keys are down, so that moves carry the right state.
class PointerDriver
{
public:
    explicit PointerDriver(QWidget *window) : window_(window) {}

    void press(QPoint pos, Qt::MouseButton button = Qt::LeftButton)
    {
        buttons_ |= button;
        send(QEvent::MouseButtonPress, pos, button);
    }
    void release(QPoint pos, Qt::MouseButton button = Qt::LeftButton)
    {
        buttons_ &= ~Qt::MouseButtons(button);
        send(QEvent::MouseButtonRelease, pos, button);
    }
    void move(QPoint pos) { send(QEvent::MouseMove, pos, Qt::NoButton); }
    // Moves in one-pixel steps, as a slow hand does.
    void slide(QPoint from, QPoint to)
    {
        const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
        for (int i = 1; i <= steps; ++i)
            move(from + (to - from) * i / steps);
    }
    void click(QPoint pos, Qt::MouseButton button = Qt::LeftButton)
    {
        press(pos, button);
        release(pos, button);
    }

private:
    void send(QEvent::Type type, QPoint pos, Qt::MouseButton button)
    {
        QMouseEvent event(type, pos, window_->mapToGlobal(pos), button, buttons_, Qt::NoModifier);
        QApplication::sendEvent(window_, &event);
    }

    QWidget *window_;
    Qt::MouseButtons buttons_;
};

} // namespace tastavia::testing
