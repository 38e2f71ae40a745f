#include "Startup.h"

#include <QApplication>

int main(int, char **argv)
{
    // The program reads no command line; Qt sees only the program's name.
    // The platform defaults to X11 (XWayland on a Wayland desktop), since the
    // colour-keyed skins and window lookups rely on it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // The advert strip repaints twenty times a second. Through shared memory
    // each small repaint costs a completion event and two wake-ups more than
    // sending its 38 KB down the socket: a fifth of what the idle program
    // costs.
    if (qEnvironmentVariableIsEmpty("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    int argc = 1;
    char *args[] = {argv[0], nullptr};
    QApplication application(argc, args);
    return tastavia::app::run(application);
}
