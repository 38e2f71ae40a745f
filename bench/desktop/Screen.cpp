#include "Screen.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tastavia::bench {

namespace {
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> reply(T *raw)
{
    return Reply<T>(raw, &std::free);
}
} // namespace

Screen::Screen() : connection_(xcb_connect(nullptr, nullptr))
{
    if (xcb_connection_has_error(connection_))
        throw std::runtime_error("cannot open the X display");
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    clientList_ = atom("_NET_CLIENT_LIST");
    pid_ = atom("_NET_WM_PID");
    name_ = atom("_NET_WM_NAME");
    utf8_ = atom("UTF8_STRING");
}

Screen::~Screen()
{
    xcb_disconnect(connection_);
}

xcb_atom_t Screen::atom(const char *name)
{
    auto r = reply(xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::string Screen::property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    auto r = reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, name, type, 0, 1 << 16), nullptr));
    if (!r || r->type != type)
        return {};
    return std::string(static_cast<const char *>(xcb_get_property_value(r.get())),
                       xcb_get_property_value_length(r.get()));
}

std::optional<Screen::Window> Screen::viewableWindow(int pid, const std::string &title)
{
    const std::string list = property(root_, clientList_, XCB_ATOM_WINDOW);
    std::vector<xcb_window_t> clients(list.size() / sizeof(xcb_window_t));
    std::memcpy(clients.data(), list.data(), clients.size() * sizeof(xcb_window_t));
    for (xcb_window_t client : clients) {
        const std::string pidValue = property(client, pid_, XCB_ATOM_CARDINAL);
        if (pidValue.size() != 4 || *reinterpret_cast<const std::uint32_t *>(pidValue.data()) != std::uint32_t(pid))
            continue;
        if (property(client, name_, utf8_) != title)
            continue;
        auto attributes = reply(
            xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, client), nullptr));
        auto geometry = reply(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, client), nullptr));
        if (attributes && geometry && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            return Window{client, geometry->width, geometry->height};
    }
    return std::nullopt;
}

bool Screen::painted(const Window &window)
{
    auto image = reply(xcb_get_image_reply(
        connection_,
        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window.id, 0, 0, window.width, window.height, ~0u),
        nullptr));
    if (!image || image->depth < 24)
        return false;
    const auto *pixels = reinterpret_cast<const std::uint32_t *>(xcb_get_image_data(image.get()));
    const int count = xcb_get_image_data_length(image.get()) / 4;
    for (int i = 1; i < count; ++i) {
        if ((pixels[i] & 0xFFFFFF) != (pixels[0] & 0xFFFFFF))
            return true;
    }
    return false;
}

void Screen::minimise(const Window &window)
{
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window.id;
    message.type = atom("WM_CHANGE_STATE");
    message.data.data32[0] = 3; // IconicState
    xcb_send_event(connection_, 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(connection_);
}

void Screen::animateBare(std::chrono::seconds span)
{
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    const xcb_window_t window = xcb_generate_id(connection_);
    const std::uint32_t values[] = {screen->black_pixel, 1};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, 340, 28, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(connection_, window);
    const xcb_pixmap_t pixmap = xcb_generate_id(connection_);
    xcb_create_pixmap(connection_, screen->root_depth, pixmap, window, 340, 28);
    const xcb_gcontext_t gc = xcb_generate_id(connection_);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(connection_, gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    xcb_flush(connection_);

    const auto begin = std::chrono::steady_clock::now();
    for (auto due = begin; due - begin < span; due += std::chrono::milliseconds(50)) {
        xcb_copy_area(connection_, pixmap, window, gc, 0, 0, 0, 0, 340, 28);
        xcb_flush(connection_);
        std::this_thread::sleep_until(due + std::chrono::milliseconds(50));
    }
    xcb_free_gc(connection_, gc);
    xcb_free_pixmap(connection_, pixmap);
    xcb_destroy_window(connection_, window);
    xcb_flush(connection_);
}

} // namespace tastavia::bench
