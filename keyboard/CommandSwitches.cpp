// Close, minimise, help, scores and logo, and the advert strip's click.
#include "PianoMain.h"

#include <platform/desktop/Desktop.h>
#include <skin/ImageSwitch.h>

#include <QApplication>
#include <QWindow>

#include <utility>

namespace tastavia::keyboard {

using skin::switchPress;
using skin::switchRelease;

// Nobody's address: the maker's site is not ours to name.
const QString TKeyboard::SiteAddress = QStringLiteral("http://www.olvani.example");

namespace {
void openAddress(const QString &path)
{
    desktop::openUrl(QUrl(TKeyboard::SiteAddress + path));
}
} // namespace

void TKeyboard::bindCommandSwitches()
{
    using skin::bindSwitch;
    bindSwitch(control(QStringLiteral("ImgClose")), this, &TKeyboard::CloseMouseDown, &TKeyboard::CloseMouseUp);
    bindSwitch(control(QStringLiteral("ImgMinimize")), this, &TKeyboard::ImgMinimizeMouseDown, &TKeyboard::ImgMinimizeMouseUp);
    bindSwitch(control(QStringLiteral("ImgHelp")), this, &TKeyboard::ImgHelpMouseDown, &TKeyboard::ImgHelpMouseUp);
    bindSwitch(control(QStringLiteral("ImgStaff")), this, &TKeyboard::ImgStaffMouseDown, &TKeyboard::ImgStaffMouseUp);
    bindSwitch<TKeyboard>(control(QStringLiteral("ImgLogo")), this, nullptr, &TKeyboard::ImgLogoMouseUp);
}

void TKeyboard::CloseMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    switchPress(control(QStringLiteral("ImgClose")), QStringLiteral("CLOSE"), button);
}

void TKeyboard::CloseMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (switchRelease(control(QStringLiteral("ImgClose")), QStringLiteral("CLOSE"), button, pos))
        close();
}

void TKeyboard::ImgMinimizeMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    switchPress(control(QStringLiteral("ImgMinimize")), QStringLiteral("MINIMIZE"), button);
}

void TKeyboard::ImgMinimizeMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (switchRelease(control(QStringLiteral("ImgMinimize")), QStringLiteral("MINIMIZE"), button, pos))
        minimiseProgram();
}

void TKeyboard::ImgHelpMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    switchPress(control(QStringLiteral("ImgHelp")), QStringLiteral("HELP"), button);
}

void TKeyboard::ImgHelpMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (switchRelease(control(QStringLiteral("ImgHelp")), QStringLiteral("HELP"), button, pos))
        openAddress(QStringLiteral("/download/PravikHelp.chm"));
}

void TKeyboard::ImgStaffMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    switchPress(control(QStringLiteral("ImgStaff")), QStringLiteral("STAFF"), button);
}

void TKeyboard::ImgStaffMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (switchRelease(control(QStringLiteral("ImgStaff")), QStringLiteral("STAFF"), button, pos))
        openAddress(QStringLiteral("/staff/index.htm"));
}

void TKeyboard::ImgLogoMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (skin::releasedInside(control(QStringLiteral("ImgLogo")), button, pos))
        openAddress(QString());
}

void TKeyboard::FormMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (button == Qt::LeftButton && insideAdvertArea(pos))
        openAddress(QString());
}

void TKeyboard::minimiseProgram()
{
    // Qt can miss a restore made from outside (the taskbar, the window
    // manager) and still think the window minimised, which would make the
    // next request a no-op.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    showMinimized();
}

void TKeyboard::changeEvent(QEvent *event)
{
    // As the main window, minimising it minimises the whole program: the
    // other open windows go with it and come back with it.
    if (event->type() == QEvent::WindowStateChange) {
        if (isMinimized()) {
            // Out of sight, the keys are out of the mouse's reach: no release
            // and no move over the bare window will come to end what the
            // mouse left sounding (a press let go over the minimise switch
            // minimises with its note still on). Computer keys still down
            // end with the focus, as ever.
            releaseNotesOfTheMouse();
            hideOtherWindows();
        } else {
            showOtherWindows();
        }
    }
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow())
            releaseComputerKeysLetGoElsewhere();
        else
            releaseComputerKeys();
    }
    SkinWindow::changeEvent(event);
}

bool TKeyboard::eventFilter(QObject *watched, QEvent *event)
{
    // The window coming back on screen is the sure sign of a restore.
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed())
        showOtherWindows();
    return SkinWindow::eventFilter(watched, event);
}

void TKeyboard::showEvent(QShowEvent *event)
{
    if (windowHandle())
        windowHandle()->installEventFilter(this);
    SkinWindow::showEvent(event);
}

void TKeyboard::hideOtherWindows()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w != this && w->isVisible()) {
            hiddenWithMinimise_.append(w);
            w->hide();
        }
    }
}

void TKeyboard::showOtherWindows()
{
    // They come back without taking the focus from the keyboard window, which
    // a restore has just made the active one.
    const auto hidden = std::exchange(hiddenWithMinimise_, {});
    for (const QPointer<QWidget> &w : hidden) {
        if (auto *skinned = qobject_cast<skin::SkinWindow *>(w.data()))
            skinned->showWithoutFocus();
        else if (w)
            w->show();
    }
    if (!hidden.isEmpty())
        activateWindow();
}

} // namespace tastavia::keyboard
