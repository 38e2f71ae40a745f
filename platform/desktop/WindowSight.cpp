#include "WindowSight.h"

#include "Logging.h"

#include <QEvent>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>

namespace tastavia::desktop {

namespace {

// ICCCM's WM_STATE, whose first value is 3 for a minimised window.
bool isIconic(xcb_connection_t *c, xcb_window_t window, xcb_atom_t wmState)
{
    if (wmState == XCB_ATOM_NONE)
        return false;
    auto *reply = xcb_get_property_reply(c, xcb_get_property(c, 0, window, wmState, wmState, 0, 1), nullptr);
    const bool iconic = reply && xcb_get_property_value_length(reply) >= 4 &&
                        *static_cast<const std::uint32_t *>(xcb_get_property_value(reply)) == 3;
    std::free(reply);
    return iconic;
}

} // namespace

struct WindowSight::Server {
    xcb_connection_t *connection = nullptr;
    xcb_window_t window = 0;
    xcb_atom_t wmState = XCB_ATOM_NONE;
    std::unique_ptr<QSocketNotifier> notifier;

    ~Server()
    {
        notifier.reset();
        if (connection)
            xcb_disconnect(connection);
    }
};

WindowSight::WindowSight(QWidget *window) : QObject(window), window_(window)
{
    window->installEventFilter(this);
    attach();
    update();
}

WindowSight::~WindowSight() = default;

bool WindowSight::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window_) {
        switch (event->type()) {
        case QEvent::WinIdChange:
            server_.reset();
            attach();
            update();
            break;
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::WindowStateChange:
            update();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowSight::attach()
{
    if (server_ || !window_ || !window_->internalWinId() || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto server = std::make_unique<Server>();
    server->connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(server->connection)) {
        qCWarning(lcDesktop) << "cannot reach the X server to watch whether the window is seen";
        return;
    }
    server->window = xcb_window_t(window_->internalWinId());
    const std::uint32_t mask = XCB_EVENT_MASK_VISIBILITY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                               XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(server->connection, server->window, XCB_CW_EVENT_MASK, &mask);
    auto *atom = xcb_intern_atom_reply(server->connection, xcb_intern_atom(server->connection, 0, 8, "WM_STATE"),
                                       nullptr);
    server->wmState = atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(atom);
    auto *attributes = xcb_get_window_attributes_reply(
        server->connection, xcb_get_window_attributes(server->connection, server->window), nullptr);
    if (!attributes)
        return;
    mapped_ = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    covered_ = false;
    std::free(attributes);
    iconic_ = isIconic(server->connection, server->window, server->wmState);
    server->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(server->connection),
                                                         QSocketNotifier::Read);
    connect(server->notifier.get(), &QSocketNotifier::activated, this, &WindowSight::readEvents);
    server_ = std::move(server);
    // Events that came in with the replies above are already off the socket.
    QMetaObject::invokeMethod(this, &WindowSight::readEvents, Qt::QueuedConnection);
}

void WindowSight::readEvents()
{
    if (!server_)
        return;
    bool exposedNow = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(server_->connection)) {
        switch (event->response_type & ~0x80) {
        case XCB_VISIBILITY_NOTIFY:
            covered_ = reinterpret_cast<xcb_visibility_notify_event_t *>(event)->state ==
                       XCB_VISIBILITY_FULLY_OBSCURED;
            break;
        case XCB_MAP_NOTIFY:
            mapped_ = true;
            break;
        case XCB_UNMAP_NOTIFY:
        case XCB_DESTROY_NOTIFY:
            mapped_ = false;
            break;
        case XCB_EXPOSE:
            exposedNow = true;
            break;
        case XCB_PROPERTY_NOTIFY:
            if (reinterpret_cast<xcb_property_notify_event_t *>(event)->atom == server_->wmState)
                iconic_ = isIconic(server_->connection, server_->window, server_->wmState);
            break;
        default:
            break;
        }
        std::free(event);
    }
    if (xcb_connection_has_error(server_->connection)) {
        // The server went away: nothing more will come, and the toolkit's
        // own state is all there is to go by.
        server_.reset();
        mapped_ = true;
        iconic_ = false;
        covered_ = false;
    }
    update();
    if (exposedNow && seen_)
        emit exposed();
}

void WindowSight::update()
{
    const bool seen = server_ ? mapped_ && !iconic_ && !covered_
                              : window_ && window_->isVisible() && !window_->isMinimized();
    if (seen == seen_)
        return;
    seen_ = seen;
    qCDebug(lcDesktop) << "window" << (window_ ? window_->windowTitle() : QString()) << (seen ? "seen" : "not seen")
                       << (server_ ? "by the X server" : "by the toolkit");
    emit seenChanged(seen);
}

} // namespace tastavia::desktop
