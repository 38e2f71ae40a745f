// The advert strip: the clip loops for as long as the program runs.
#include "PianoMain.h"

#include <platform/desktop/WindowSight.h>
#include <platform/media/ClipPlayer.h>

#include <QMessageBox>
#include <QPushButton>

namespace tastavia::keyboard {

namespace {
constexpr int AdWidth = 340;
} // namespace

void TKeyboard::setUpAdvertStrip(const QString &clipPath)
{
    clipPath_ = clipPath;
    const int error = advert_->open(clipPath);
    Ad_->resize(AdWidth, Ad_->height());
    if (error != media::ClipPlayer::NoError) {
        // The keyboard is still worth having without its advert: report the
        // damaged clip and let the set-up go on.
        QString text = media::ClipPlayer::errorText(error);
        if (text.isEmpty())
            text = QStringLiteral("Unknown error code");
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tastavia"), text, QMessageBox::Ok);
        box.setObjectName(QStringLiteral("AdvertErrorBox"));
        box.button(QMessageBox::Ok)->setText(QString::fromUtf8("确定"));
        box.exec();
        return;
    }
    // Every picture covers the whole strip, so a new one need not first
    // repaint the window's background under it: at twenty pictures a second
    // that is most of what an idle keyboard costs.
    Ad_->setAttribute(Qt::WA_OpaquePaintEvent);
    advert_->setDisplay(Ad_);
    sight_ = new desktop::WindowSight(this);
    advert_->setDisplaySeen(sight_->seen());
    connect(sight_, &desktop::WindowSight::seenChanged, advert_.get(), &media::ClipPlayer::setDisplaySeen);
    connect(sight_, &desktop::WindowSight::exposed, advert_.get(), &media::ClipPlayer::refreshDisplay);
    advert_->play(true);
}

void TKeyboard::AdNotify(media::Notice notice)
{
    // Only a clip that played to its end starts again; any other ending
    // leaves the strip on its last picture.
    if (notice != media::Notice::Successful)
        return;
    advert_->seekToStart();
    advert_->play(true);
}

} // namespace tastavia::keyboard
