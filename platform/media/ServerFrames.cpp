#include "ServerFrames.h"

#include "MediaLog.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <utility>
#include <cstdlib>

namespace tastavia::media {

namespace {

xcb_connection_t *toolkitConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The pictures go up as QImage::Format_RGB32 rows, which is the server's
// own layout only for a 24-bit true-colour visual (or 32-bit, whose alpha
// byte RGB32 fills) stored in 32 bits per pixel, least significant byte
// first, as on every X server on this machine's kind of processor.
bool takesRgb32(xcb_connection_t *c, xcb_window_t window, std::uint8_t *depth)
{
    if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
        return false;
    const xcb_setup_t *setup = xcb_get_setup(c);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    auto *geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    auto *attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    const bool known = geometry && attributes;
    *depth = geometry ? geometry->depth : 0;
    const xcb_visualid_t visual = attributes ? attributes->visual : 0;
    std::free(geometry);
    std::free(attributes);
    if (!known || (*depth != 24 && *depth != 32))
        return false;

    bool format = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == *depth)
            format = it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    if (!format)
        return false;
    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem; xcb_screen_next(&screens))
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem; xcb_depth_next(&depths))
            for (auto v = xcb_depth_visuals_iterator(depths.data); v.rem; xcb_visualtype_next(&v))
                if (v.data->visual_id == visual)
                    return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xff0000 &&
                           v.data->green_mask == 0xff00 && v.data->blue_mask == 0xff;
    return false;
}

} // namespace

std::optional<ServerFrames::Place> ServerFrames::placeOf(const QWidget *display)
{
    const QWidget *top = display ? display->window() : nullptr;
    if (!top || !top->internalWinId())
        return std::nullopt;
    // The strip's device pixels, placed as the toolkit places its painting.
    const qreal ratio = display->devicePixelRatioF();
    const QPoint origin = display->mapTo(top, QPoint(0, 0));
    Place place;
    place.window = std::uint32_t(top->internalWinId());
    place.origin = QPoint(qRound(origin.x() * ratio), qRound(origin.y() * ratio));
    place.size = QSize(qRound(display->width() * ratio), qRound(display->height() * ratio));
    return place;
}

std::unique_ptr<ServerFrames> ServerFrames::upload(QWidget *display, const std::vector<QImage> &pictures)
{
    xcb_connection_t *c = toolkitConnection();
    const std::optional<Place> place = placeOf(display);
    if (!c || !place || pictures.empty() || place->size.isEmpty())
        return nullptr;
    std::uint8_t depth = 0;
    if (!takesRgb32(c, place->window, &depth)) {
        qCDebug(lcMedia) << "the strip's window has a pixel format the pictures are not kept in";
        return nullptr;
    }

    for (const QImage &picture : pictures)
        if (picture.size() != place->size)
            return nullptr;

    std::unique_ptr<ServerFrames> frames(new ServerFrames);
    frames->connection_ = c;
    frames->display_ = display;
    frames->place_ = *place;
    frames->gc_ = xcb_generate_id(c);
    const std::uint32_t noExposures = 0;
    std::vector<xcb_void_cookie_t> requests;
    requests.push_back(xcb_create_gc_checked(c, frames->gc_, place->window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures));

    const int width = place->size.width(), height = place->size.height();
    // Large pictures go up in bands that each fit one request.
    const std::uint32_t maxBytes = xcb_get_maximum_request_length(c) * 4 - 64;
    const int bandRows = std::max(1, int(maxBytes / std::uint32_t(width * 4)));
    for (const QImage &picture : pictures) {
        const QImage rows = picture.convertToFormat(QImage::Format_RGB32);
        const std::uint32_t pixmap = xcb_generate_id(c);
        frames->pixmaps_.push_back(pixmap);
        requests.push_back(xcb_create_pixmap_checked(c, depth, pixmap, place->window, std::uint16_t(width),
                                                     std::uint16_t(height)));
        for (int top = 0; top < height; top += bandRows) {
            const int band = std::min(bandRows, height - top);
            requests.push_back(xcb_put_image_checked(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, frames->gc_,
                                                     std::uint16_t(width), std::uint16_t(band), 0, std::int16_t(top),
                                                     0, depth, std::uint32_t(band * rows.bytesPerLine()),
                                                     rows.constScanLine(top)));
        }
    }
    bool refused = false;
    for (const xcb_void_cookie_t &request : requests)
        if (xcb_generic_error_t *error = xcb_request_check(c, request)) {
            if (!refused)
                qCWarning(lcMedia) << "the X server refused to keep the strip's pictures, X error"
                                   << int(error->error_code) << "; painting them as they come";
            refused = true;
            std::free(error);
        }
    if (refused)
        return nullptr;
    qCDebug(lcMedia) << "holding" << pictures.size() << "pictures in the X server";
    return frames;
}

ServerFrames::~ServerFrames()
{
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    release();
}

void ServerFrames::setTiming(std::vector<std::chrono::nanoseconds> stay, std::function<void()> passEnded)
{
    const std::lock_guard lock(mutex_);
    stay_ = std::move(stay);
    stay_.resize(pixmaps_.size(), std::chrono::milliseconds(50));
    passEnded_ = std::move(passEnded);
}

void ServerFrames::run(std::size_t from, Clock::time_point shownAt)
{
    {
        const std::lock_guard lock(mutex_);
        shown_ = std::min(from, pixmaps_.size() - 1);
        shownAt_ = shownAt;
        running_ = true;
        ++epoch_;
    }
    if (!thread_.joinable())
        thread_ = std::thread([this] { pass(); });
    wake_.notify_all();
}

void ServerFrames::halt()
{
    {
        const std::lock_guard lock(mutex_);
        running_ = false;
        ++epoch_;
    }
    wake_.notify_all();
}

bool ServerFrames::running() const
{
    const std::lock_guard lock(mutex_);
    return running_;
}

std::size_t ServerFrames::shown() const
{
    const std::lock_guard lock(mutex_);
    return shown_;
}

void ServerFrames::pass()
{
    // A pass held up for longer than this (a suspended machine) goes on
    // from now rather than racing through the pictures it missed.
    constexpr auto resyncAfter = std::chrono::milliseconds(250);
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!running_) {
            wake_.wait(lock, [this] { return quit_ || running_; });
            continue;
        }
        const std::size_t from = shown_;
        const std::uint64_t epoch = epoch_;
        const Clock::time_point due = shownAt_ + stay_[from];
        if (wake_.wait_until(lock, due, [this, epoch] { return quit_ || epoch_ != epoch; }))
            continue;
        if (from + 1 >= pixmaps_.size()) {
            running_ = false;
            const std::function<void()> ended = passEnded_;
            lock.unlock();
            if (ended)
                ended();
            lock.lock();
            continue;
        }
        show(from + 1);
        shown_ = from + 1;
        const Clock::time_point now = Clock::now();
        shownAt_ = now - due > resyncAfter ? now : due;
    }
}

void ServerFrames::release()
{
    // The toolkit's connection goes with the application; the server then
    // frees everything of ours by itself.
    auto *c = static_cast<xcb_connection_t *>(connection_);
    if (!c || toolkitConnection() != c)
        return;
    for (std::uint32_t pixmap : pixmaps_)
        xcb_free_pixmap(c, pixmap);
    if (gc_)
        xcb_free_gc(c, gc_);
    xcb_flush(c);
    pixmaps_.clear();
    gc_ = 0;
}

bool ServerFrames::fits() const
{
    return display_ && placeOf(display_) == std::optional<Place>(place_);
}

void ServerFrames::show(std::size_t index) const
{
    auto *c = static_cast<xcb_connection_t *>(connection_);
    if (index >= pixmaps_.size())
        return;
    xcb_copy_area(c, pixmaps_[index], place_.window, gc_, 0, 0, std::int16_t(place_.origin.x()),
                  std::int16_t(place_.origin.y()), std::uint16_t(place_.size.width()),
                  std::uint16_t(place_.size.height()));
    xcb_flush(c);
}

} // namespace tastavia::media
