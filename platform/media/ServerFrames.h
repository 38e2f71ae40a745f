// The held pictures of a clip, kept in the X server as pixmaps. Showing one
// is then a copy inside the server into the display's place: no picture
// data crosses the connection and the toolkit repaints nothing, which at
// twenty pictures a second is most of what an idle strip would cost.
//
// A pass over the pictures can also run on a thread of its own, each copy
// at its time, so that the GUI thread's event loop is not woken twenty
// times a second: that wake alone costs more than the copy. xcb connections
// may be used from any thread.
#pragma once

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <optional>
#include <vector>

namespace tastavia::media {

class ServerFrames {
public:
    // Uploads the pictures, each already at the display's size in device
    // pixels. Null where the toolkit does not run on X11, the display has
    // no window yet, the window's pixel format is not plain 24-bit colour,
    // or the server refuses a pixmap: the caller then paints as before.
    static std::unique_ptr<ServerFrames> upload(QWidget *display, const std::vector<QImage> &pictures);
    ~ServerFrames();
    ServerFrames(const ServerFrames &) = delete;
    ServerFrames &operator=(const ServerFrames &) = delete;

    // Whether the display still sits where the pictures were made for: the
    // same window, place and device size. A moved or rescaled display needs
    // its pictures made again.
    bool fits() const;
    // Copies picture `index` into the display's place and sends the request.
    void show(std::size_t index) const;
    std::size_t size() const { return pixmaps_.size(); }

    using Clock = std::chrono::steady_clock;
    // How long each picture stays up, and what to call (on the pass's
    // thread) once the last one has stayed its time.
    void setTiming(std::vector<std::chrono::nanoseconds> stay, std::function<void()> passEnded);
    // Goes on with the pass on its own thread: picture `from` went up at
    // `shownAt`, and each next one follows when the one before has stayed
    // its time.
    void run(std::size_t from, Clock::time_point shownAt);
    // Stops the pass; the picture on show stays.
    void halt();
    bool running() const;
    // The picture on show.
    std::size_t shown() const;

private:
    ServerFrames() = default;
    void release();
    void pass();

    struct Place {
        std::uint32_t window = 0;
        QPoint origin;
        QSize size;
        bool operator==(const Place &other) const
        {
            return window == other.window && origin == other.origin && size == other.size;
        }
    };
    static std::optional<Place> placeOf(const QWidget *display);

    void *connection_ = nullptr; // the toolkit's own xcb_connection_t
    QPointer<QWidget> display_;
    Place place_;
    std::uint32_t gc_ = 0;
    std::vector<std::uint32_t> pixmaps_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    std::vector<std::chrono::nanoseconds> stay_;
    std::function<void()> passEnded_;
    bool running_ = false;
    bool quit_ = false;
    // Counts run() and halt() calls, so that a waiting pass sees either.
    std::uint64_t epoch_ = 0;
    std::size_t shown_ = 0;
    Clock::time_point shownAt_;
};

} // namespace tastavia::media
