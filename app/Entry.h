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
    // The 1× picture.
    const QImage &picture() const { return picture_; }
    // The picture for a screen of the given device pixel ratio: above 1× the
    // one drawn at 2×, scaled smoothly to the ratio where it is not 2, with
    // its devicePixelRatio() set to match.
    QImage pictureAt(qreal devicePixelRatio);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage picture_;
    QImage scaled_;
    qreal scaledRatio_ = 0;
};

} // namespace tastavia::app
