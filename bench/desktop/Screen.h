// What the X server shows: a program's top-level window by process and
// title, and whether anything has been painted into it yet.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tastavia::bench {

class Screen
{
public:
    Screen();
    ~Screen();
    Screen(const Screen &) = delete;
    Screen &operator=(const Screen &) = delete;

    struct Window {
        xcb_window_t id;
        int width;
        int height;
    };

    // A managed window (the window manager's client list) of that process
    // with exactly that title, mapped and viewable.
    std::optional<Window> viewableWindow(int pid, const std::string &title);

    // True once the window's pixels are no longer all of one colour: a
    // freshly mapped window shows only its background (or the black root
    // beneath it) until the program draws.
    bool painted(const Window &window);

    // Asks the window manager to minimise the window, as its title bar's
    // button would (ICCCM WM_CHANGE_STATE to Iconic).
    void minimise(const Window &window);

    // The least an animation can ask of the X server: a bare client that
    // shows a held 340 x 28 picture twenty times a second, one CopyArea
    // each, for `span`.
    void animateBare(std::chrono::seconds span);

private:
    std::string property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type);
    xcb_atom_t atom(const char *name);

    xcb_connection_t *connection_;
    xcb_window_t root_;
    xcb_atom_t clientList_, pid_, name_, utf8_;
};

} // namespace tastavia::bench
