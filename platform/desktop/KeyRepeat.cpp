#include "Desktop.h"

#include <QGuiApplication>

// The XKB header names a structure member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>

namespace tastavia::desktop {

bool reportRepeatsAsKeyDownsOnly()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
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
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
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

} // namespace tastavia::desktop
