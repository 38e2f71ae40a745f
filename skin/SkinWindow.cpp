#include "SkinWindow.h"

#include "AccessibleControl.h"

#include <platform/desktop/Desktop.h>
#include <resources/Resources.h>

#include <QBitmap>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QToolTip>
#include <QWindow>

#include <span>
#include <utility>

namespace tastavia::skin {

namespace {
const char *const RoutedProperty = "tastaviaRouted";
const char *const PassiveProperty = "tastaviaPassive";
const QRgb ColourKey = qRgb(255, 0, 0);

bool takesPointer(const QWidget *child)
{
    if (auto *control = qobject_cast<const ImageControl *>(child))
        return control->takesPointer();
    return !child->property(PassiveProperty).toBool();
}
} // namespace

SkinWindow::SkinWindow(const QString &title, QSize size)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
{
    // Installing it again is a no-op; it has to be in place before the first
    // control is looked up.
    QAccessible::installFactory(accessibleInterfaceFor);
    setWindowTitle(title);
    setFixedSize(size);
    setMouseTracking(true);
    background_ = new ImageControl(this, QStringLiteral("ImgBkg"), QRect(QPoint(0, 0), size));
    background_->setTakesPointer(false);
}

void SkinWindow::loadBackground(const QString &name)
{
    background_->loadBitmap(name);
    const QSize size = background_->picture().size();
    background_->resize(size);
    setFixedSize(size);
    updateMask();
}

QImage SkinWindow::bitmap(const QString &name)
{
    auto found = bitmaps_.constFind(name);
    if (found != bitmaps_.constEnd())
        return *found;
    QImage picture = resources::namedBitmap(name);
    bitmaps_.insert(name, picture);
    return picture;
}

void SkinWindow::setColourKey(bool on)
{
    colourKey_ = on;
    updateMask();
}

void SkinWindow::updateMask()
{
    const qreal ratio = devicePixelRatioF();
    maskRatio_ = ratio;
    const bool keyed = colourKey_ && !background_->picture().isNull();
    // Qt's mask is logical and would scale the 1× outline up in whole steps
    // on a scaled screen; the window system's own shape takes the outline
    // of the picture drawn for the screen, in device pixels. A picture
    // given as it is has no such drawing, and keeps Qt's mask.
    const QImage face = keyed && ratio != 1.0 ? background_->pictureAt(ratio) : QImage();
    if (!face.isNull() && face.devicePixelRatio() == ratio && desktop::canShapeWindows()) {
        // Clearing Qt's mask clears the shape as well, so it goes first; with
        // no mask of its own Qt leaves the shape alone.
        clearMask();
        if (!internalWinId()) {
            // Creating the native window comes back here.
            maskRatio_ = 0;
            return;
        }
        const QRegion visible = skin::visibleRegion(face);
        nativeShape_ = desktop::shapeWindow(desktop::WindowId(internalWinId()),
                                            std::span<const QRect>(visible.begin(), visible.end()));
        if (nativeShape_)
            return;
    }
    if (std::exchange(nativeShape_, false))
        desktop::clearWindowShape(desktop::WindowId(internalWinId()));
    if (keyed)
        setMask(skin::visibleRegion(background_->picture()));
    else
        clearMask();
}

QRegion visibleRegion(const QImage &picture)
{
    // The mask's set bits are the pixels that stay; createMaskFromColor's
    // mode names are easy to read the wrong way round, and MaskInColor is the
    // one that leaves the key colour out here (a test checks both sides).
    const QImage mask = picture.convertToFormat(QImage::Format_RGB32).createMaskFromColor(ColourKey, Qt::MaskInColor);
    return QRegion(QBitmap::fromImage(mask));
}

void SkinWindow::centreOnScreen()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect place(QPoint(0, 0), size());
    place.moveCenter(screen->geometry().center());
    move(place.topLeft());
}

void SkinWindow::startDrag(QPoint windowPos)
{
    // The window moves itself rather than asking the window manager
    // (_NET_WM_MOVERESIZE): that request reaches the manager after input
    // that is already queued, so a release made before the manager grabs
    // the pointer, or a second request from a move already on its way,
    // leaves the manager moving the window with no key held until the next
    // click. Our own implicit grab sees every move and the release itself.
    followOffset_ = dragOrigin(windowPos);
}

void SkinWindow::showWithoutFocus()
{
    // Two ways of saying it, since managers heed one or the other: a user
    // time of 0 at map (mutter, openbox) and a window that takes no input
    // (icewm focuses new windows whatever their time, and would take the
    // focus and give it back, which ends the notes of held keys). Both must
    // be on the native window before it is mapped.
    setAttribute(Qt::WA_ShowWithoutActivating);
    winId();
    windowHandle()->setFlag(Qt::WindowDoesNotAcceptFocus, true);
    focusHeldBack_ = true;
    show();
}

void SkinWindow::takeFocus()
{
    if (!focusHeldBack_)
        return;
    focusHeldBack_ = false;
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    if (QWindow *window = windowHandle())
        window->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    activateWindow();
}

void SkinWindow::makeRouted(QWidget *child)
{
    child->setAttribute(Qt::WA_TransparentForMouseEvents);
    child->setProperty(RoutedProperty, true);
}

void SkinWindow::makePassive(QWidget *child)
{
    makeRouted(child);
    child->setProperty(PassiveProperty, true);
}

bool SkinWindow::isPassive(const QObject *object)
{
    const auto *child = qobject_cast<const QWidget *>(object);
    return child && child->property(PassiveProperty).toBool() && qobject_cast<const SkinWindow *>(child->parentWidget());
}

QWidget *SkinWindow::controlAt(QPoint windowPos) const
{
    const QObjectList &kids = children();
    for (auto it = kids.crbegin(); it != kids.crend(); ++it) {
        auto *child = qobject_cast<QWidget *>(*it);
        if (!child || !child->isVisibleTo(this) || !child->property(RoutedProperty).toBool())
            continue;
        if (child->geometry().contains(windowPos) && takesPointer(child))
            return child;
    }
    return nullptr;
}

void SkinWindow::clickControl(QWidget *target)
{
    QPointer<ImageControl> control = qobject_cast<ImageControl *>(target);
    if (!control || control->parentWidget() != this || !takesPointer(control))
        return;
    const QPointer<QWidget> held = capture_;
    const QPoint inside(1, 1);
    // As with the pointer, the press captures the control (its handler may
    // end the capture) and the release goes to it wherever it is.
    capture_ = control;
    if (control->onMouseDown)
        control->onMouseDown(control, Qt::LeftButton, Qt::NoModifier, inside);
    capture_ = nullptr;
    if (control && control->onMouseUp)
        control->onMouseUp(control, Qt::LeftButton, Qt::NoModifier, inside);
    capture_ = held;
}

void SkinWindow::FormMouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, QPoint) {}

void SkinWindow::FormMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint) {}

void SkinWindow::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    // While a control holds the capture, a press of another mouse key goes
    // to it too, so the first key's release still reaches the control it
    // began on.
    const bool anotherKeyHeld = event->buttons() & ~event->button();
    QWidget *target = capture_ && anotherKeyHeld ? capture_.data() : controlAt(pos);
    takeFocus();
    // A press on the window's own surface captures nothing and calls nothing.
    if (!target) {
        if (event->button() == Qt::LeftButton)
            surfacePress_ = pos;
        return;
    }
    capture_ = target;
    if (auto *control = qobject_cast<ImageControl *>(target); control && control->onMouseDown)
        control->onMouseDown(control, event->button(), event->modifiers(), control->mapFrom(this, pos));
}

void SkinWindow::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click is a press like any other.
    mousePressEvent(event);
}

void SkinWindow::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (followOffset_) {
        if (event->buttons() & Qt::LeftButton) {
            move(event->globalPosition().toPoint() - *followOffset_);
            return;
        }
        followOffset_.reset();
    }
    // A release can be lost to a modal box or a grab taken elsewhere; a
    // move with no key down proves the press is over.
    if (event->buttons() == Qt::NoButton)
        capture_ = nullptr;
    QWidget *target = capture_ ? capture_.data() : controlAt(pos);
    if (target) {
        if (auto *control = qobject_cast<ImageControl *>(target); control && control->onMouseMove)
            control->onMouseMove(control, event->buttons(), event->modifiers(), control->mapFrom(this, pos));
    } else if (rect().contains(pos) || surfacePress_) {
        // After a press on the surface a move counts even outside: moves
        // come compressed, and the first one seen can lie past the edge.
        FormMouseMove(event->buttons(), event->modifiers(), pos);
        // The move that starts a drag carries the window too: a fast flick
        // can come as one move, compressed by the toolkit.
        if (followOffset_)
            move(event->globalPosition().toPoint() - *followOffset_);
    }
    updateCursor(pos);
}

void SkinWindow::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        surfacePress_.reset();
    if (followOffset_ && event->button() == Qt::LeftButton) {
        // The release ends the move and reaches no handler.
        followOffset_.reset();
        return;
    }
    QWidget *target = capture_ ? capture_.data() : controlAt(pos);
    if (event->buttons() == Qt::NoButton)
        capture_ = nullptr;
    if (target) {
        if (auto *control = qobject_cast<ImageControl *>(target); control && control->onMouseUp)
            control->onMouseUp(control, event->button(), event->modifiers(), control->mapFrom(this, pos));
    } else if (rect().contains(pos)) {
        FormMouseUp(event->button(), event->modifiers(), pos);
    }
    updateCursor(pos);
}

// The held control gets the release that will not come, as a release outside
// itself: a switch goes back up without acting.
void SkinWindow::abandonCapture()
{
    surfacePress_.reset();
    if (!capture_)
        return;
    const QPointer<QWidget> held = std::exchange(capture_, nullptr);
    auto *control = qobject_cast<ImageControl *>(held.data());
    if (control && control->onMouseUp && (QGuiApplication::mouseButtons() & Qt::LeftButton))
        control->onMouseUp(control, Qt::LeftButton, Qt::NoModifier, QPoint(-1, -1));
}

void SkinWindow::hideEvent(QHideEvent *event)
{
    // Hidden by a key (Escape) while the mouse holds one of its switches:
    // the release would go nowhere, and the switch would come back pressed.
    if (!event->spontaneous())
        abandonCapture();
    QWidget::hideEvent(event);
}

void SkinWindow::updateCursor(QPoint windowPos)
{
    Qt::CursorShape shape = surfaceCursor_;
    if (const QWidget *target = controlAt(windowPos)) {
        auto *control = qobject_cast<const ImageControl *>(target);
        shape = control ? control->pointerShape() : Qt::ArrowCursor;
    }
    if (cursor().shape() != shape)
        setCursor(shape);
}

bool SkinWindow::event(QEvent *event)
{
    // A modal box takes the pointer now, and the release of the press
    // under way will never come here.
    if (event->type() == QEvent::WindowBlocked)
        abandonCapture();
    // A new native window has no shape yet. A screen of another scale wants
    // the outline drawn for it; Qt 6.4 tells of a new screen but not of a
    // new scale on the same one, which the repaint that follows shows.
    if (event->type() == QEvent::WinIdChange)
        updateMask();
    if ((event->type() == QEvent::ScreenChangeInternal || event->type() == QEvent::UpdateRequest) &&
        devicePixelRatioF() != maskRatio_)
        updateMask();
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        auto *control = qobject_cast<ImageControl *>(controlAt(help->pos()));
        if (control && !control->hint().isEmpty())
            QToolTip::showText(help->globalPos(), control->hint(), this, control->geometry());
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

} // namespace tastavia::skin
