#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>

namespace tastavia::skin {

class SkinWindow;

// A light-weight picture control. It never receives pointer events from Qt
// itself: its window hit-tests the controls and calls the handlers below, so
// that a handler can end the pointer capture as the keys need.
class ImageControl : public QWidget
{
    Q_OBJECT
public:
    using ButtonHandler = std::function<void(ImageControl *, Qt::MouseButton, Qt::KeyboardModifiers, QPoint)>;
    using MoveHandler = std::function<void(ImageControl *, Qt::MouseButtons, Qt::KeyboardModifiers, QPoint)>;

    ImageControl(SkinWindow *window, const QString &name, const QRect &geometry);

    // Shows a named bitmap; the control keeps the name so that tests and
    // handlers can tell which picture is up.
    void loadBitmap(const QString &name);
    // Shows a picture designed into the window layout, by its name in the
    // resources ("TKeyboard.BlackKey"); like a named bitmap, it is drawn
    // from the artwork made for the screen's scale.
    void setFormPicture(const QString &formName);
    // Shows a picture given as it is, which the screen's scale magnifies.
    void setDesignedPicture(const QImage &picture);
    QString pictureName() const { return pictureName_; }
    // Whether the control shows its pressed ("_DOWN") picture.
    bool shownDown() const;
    // The picture as the 1× layout shows it.
    const QImage &picture() const { return picture_; }
    // The picture for a screen of the given device pixel ratio, with its
    // devicePixelRatio() set to match; a given picture is the same at any.
    QImage pictureAt(qreal devicePixelRatio) const;

    bool takesPointer() const { return takesPointer_; }
    void setTakesPointer(bool takes) { takesPointer_ = takes; }
    Qt::CursorShape pointerShape() const { return pointerShape_; }
    void setPointerShape(Qt::CursorShape shape) { pointerShape_ = shape; }
    QString hint() const { return hint_; }
    // The hint is also the control's accessible name when it has no other.
    void setHint(const QString &hint);

    ButtonHandler onMouseDown;
    ButtonHandler onMouseUp;
    MoveHandler onMouseMove;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void pictureChanged();

    SkinWindow *window_;
    QImage picture_;
    QString pictureName_;
    QString formName_;
    QString hint_;
    Qt::CursorShape pointerShape_ = Qt::ArrowCursor;
    bool takesPointer_ = true;
};

} // namespace tastavia::skin
