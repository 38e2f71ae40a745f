// The held pictures of a clip, kept in the X server as pixmaps. Showing one
// is then a copy inside the server into the display's place: no picture
// data crosses the connection and the toolkit repaints nothing, which at
// twenty pictures a second is most of what an idle strip would cost.
#pragma once

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <cstdint>
#include <memory>
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

private:
    ServerFrames() = default;
    void release();

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
};

} // namespace tastavia::media
