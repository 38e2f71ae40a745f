#include "platform/desktop/Desktop.h"

#include "platform/desktop/Logging.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace tastavia::desktop {

namespace {

// ICCCM WM_STATE value of a minimised window.
constexpr std::uint32_t kIconicState = 3;
// EWMH source indication of a pager or other direct user action. Window
// managers with focus-stealing prevention honour it, where they might
// ignore an ordinary application asking to be brought forward.
constexpr std::uint32_t kSourceUserAction = 2;
// EWMH _NET_WM_STATE action.
constexpr std::uint32_t kStateRemove = 0;
// Reparenting window managers put a client inside a frame, and some inside
// a further wrapper; a client deeper than this is not a top-level window.
constexpr int kFrameDepth = 3;
// Enough for any window list a property can hold.
constexpr std::uint32_t kWholeProperty = std::numeric_limits<std::uint32_t>::max() / 4;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;
// What an xcb reply function returns, owned.
template <typename ReplyFunction, typename Cookie>
using ReplyOf = Reply<std::remove_pointer_t<
    std::invoke_result_t<ReplyFunction, xcb_connection_t *, Cookie, xcb_generic_error_t **>>>;

enum Atom : std::size_t {
    NetSupported,
    NetSupportingWmCheck,
    NetClientList,
    NetActiveWindow,
    NetCloseWindow,
    NetWmName,
    NetWmState,
    NetWmStateHidden,
    NetWmStateMaximizedVert,
    NetWmStateMaximizedHorz,
    Utf8String,
    CompoundText,
    WmState,
    WmProtocols,
    WmDeleteWindow,
    AtomCount
};

constexpr std::array<std::string_view, AtomCount> kAtomNames{
    "_NET_SUPPORTED",
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST",
    "_NET_ACTIVE_WINDOW",
    "_NET_CLOSE_WINDOW",
    "_NET_WM_NAME",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_STATE_MAXIMIZED_VERT",
    "_NET_WM_STATE_MAXIMIZED_HORZ",
    "UTF8_STRING",
    "COMPOUND_TEXT",
    "WM_STATE",
    "WM_PROTOCOLS",
    "WM_DELETE_WINDOW",
};

template <typename T>
std::span<const T> propertyValues(const xcb_get_property_reply_t *reply, xcb_atom_t type)
{
    if (reply == nullptr || reply->type != type || reply->format != 32)
        return {};
    const auto *values = static_cast<const T *>(xcb_get_property_value(reply));
    const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply)) / sizeof(T);
    return {values, length};
}

template <typename T>
bool contains(std::span<const T> values, T value)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

std::string latin1ToUtf8(std::string_view latin1)
{
    std::string utf8;
    utf8.reserve(latin1.size() * 2);
    for (const char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

// One connection to the display, with the atoms this layer speaks.
class Session {
public:
    Session()
    {
        // Unset means no display at all (an offscreen run); connecting would
        // fail the same way, only later.
        const char *display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0')
            return;
        connection_ = xcb_connect(nullptr, nullptr);
        if (const int error = xcb_connection_has_error(connection_)) {
            qCWarning(lcDesktop, "cannot connect to display %s (xcb error %d)", display, error);
            return;
        }
        std::array<xcb_intern_atom_cookie_t, AtomCount> cookies{};
        for (std::size_t i = 0; i < AtomCount; ++i)
            cookies[i] = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(kAtomNames[i].size()),
                                         kAtomNames[i].data());
        bool interned = true;
        for (std::size_t i = 0; i < AtomCount; ++i) {
            if (auto atom = reply(xcb_intern_atom_reply, cookies[i]))
                atoms_[i] = atom->atom;
            else
                interned = false;
        }
        if (!interned) {
            qCWarning(lcDesktop, "display %s refused to name its atoms", display);
            return;
        }
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_)); it.rem; xcb_screen_next(&it))
            roots_.push_back(it.data->root);
        usable_ = true;
    }

    ~Session()
    {
        // Also releases a connection that failed, which xcb still allocated.
        if (connection_ != nullptr)
            xcb_disconnect(connection_);
    }

    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    explicit operator bool() const { return usable_; }

    xcb_connection_t *connection() const { return connection_; }
    xcb_atom_t atom(Atom which) const { return atoms_[which]; }
    const std::vector<xcb_window_t> &roots() const { return roots_; }

    // Waits for a reply and owns it; an error (such as a window that has
    // gone meanwhile) comes back as no reply.
    template <typename ReplyFunction, typename Cookie>
    ReplyOf<ReplyFunction, Cookie> reply(ReplyFunction replyFunction, Cookie cookie) const
    {
        xcb_generic_error_t *error = nullptr;
        ReplyOf<ReplyFunction, Cookie> result(replyFunction(connection_, cookie, &error));
        std::free(error);
        return result;
    }

    xcb_get_property_cookie_t requestProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                              std::uint32_t words) const
    {
        return xcb_get_property(connection_, 0, window, property, type, 0, words);
    }

    Reply<xcb_get_property_reply_t> property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                             std::uint32_t words) const
    {
        return reply(xcb_get_property_reply, requestProperty(window, property, type, words));
    }

    // Waits until the server has handled everything sent so far, so that
    // a request is not lost when the connection closes right after it.
    void sync() const { reply(xcb_get_input_focus_reply, xcb_get_input_focus(connection_)); }

    // The window manager of `root` names a live check window and lists the
    // hint among those it supports. A manager that died leaves its check
    // window named on the root, but that window is gone.
    bool managerSupports(xcb_window_t root, Atom hint) const
    {
        const auto checkCookie = requestProperty(root, atom(NetSupportingWmCheck), XCB_ATOM_WINDOW, 1);
        const auto supportedCookie = requestProperty(root, atom(NetSupported), XCB_ATOM_ATOM, kWholeProperty);
        const auto check = reply(xcb_get_property_reply, checkCookie);
        const auto supported = reply(xcb_get_property_reply, supportedCookie);
        const auto checkWindow = propertyValues<xcb_window_t>(check.get(), XCB_ATOM_WINDOW);
        if (checkWindow.empty() || !contains(propertyValues<xcb_atom_t>(supported.get(), XCB_ATOM_ATOM), atom(hint)))
            return false;
        const auto self = property(checkWindow[0], atom(NetSupportingWmCheck), XCB_ATOM_WINDOW, 1);
        return contains(propertyValues<xcb_window_t>(self.get(), XCB_ATOM_WINDOW), checkWindow[0]);
    }

    std::vector<xcb_window_t> clientList(xcb_window_t root) const
    {
        const auto list = property(root, atom(NetClientList), XCB_ATOM_WINDOW, kWholeProperty);
        const auto windows = propertyValues<xcb_window_t>(list.get(), XCB_ATOM_WINDOW);
        return {windows.begin(), windows.end()};
    }

    // Sends a 32-bit client message the way EWMH asks: to the root window,
    // where the window manager listens for it.
    void sendToManager(xcb_window_t root, xcb_window_t window, Atom type,
                       const std::array<std::uint32_t, 5> &data) const
    {
        send(root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, window,
             atom(type), data);
    }

    // With no event mask the message goes to the program that created the
    // window, whatever it listens for.
    void sendToOwner(xcb_window_t window, Atom type, const std::array<std::uint32_t, 5> &data) const
    {
        send(window, XCB_EVENT_MASK_NO_EVENT, window, atom(type), data);
    }

private:
    void send(xcb_window_t destination, std::uint32_t mask, xcb_window_t window, xcb_atom_t type,
              const std::array<std::uint32_t, 5> &data) const
    {
        // The server copies a whole 32-byte event.
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = type;
        std::copy(data.begin(), data.end(), event.data.data32);
        static_assert(sizeof event == 32);
        xcb_send_event(connection_, 0, destination, mask, reinterpret_cast<const char *>(&event));
    }

    xcb_connection_t *connection_ = nullptr;
    std::array<xcb_atom_t, AtomCount> atoms_{};
    std::vector<xcb_window_t> roots_;
    bool usable_ = false;
};

// Whether a title property holds exactly `title`. The legacy property may
// be Latin-1 (STRING), UTF-8, or compound text; compound text without
// escape sequences is Latin-1, and with them it never names the windows
// this program looks for.
bool titleEquals(const Session &session, const xcb_get_property_reply_t *name, std::string_view title,
                 bool legacy)
{
    // More than was asked for means a longer title.
    if (name->format != 8 || name->bytes_after != 0)
        return false;
    const std::string_view value(static_cast<const char *>(xcb_get_property_value(name)),
                                 static_cast<std::size_t>(xcb_get_property_value_length(name)));
    if (!legacy || name->type == session.atom(Utf8String))
        return value == title;
    if (name->type == XCB_ATOM_STRING)
        return latin1ToUtf8(value) == title;
    if (name->type == session.atom(CompoundText))
        return value.find('\x1b') == std::string_view::npos && latin1ToUtf8(value) == title;
    return false;
}

// The first of `windows` titled `title`. All requests go out before the
// first reply is read, so a long list costs one round trip.
std::optional<xcb_window_t> firstTitled(const Session &session, const std::vector<xcb_window_t> &windows,
                                        std::string_view title)
{
    // Latin-1 never takes more bytes than its UTF-8 form, so one byte past
    // the title is enough to see whether a name is longer.
    const auto words = static_cast<std::uint32_t>(title.size() / 4 + 1);
    struct Cookies {
        xcb_get_property_cookie_t netName;
        xcb_get_property_cookie_t name;
    };
    std::vector<Cookies> cookies;
    cookies.reserve(windows.size());
    for (const xcb_window_t window : windows)
        cookies.push_back({session.requestProperty(window, session.atom(NetWmName), XCB_GET_PROPERTY_TYPE_ANY, words),
                           session.requestProperty(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, words)});

    std::optional<xcb_window_t> found;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (found) {
            xcb_discard_reply(session.connection(), cookies[i].netName.sequence);
            xcb_discard_reply(session.connection(), cookies[i].name.sequence);
            continue;
        }
        const auto netName = session.reply(xcb_get_property_reply, cookies[i].netName);
        const auto name = session.reply(xcb_get_property_reply, cookies[i].name);
        // The EWMH name, where there is one, is the title; the legacy name
        // only counts for windows without it.
        bool matches = false;
        if (netName && netName->type != XCB_NONE)
            matches = titleEquals(session, netName.get(), title, false);
        else if (name && name->type != XCB_NONE)
            matches = titleEquals(session, name.get(), title, true);
        if (matches)
            found = windows[i];
    }
    return found;
}

// Which of `windows` carry WM_STATE, the mark a window manager puts on the
// client windows it manages (and clients keep while withdrawn).
std::vector<bool> haveWmState(const Session &session, const std::vector<xcb_window_t> &windows)
{
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (const xcb_window_t window : windows)
        cookies.push_back(session.requestProperty(window, session.atom(WmState), XCB_GET_PROPERTY_TYPE_ANY, 0));
    std::vector<bool> result;
    result.reserve(windows.size());
    for (const auto cookie : cookies) {
        const auto state = session.reply(xcb_get_property_reply, cookie);
        result.push_back(state && state->type != XCB_NONE);
    }
    return result;
}

// Children of each window, topmost first.
std::vector<std::vector<xcb_window_t>> childrenOf(const Session &session, const std::vector<xcb_window_t> &windows)
{
    std::vector<xcb_query_tree_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (const xcb_window_t window : windows)
        cookies.push_back(xcb_query_tree(session.connection(), window));
    std::vector<std::vector<xcb_window_t>> result;
    result.reserve(windows.size());
    for (const auto cookie : cookies) {
        auto &children = result.emplace_back();
        if (const auto tree = session.reply(xcb_query_tree_reply, cookie)) {
            const xcb_window_t *first = xcb_query_tree_children(tree.get());
            children.assign(first, first + xcb_query_tree_children_length(tree.get()));
            std::reverse(children.begin(), children.end());
        }
    }
    return result;
}

// Top-level windows of `root`, topmost first, without help from a window
// manager's list: every child of the root (a client, a frame, or a window
// nobody manages), and after each frame the clients inside it.
std::vector<xcb_window_t> topLevelWindows(const Session &session, xcb_window_t root)
{
    const auto topLevel = childrenOf(session, {root}).front();
    const auto topLevelIsClient = haveWmState(session, topLevel);

    // For each top-level window that is no client, look for clients inside
    // it, one level at a time, so that each level costs one round trip.
    std::vector<std::vector<xcb_window_t>> clientsInside(topLevel.size());
    std::vector<std::size_t> owner;
    std::vector<xcb_window_t> level;
    for (std::size_t i = 0; i < topLevel.size(); ++i) {
        if (!topLevelIsClient[i]) {
            owner.push_back(i);
            level.push_back(topLevel[i]);
        }
    }
    for (int depth = 0; depth < kFrameDepth && !level.empty(); ++depth) {
        const auto children = childrenOf(session, level);
        std::vector<std::size_t> childOwner;
        std::vector<xcb_window_t> childLevel;
        for (std::size_t i = 0; i < level.size(); ++i) {
            childOwner.insert(childOwner.end(), children[i].size(), owner[i]);
            childLevel.insert(childLevel.end(), children[i].begin(), children[i].end());
        }
        const auto childIsClient = haveWmState(session, childLevel);
        owner.clear();
        level.clear();
        for (std::size_t i = 0; i < childLevel.size(); ++i) {
            if (childIsClient[i]) {
                clientsInside[childOwner[i]].push_back(childLevel[i]);
            } else {
                owner.push_back(childOwner[i]);
                level.push_back(childLevel[i]);
            }
        }
    }

    std::vector<xcb_window_t> result;
    for (std::size_t i = 0; i < topLevel.size(); ++i) {
        result.push_back(topLevel[i]);
        result.insert(result.end(), clientsInside[i].begin(), clientsInside[i].end());
    }
    return result;
}

// The root window of the screen that shows `window`, or nothing when the
// window does not exist.
std::optional<xcb_window_t> rootOf(const Session &session, xcb_window_t window)
{
    const auto geometry = session.reply(xcb_get_geometry_reply, xcb_get_geometry(session.connection(), window));
    if (!geometry)
        return std::nullopt;
    return geometry->root;
}

struct WindowState {
    xcb_window_t root = XCB_NONE;
    bool viewable = false;
    bool iconic = false;
    bool hidden = false;
    bool maximizedVert = false;
    bool maximizedHorz = false;
};

std::optional<WindowState> stateOf(const Session &session, xcb_window_t window)
{
    xcb_connection_t *c = session.connection();
    const auto attributesCookie = xcb_get_window_attributes(c, window);
    const auto geometryCookie = xcb_get_geometry(c, window);
    const auto wmStateCookie = session.requestProperty(window, session.atom(WmState), session.atom(WmState), 1);
    const auto netStateCookie = session.requestProperty(window, session.atom(NetWmState), XCB_ATOM_ATOM, kWholeProperty);
    const auto attributes = session.reply(xcb_get_window_attributes_reply, attributesCookie);
    const auto geometry = session.reply(xcb_get_geometry_reply, geometryCookie);
    const auto wmState = session.reply(xcb_get_property_reply, wmStateCookie);
    const auto netState = session.reply(xcb_get_property_reply, netStateCookie);
    if (!attributes || !geometry)
        return std::nullopt;

    WindowState state;
    state.root = geometry->root;
    state.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    const auto wmStateValues = propertyValues<std::uint32_t>(wmState.get(), session.atom(WmState));
    state.iconic = !wmStateValues.empty() && wmStateValues[0] == kIconicState;
    const auto netStates = propertyValues<xcb_atom_t>(netState.get(), XCB_ATOM_ATOM);
    state.hidden = contains(netStates, session.atom(NetWmStateHidden));
    state.maximizedVert = contains(netStates, session.atom(NetWmStateMaximizedVert));
    state.maximizedHorz = contains(netStates, session.atom(NetWmStateMaximizedHorz));
    return state;
}

void activate(const Session &session, xcb_window_t root, xcb_window_t window)
{
    session.sendToManager(root, window, NetActiveWindow, {kSourceUserAction, XCB_CURRENT_TIME, XCB_NONE, 0, 0});
}

} // namespace

std::optional<WindowId> findTopLevelWindow(std::string_view exactTitle)
{
    const Session session;
    if (!session)
        return std::nullopt;
    // The managers' lists hold the windows people see; the tree walk then
    // also finds hidden windows and those no manager looks after.
    for (const xcb_window_t root : session.roots()) {
        if (const auto found = firstTitled(session, session.clientList(root), exactTitle))
            return *found;
    }
    for (const xcb_window_t root : session.roots()) {
        if (const auto found = firstTitled(session, topLevelWindows(session, root), exactTitle))
            return *found;
    }
    return std::nullopt;
}

bool isWindow(WindowId window)
{
    if (window == XCB_NONE)
        return false;
    const Session session;
    return session && rootOf(session, window).has_value();
}

bool showNormal(WindowId window)
{
    if (window == XCB_NONE)
        return false;
    const Session session;
    if (!session)
        return false;
    const auto state = stateOf(session, window);
    if (!state)
        return false;
    const bool wasVisible = state->viewable && !state->iconic && !state->hidden;

    // Mapping shows a hidden window; for a minimised one the window manager
    // receives it as a request to restore.
    xcb_map_window(session.connection(), window);
    if ((state->maximizedVert || state->maximizedHorz) && session.managerSupports(state->root, NetWmState)) {
        session.sendToManager(state->root, window, NetWmState,
                              {kStateRemove, session.atom(NetWmStateMaximizedVert),
                               session.atom(NetWmStateMaximizedHorz), kSourceUserAction, 0});
    }
    // Activation restores a minimised window under every EWMH manager,
    // including those that ignore the map request of another program.
    if (session.managerSupports(state->root, NetActiveWindow))
        activate(session, state->root, window);
    session.sync();
    return wasVisible;
}

void setForeground(WindowId window)
{
    if (window == XCB_NONE)
        return;
    const Session session;
    if (!session)
        return;
    const auto state = stateOf(session, window);
    if (!state)
        return;
    if (session.managerSupports(state->root, NetActiveWindow)) {
        activate(session, state->root, window);
    } else if (state->viewable) {
        // No manager to ask: give the window the keyboard directly. Only a
        // viewable window can take the focus.
        xcb_set_input_focus(session.connection(), XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    }
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(session.connection(), window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    session.sync();
}

void closeWindow(WindowId window)
{
    if (window == XCB_NONE)
        return;
    const Session session;
    if (!session)
        return;
    const auto root = rootOf(session, window);
    if (!root)
        return;

    // A manager only closes the windows it manages; it asks the program in
    // whatever way the program understands.
    if (session.managerSupports(*root, NetCloseWindow)) {
        const auto clients = session.clientList(*root);
        if (std::find(clients.begin(), clients.end(), window) != clients.end()) {
            session.sendToManager(*root, window, NetCloseWindow, {XCB_CURRENT_TIME, kSourceUserAction, 0, 0, 0});
            session.sync();
            return;
        }
    }

    const auto protocols = session.property(window, session.atom(WmProtocols), XCB_ATOM_ATOM, kWholeProperty);
    if (contains(propertyValues<xcb_atom_t>(protocols.get(), XCB_ATOM_ATOM), session.atom(WmDeleteWindow))) {
        session.sendToOwner(window, WmProtocols, {session.atom(WmDeleteWindow), XCB_CURRENT_TIME, 0, 0, 0});
        session.sync();
        return;
    }
    // Destroying the window or cutting its program off would lose whatever
    // it holds; a program that takes no close request keeps its window.
    qCWarning(lcDesktop, "window 0x%x takes no close request; left open", window);
}

} // namespace tastavia::desktop
