#pragma once

#include <QByteArray>
#include <QImage>
#include <QWidget>

#include <optional>

namespace tastavia::app {

// Decodes a baseline or progressive JPEG stream with libjpeg. A corrupt or
// truncated stream gives nothing rather than ending the process, which is
// what libjpeg's default error handler would do.
std::optional<QImage> decodeJpeg(const QByteArray &stream);

// The splash window: shown while the other windows are built.
class TLogo : public QWidget
{
    Q_OBJECT
public:
    TLogo();
    // Shows the splash and returns only once it has been painted, so that it
    // stays on screen while the rest of start-up runs.
    void showAndPaint();
    const QImage &picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage picture_;
};

} // namespace tastavia::app
