#pragma once

// The few desktop services the program needs from the system: finding
// another program's window by its title, restoring, activating and closing
// it, the system version, and opening an address in the user's browser.
//
// The window calls work on the X11 display named by $DISPLAY (XWayland on a
// Wayland desktop). Each call opens its own short connection: they happen at
// start-up and shutdown only, and a connection of our own keeps them
// independent of the toolkit's. Without a display they find nothing and do
// nothing, and never fail loudly. The key repeat, key state, taskbar and
// window shape calls are the exception: they act on the toolkit's own
// connection (ToolkitX11.cpp says why).

#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include <QRect>
#include <QUrl>

namespace tastavia::desktop {

// An X11 window id. 0 names no window.
using WindowId = std::uint32_t;

// A top-level window, of any program including this one, whose title is
// exactly `exactTitle` (UTF-8, case and spaces count). The title is the
// window's _NET_WM_NAME, or its WM_NAME where it has none. Hidden windows
// count too. nullopt when there is no such window or no display.
std::optional<WindowId> findTopLevelWindow(std::string_view exactTitle);

// Whether the window still exists.
bool isWindow(WindowId window);

// Shows the window in its normal state: maps it, restores it when it is
// minimised or maximised, and activates it. Returns whether it was visible
// before the call (mapped, and not minimised). Does not wait for the window
// manager to carry the request out.
bool showNormal(WindowId window);

// Makes the window the active one and raises it.
void setForeground(WindowId window);

// Asks the window to close, as its title bar's close button would: through
// the window manager when one manages the window, otherwise with the
// window's own close protocol. Returns at once; the window's program
// decides, and may refuse. This layer never destroys the window or
// disconnects its program itself, and leaves a window that offers no way
// to ask alone.
void closeWindow(WindowId window);

// Makes a held key repeat as key-downs alone, with one key-up at the real
// release, as the program's key handling expects. By default the X server
// sends a key-up before every repeat, and Qt tells those apart only by
// looking ahead in its event queue, which a busy program can read too early:
// a held Enter would then commit the patch choice, and a held note key
// would sound again. Works on the toolkit's own X11 connection; false when
// there is none (another platform) or the server refuses.
bool reportRepeatsAsKeyDownsOnly();

// Which keys of the keyboard are down at this moment, by X11 key code, as
// the X server knows them: a key-up that went to another window while the
// focus was away is missed by the program but not by the server. nullopt
// without an X11 connection of the toolkit.
std::optional<std::bitset<256>> keysDownNow();

// Asks the window manager to leave the window out of the taskbar, the pager
// and the window switcher: a secondary window belongs to the program, not
// beside it. The hint lives on the unmapped window and managers drop it when
// a window is hidden, so it is given again before every show. Works on the
// toolkit's own X11 connection; does nothing without one.
void keepOffTaskbar(WindowId window);

// Whether shapeWindow can work: the toolkit runs on X11 and the server has
// the SHAPE extension.
bool canShapeWindows();

// Leaves only the union of `visible` of the window on screen and under the
// pointer, in the window's own device pixels. The toolkit's own mask is
// given in logical pixels and scaled up in whole steps, which makes a
// staircase of a curved outline on a scaled screen. Works on the toolkit's
// own X11 connection, so that it comes after the toolkit's own requests for
// the window; false when it cannot.
bool shapeWindow(WindowId window, std::span<const QRect> visible);

// Gives the window its whole rectangle back.
void clearWindowShape(WindowId window);

// Platform identifiers in the Windows sense, which the program's skins are
// keyed on.
inline constexpr int kPlatformWindows9x = 1;
inline constexpr int kPlatformNT = 2;

struct VersionInfo {
    int platformId = 0;
    int major = 0;
    int minor = 0;

    friend bool operator==(const VersionInfo&, const VersionInfo&) = default;
};

// The running system in the terms the program was conceived with. nullopt
// when the system cannot be asked.
std::optional<VersionInfo> queryVersion();

// The version reported for a Linux kernel release string such as
// "6.1.0-18-amd64" (what uname gives).
VersionInfo versionFromKernelRelease(std::string_view release);

// NT family, major version 5 or later: the systems whose windows can take
// any shape, so the colour-keyed skins apply.
bool isNT5From(const VersionInfo& version);

// Opens the address in the user's preferred application, without waiting
// and without reporting whether it worked.
void openUrl(const QUrl& url);

// What openUrl uses. Tests replace it to see the addresses; setting an empty
// opener puts the system's back. Returns the opener it replaces.
using UrlOpener = std::function<void(const QUrl&)>;
UrlOpener setUrlOpener(UrlOpener opener);

} // namespace tastavia::desktop
