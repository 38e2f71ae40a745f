// The desktop services that must go through the toolkit's own X11
// connection rather than a short one of ours: per-client XKB flags and the
// key state belong to the connection that gets the key events, window
// state hints must be in place before the toolkit maps the window, and a
// window's shape must come after the toolkit's own (clearing its mask
// resets the shape), which only one connection keeps in order.
#include "Desktop.h"

#include <QGuiApplication>

#include <xcb/shape.h>
#include <xcb/xcb.h>
// The XKB header names a structure member "explicit", a C++ keyword.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#ifdef __clang__
#pragma clang diagnostic pop
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tastavia::desktop {

namespace {

// Null on any other platform than xcb, and without an application.
xcb_connection_t *toolkitConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    auto *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

} // namespace

bool reportRepeatsAsKeyDownsOnly()
{
    xcb_connection_t *connection = toolkitConnection();
    if (!connection)
        return false;
    // Qt has already taken XKB into use on its connection; the flag belongs
    // to the connection, so it must be set on Qt's and not on one of ours.
    const auto flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    auto *reply = xcb_xkb_per_client_flags_reply(
        connection, xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr);
    const bool set = reply && (reply->value & flag);
    std::free(reply);
    return set;
}

std::optional<std::bitset<256>> keysDownNow()
{
    xcb_connection_t *connection = toolkitConnection();
    if (!connection)
        return std::nullopt;
    auto *reply = xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr);
    if (!reply)
        return std::nullopt;
    std::bitset<256> down;
    for (std::size_t code = 0; code < down.size(); ++code)
        down[code] = (reply->keys[code / 8] >> (code % 8)) & 1;
    std::free(reply);
    return down;
}

void keepOffTaskbar(WindowId window)
{
    xcb_connection_t *connection = toolkitConnection();
    if (!connection || window == 0)
        return;
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t wanted[] = {internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == XCB_ATOM_NONE)
        return;

    std::vector<xcb_atom_t> atoms;
    auto *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, state, XCB_ATOM_ATOM, 0, 1024), nullptr);
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto *have = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
        atoms.assign(have, have + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    for (const xcb_atom_t atom : wanted)
        if (atom != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), atom) == atoms.end())
            atoms.push_back(atom);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(atoms.size()), atoms.data());
    xcb_flush(connection);
}

bool canShapeWindows()
{
    xcb_connection_t *connection = toolkitConnection();
    if (!connection)
        return false;
    const xcb_query_extension_reply_t *shape = xcb_get_extension_data(connection, &xcb_shape_id);
    return shape && shape->present;
}

bool shapeWindow(WindowId window, std::span<const QRect> visible)
{
    if (window == 0 || !canShapeWindows())
        return false;
    xcb_connection_t *connection = toolkitConnection();
    std::vector<xcb_rectangle_t> rectangles;
    rectangles.reserve(visible.size());
    for (const QRect &r : visible)
        rectangles.push_back({static_cast<std::int16_t>(r.x()), static_cast<std::int16_t>(r.y()),
                              static_cast<std::uint16_t>(r.width()), static_cast<std::uint16_t>(r.height())});
    // Only the bounding shape, as the toolkit's own mask does: the input
    // shape follows it unless set apart.
    xcb_shape_rectangles(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, window, 0,
                         0, static_cast<std::uint32_t>(rectangles.size()), rectangles.data());
    xcb_flush(connection);
    return true;
}

void clearWindowShape(WindowId window)
{
    if (window == 0 || !canShapeWindows())
        return;
    xcb_connection_t *connection = toolkitConnection();
    xcb_shape_mask(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, window, 0, 0, XCB_NONE);
    xcb_flush(connection);
}

} // namespace tastavia::desktop
