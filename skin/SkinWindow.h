#pragma once

#include "ImageControl.h"

#include <QHash>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace tastavia::skin {

// A borderless top-level window whose face is one background picture, with
// picture controls on top. Qt grabs the mouse for a pressed widget until the
// release and that grab cannot be ended, but the keys must end it on a press
// so that a glide reaches the next key. So the controls are transparent to
// Qt's mouse events and this window routes pointer events itself.
class SkinWindow : public QWidget
{
    Q_OBJECT
public:
    SkinWindow(const QString &title, QSize size);

    ImageControl *background() const { return background_; }
    // Loads a named background picture; the window grows or shrinks to fit it.
    void loadBackground(const QString &name);

    // Decoded once per window; key presses swap pictures on every note.
    QImage bitmap(const QString &name);

    // Pure red (255, 0, 0) pixels of the background become see-through and
    // click-through while the colour key is on. On a scaled screen the
    // outline comes from the picture drawn for that scale, pixel for pixel.
    void setColourKey(bool on);
    bool colourKey() const { return colourKey_; }

    void centreOnScreen();

    // Moves the window with the pointer until the left key is released. The
    // pointer keeps the spot it pressed on the window's own surface, or this
    // one where the press was elsewhere.
    void startDrag(QPoint windowPos);
    bool dragging() const { return followOffset_.has_value(); }
    // Where a drag from this move would hold the window: the press on the
    // surface, since moves can come compressed and far from it.
    QPoint dragOrigin(QPoint windowPos) const { return surfacePress_.value_or(windowPos); }

    // The topmost routed control at a window point that takes pointer input;
    // backgrounds and other passive controls are skipped.
    QWidget *controlAt(QPoint windowPos) const;

    QWidget *capture() const { return capture_; }
    void releaseCapture() { capture_ = nullptr; }

    // Shows the window without taking the keyboard focus from the window
    // that has it, however the window manager treats new windows; a press
    // into the window (takeFocus) lets it have the focus again.
    void showWithoutFocus();
    void takeFocus();

    // A left click at (1, 1) inside one of this window's picture controls,
    // through the handlers the pointer reaches: the press action of
    // assistive technology. A capture the pointer holds is kept.
    void clickControl(QWidget *control);

    // Marks a child (a label, say) as routed by this window: it absorbs the
    // pointer over its area and does nothing with it.
    static void makeRouted(QWidget *child);
    // Marks a routed child that takes no pointer input: events over it reach
    // the window's own handlers, as over the background.
    static void makePassive(QWidget *child);
    // Whether an object is a passive child of a window that is not being
    // destroyed.
    static bool isPassive(const QObject *object);

protected:
    // The window's own surface: moves and releases over the background and
    // over passive controls, while no control holds the capture.
    virtual void FormMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint pos);
    virtual void FormMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    // The pointer shape over the window's own surface.
    void setSurfaceCursor(Qt::CursorShape shape) { surfaceCursor_ = shape; }

    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void abandonCapture();
    void updateMask();
    void updateCursor(QPoint windowPos);

    ImageControl *background_ = nullptr;
    QHash<QString, QImage> bitmaps_;
    // The device pixel ratio the outline was last set for; 0 until it is.
    qreal maskRatio_ = 0;
    // Whether the outline is the window system's own shape rather than
    // Qt's mask.
    bool nativeShape_ = false;
    QPointer<QWidget> capture_;
    Qt::CursorShape surfaceCursor_ = Qt::ArrowCursor;
    bool colourKey_ = false;
    std::optional<QPoint> followOffset_;
    // Where the left key went down on the window's own surface.
    std::optional<QPoint> surfacePress_;
    bool focusHeldBack_ = false;
};

// The region of a picture that stays visible under the colour key, in the
// picture's own pixels whatever its devicePixelRatio().
QRegion visibleRegion(const QImage &picture);

} // namespace tastavia::skin
