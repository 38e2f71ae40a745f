#include "Startup.h"

#include "Entry.h"
#include "TerminationSignals.h"

#include <keyboard/PianoMain.h>
#include <patches/Patch.h>
#include <promo/AD.h>
#include <resources/Resources.h>
#include <skin/Skin.h>

#include <cstdio>
#include <memory>

namespace tastavia::app {

namespace {

constexpr std::string_view ApplicationTitle = "Tastavia";

// A running copy is restored, and raised when it was visible; this copy then
// ends without showing anything.
bool handOverToRunningCopy(const StartupPlatform &platform)
{
    const auto running = platform.findWindow(ApplicationTitle);
    if (!running || !platform.isWindow(*running))
        return false;
    if (platform.showNormal(*running))
        platform.setForeground(*running);
    return true;
}

// The selection and advert pages windows belong to the program and stay off
// the taskbar and the window switcher; the hint goes on before each show,
// while the window is still unmapped.
class SecondaryWindowHint : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            desktop::keepOffTaskbar(static_cast<desktop::WindowId>(static_cast<QWidget *>(watched)->winId()));
        return false;
    }
};

} // namespace

int run(QApplication &application, const StartupPlatform &platform)
{
    if (handOverToRunningCopy(platform))
        return 0;
    // Caught from here on: a signal during the build ends the program as
    // soon as its event loop runs.
    TerminationSignals termination;

    auto logo = std::make_unique<TLogo>();
    logo->showAndPaint();

    const auto version = platform.queryVersion();
    if (!version) {
        std::fputs("tastavia: the system version could not be read (uname failed)\n", stderr);
        return 1;
    }
    IsNT5 = desktop::isNT5From(*version);

    desktop::reportRepeatsAsKeyDownsOnly();
    QCoreApplication::setApplicationName(QString::fromUtf8(ApplicationTitle.data(), ApplicationTitle.size()));
    QGuiApplication::setWindowIcon(resources::applicationIcon());
    resources::installFontSubstitutions();
    application.setQuitOnLastWindowClosed(false);

    auto keyboard = std::make_unique<keyboard::TKeyboard>();
    keyboard->FormCreate();
    keyboard->show();
    auto patchSelect = std::make_unique<patches::TPatchSelect>(keyboard.get());
    patchSelect->FormCreate();
    keyboard->setPatchSelect(patchSelect.get());
    auto adPlayer = std::make_unique<promo::TADPlayer>();
    adPlayer->FormCreate();
    SecondaryWindowHint secondary;
    patchSelect->installEventFilter(&secondary);
    adPlayer->installEventFilter(&secondary);

    adPlayer->show();
    adPlayer->raise();
    adPlayer->activateWindow();
    logo.reset();

    const int code = termination.requested() ? 0 : application.exec();

    // The keyboard goes first: its destruction closes the help viewer and
    // disconnects the device while the other windows still exist.
    keyboard->setPatchSelect(nullptr);
    patchSelect->setPatchBar(nullptr);
    keyboard.reset();
    patchSelect.reset();
    adPlayer.reset();
    return code;
}

} // namespace tastavia::app
