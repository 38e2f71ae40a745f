#include "ClipPlayer.h"

#include "MediaLog.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace tastavia::media {

namespace {

// Longest a single picture may stay up when its timestamps say more; a
// broken timestamp must not freeze the strip for hours.
constexpr qint64 kMaxGapUs = 10'000'000;
// When the event loop was held up for longer than this, the clip goes on
// from now instead of racing through the pictures it missed.
constexpr qint64 kResyncAfterNs = 250'000'000;
// A clip that loops forever should be decoded once. Decoding a picture
// costs far more between frames, with cold caches, than in a tight loop,
// so an advert clip (340 x 28, a few seconds: about 6 MB) is held whole in
// memory after its first pass; longer or larger clips are decoded each time.
constexpr qint64 kHoldBudgetBytes = 8 * 1024 * 1024;

} // namespace

ClipPlayer::ClipPlayer(QObject *parent) : QObject(parent)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ClipPlayer::onTimer);
    clock_.start();
}

ClipPlayer::~ClipPlayer()
{
    closing_ = true;
    close();
    setDisplay(nullptr);
    while (!owed_.empty()) {
        const Notice notice = owed_.front();
        owed_.pop_front();
        emit completed(notice);
    }
}

int ClipPlayer::open(const QString &path)
{
    if (closing_)
        return NotOpen;
    close();
    ClipDecoder::Opened opened = ClipDecoder::open(path);
    if (opened.error != NoError)
        return opened.error;
    decoder_ = std::move(opened.decoder);
    path_ = path;
    if (const int error = showFirstPicture()) {
        qCWarning(lcMedia) << "the first picture of" << path << "cannot be decoded";
        close();
        return error;
    }
    emit frameShown(frameIndex_);
    return NoError;
}

bool ClipPlayer::isOpen() const
{
    return decoder_ != nullptr;
}

void ClipPlayer::setDisplay(QWidget *target)
{
    if (display_ == target)
        return;
    // The server's pictures were made for the display going away.
    if (serverFrames_) {
        takeBackFromServer(true);
        serverFrames_.reset();
        if (playing_ && seen_) {
            dueNs_ = clock_.nsecsElapsed();
            scheduleNext();
        }
    }
    if (display_) {
        display_->removeEventFilter(this);
        display_->update();
    }
    display_ = target;
    if (display_) {
        display_->installEventFilter(this);
        display_->update();
    }
}

int ClipPlayer::play(bool notify)
{
    if (closing_ || !decoder_)
        return NotOpen;
    const bool rewound = atEnd_;
    if (rewound) {
        // Nothing is playing at the end, so this rewind owes no notice.
        if (const int error = rewind())
            return error;
    }
    if (playing_ && notify_)
        postNotice(Notice::Superseded);
    notify_ = notify;
    if (!playing_) {
        playing_ = true;
        dueNs_ = clock_.nsecsElapsed();
        if (seen_)
            scheduleNext();
    }
    if (rewound)
        emit frameShown(frameIndex_);
    return NoError;
}

int ClipPlayer::seekToStart()
{
    if (!decoder_)
        return NotOpen;
    stopPlaying(Notice::Aborted);
    if (const int error = rewind())
        return error;
    emit frameShown(frameIndex_);
    return NoError;
}

void ClipPlayer::close()
{
    stopPlaying(Notice::Aborted);
    decoder_.reset();
    serverFrames_.reset();
    serverPassRunning_ = false;
    serverRefused_ = false;
    held_ = {};
    heldBytes_ = 0;
    heldComplete_ = false;
    holding_ = true;
    readPos_ = 0;
    ahead_ = DecodedPicture();
    aheadReady_ = false;
    path_.clear();
    current_ = QImage();
    frameIndex_ = -1;
    atEnd_ = false;
    repaintDisplay();
}

QString ClipPlayer::errorText(int code)
{
    // The program shows these in its own message box, and all of its text
    // is Chinese.
    switch (code) {
    case NotOpen:
        return QStringLiteral("媒体设备没有打开。");
    case FileNotFound:
        return QStringLiteral("找不到指定的视频文件。请确认路径和文件名是否正确。");
    case FileUnreadable:
        return QStringLiteral("无法读取指定的文件。请确认它是文件而不是文件夹，并且有读取权限。");
    case NotAClip:
        return QStringLiteral("无法识别这个文件的格式，它不是可以播放的视频。");
    case NoPicture:
        return QStringLiteral("这个文件里没有可以显示的画面。");
    case NoDecoder:
        return QStringLiteral("系统中没有能解码这种视频格式的解码器。");
    case DamagedClip:
        return QStringLiteral("视频文件已损坏或不完整，无法显示画面。");
    case RewindFailed:
        return QStringLiteral("无法回到视频的开头。");
    case OutOfMemory:
        return QStringLiteral("内存不足，无法播放视频。");
    case PictureTooLarge:
        return QStringLiteral("视频画面太大，无法在广告栏中播放。");
    default:
        return QString();
    }
}

void ClipPlayer::setDisplaySeen(bool seen)
{
    if (seen == seen_)
        return;
    seen_ = seen;
    if (!playing_)
        return;
    if (!seen) {
        timer_.stop();
        takeBackFromServer(true);
        return;
    }
    // An advert keeps time with nothing else, so it goes on from the
    // picture it stopped at rather than jumping to where it would be.
    showOnDisplay();
    dueNs_ = clock_.nsecsElapsed();
    scheduleNext();
}

void ClipPlayer::refreshDisplay()
{
    // A display that moved or changed scale needs its pictures made again,
    // which the ticks on this thread do.
    if (serverPassRunning_ && !serverFrames_->fits()) {
        takeBackFromServer(true);
        dueNs_ = clock_.nsecsElapsed();
        scheduleNext();
    }
    repaintDisplay();
}

int ClipPlayer::frameIndex() const
{
    return serverPassRunning_ ? int(serverFrames_->shown()) : frameIndex_;
}

QImage ClipPlayer::currentFrame() const
{
    return serverPassRunning_ ? held_[serverFrames_->shown()].image : current_;
}

void ClipPlayer::paintPicture(QPainter &painter, const QRect &area, const QImage &picture)
{
    // On a scaled screen the clip is magnified even where its size is the
    // strip's, and smoothly too rather than in blocks.
    if (area.size() == picture.size() && painter.device()->devicePixelRatioF() == 1.0) {
        painter.drawImage(area.topLeft(), picture);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(area, picture);
    }
}

bool ClipPlayer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint && watched == display_.data() && !current_.isNull()) {
        takeBackFromServer(false);
        QPainter painter(display_.data());
        paintPicture(painter, display_->rect(), current_);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void ClipPlayer::stopPlaying(Notice noticeForRequest)
{
    if (!playing_)
        return;
    timer_.stop();
    takeBackFromServer(true);
    finishPlaying(noticeForRequest);
}

void ClipPlayer::finishPlaying(Notice noticeForRequest)
{
    playing_ = false;
    if (notify_)
        postNotice(noticeForRequest);
    notify_ = false;
}

int ClipPlayer::rewind()
{
    readPos_ = 0;
    if (heldComplete_) {
        if (showFirstPicture() != NoError) {
            atEnd_ = true;
            return RewindFailed;
        }
        return NoError;
    }
    if (!decoder_->rewind()) {
        // Some containers cannot seek; reading the file afresh always
        // finds the first picture.
        ClipDecoder::Opened opened = ClipDecoder::open(path_);
        if (opened.error != NoError) {
            atEnd_ = true;
            return RewindFailed;
        }
        decoder_ = std::move(opened.decoder);
    }
    if (showFirstPicture() != NoError) {
        // Left at the end, so that the next play request tries again.
        atEnd_ = true;
        return RewindFailed;
    }
    return NoError;
}

int ClipPlayer::showFirstPicture()
{
    aheadReady_ = false;
    ahead_ = DecodedPicture();
    DecodedPicture first;
    if (readPicture(first) != ClipDecoder::Step::Picture)
        return DamagedClip;
    atEnd_ = false;
    present(first, 0);
    repaintDisplay();
    return NoError;
}

void ClipPlayer::present(DecodedPicture &picture, int index)
{
    current_ = std::move(picture.image);
    currentTimeUs_ = picture.timeUs;
    frameIndex_ = index;
}

ClipDecoder::Step ClipPlayer::readPicture(DecodedPicture &out)
{
    if (heldComplete_) {
        if (readPos_ >= held_.size())
            return ClipDecoder::Step::End;
        out = held_[readPos_++];
        return ClipDecoder::Step::Picture;
    }
    const ClipDecoder::Step step = decoder_->next(out);
    switch (step) {
    case ClipDecoder::Step::Picture:
        // Pictures are kept as they come on the first pass from the start;
        // a later pass over the same place decodes the same pictures, so a
        // rewind in the middle only pauses the collection.
        if (holding_ && readPos_ == held_.size()) {
            heldBytes_ += out.image.sizeInBytes();
            if (heldBytes_ > kHoldBudgetBytes) {
                holding_ = false;
                held_ = {};
            } else {
                held_.push_back(out);
            }
        }
        ++readPos_;
        break;
    case ClipDecoder::Step::End:
        if (holding_ && readPos_ == held_.size() && !held_.empty()) {
            heldComplete_ = true;
            qCDebug(lcMedia) << "holding all" << held_.size() << "pictures," << heldBytes_ << "bytes";
        }
        break;
    case ClipDecoder::Step::Failed:
        // A damaged clip is never replayed from memory as if it were whole.
        holding_ = false;
        held_ = {};
        break;
    }
    return step;
}

void ClipPlayer::scheduleNext()
{
    if (!aheadReady_) {
        aheadStep_ = readPicture(ahead_);
        aheadReady_ = true;
    }
    // The picture on show stays up until the next one's time; the last one
    // (or one with a broken timestamp) for the clip's nominal frame time.
    qint64 gapUs = decoder_->nominalFrameUs();
    if (aheadStep_ == ClipDecoder::Step::Picture) {
        const qint64 timestampGap = ahead_.timeUs - currentTimeUs_;
        if (timestampGap > 0 && timestampGap <= kMaxGapUs)
            gapUs = timestampGap;
    }
    const qint64 now = clock_.nsecsElapsed();
    if (now - dueNs_ > kResyncAfterNs)
        dueNs_ = now;
    // Each due time follows from the previous due time, not from when the
    // timer happened to fire, so the rate does not drift.
    dueNs_ += gapUs * 1000;
    const qint64 waitMs = std::max<qint64>(0, (dueNs_ - now + 500'000) / 1'000'000);
    timer_.start(int(waitMs));
}

void ClipPlayer::onTimer()
{
    if (!playing_ || !decoder_ || !seen_)
        return;
    aheadReady_ = false;
    switch (aheadStep_) {
    case ClipDecoder::Step::Picture:
        present(ahead_, frameIndex_ + 1);
        ahead_ = DecodedPicture();
        if (!(showOnDisplay() && handOverToServer()))
            scheduleNext();
        emit frameShown(frameIndex_);
        return;
    case ClipDecoder::Step::End:
        atEnd_ = true;
        finishPlaying(Notice::Successful);
        return;
    case ClipDecoder::Step::Failed:
        qCWarning(lcMedia) << "playback of" << path_ << "failed at picture" << frameIndex_ + 1;
        // The decoder cannot go on; the next play request starts over.
        atEnd_ = true;
        finishPlaying(Notice::Failure);
        return;
    }
}

void ClipPlayer::postNotice(Notice notice)
{
    owed_.push_back(notice);
    QMetaObject::invokeMethod(this, &ClipPlayer::deliverNotice, Qt::QueuedConnection);
}

void ClipPlayer::deliverNotice()
{
    if (owed_.empty())
        return;
    const Notice notice = owed_.front();
    owed_.pop_front();
    emit completed(notice);
}

void ClipPlayer::repaintDisplay()
{
    if (display_)
        display_->update();
}

bool ClipPlayer::showOnDisplay()
{
    if (!display_)
        return false;
    if (showFromServer())
        return true;
    // Painting now, rather than through a posted update request, saves a
    // pass of the event loop for every picture.
    display_->repaint();
    return false;
}

bool ClipPlayer::showFromServer()
{
    // A window not made yet, or hidden, may yet take the pictures later.
    if (!heldComplete_ || serverRefused_ || frameIndex_ < 0 || !display_->window()->internalWinId() ||
        !display_->isVisible())
        return false;
    if (serverFrames_ && !serverFrames_->fits())
        serverFrames_.reset();
    if (!serverFrames_) {
        // Each held picture as the display's painting would draw it, in
        // the display's device pixels.
        const qreal ratio = display_->devicePixelRatioF();
        const QSize deviceSize(qRound(display_->width() * ratio), qRound(display_->height() * ratio));
        std::vector<QImage> pictures;
        pictures.reserve(held_.size());
        for (const DecodedPicture &held : held_) {
            QImage device(deviceSize, QImage::Format_RGB32);
            device.setDevicePixelRatio(ratio);
            QPainter painter(&device);
            paintPicture(painter, display_->rect(), held.image);
            painter.end();
            pictures.push_back(device);
        }
        serverFrames_ = ServerFrames::upload(display_, pictures);
        if (!serverFrames_) {
            serverRefused_ = true;
            return false;
        }
        std::vector<std::chrono::nanoseconds> stay;
        for (std::size_t i = 0; i < held_.size(); ++i) {
            qint64 gapUs = decoder_->nominalFrameUs();
            if (i + 1 < held_.size()) {
                const qint64 timestampGap = held_[i + 1].timeUs - held_[i].timeUs;
                if (timestampGap > 0 && timestampGap <= kMaxGapUs)
                    gapUs = timestampGap;
            }
            stay.push_back(std::chrono::microseconds(gapUs));
        }
        serverFrames_->setTiming(std::move(stay), [this] {
            QMetaObject::invokeMethod(this, &ClipPlayer::serverPassEnded, Qt::QueuedConnection);
        });
    }
    serverFrames_->show(std::size_t(frameIndex_));
    return true;
}

bool ClipPlayer::handOverToServer()
{
    if (!seen_)
        return false;
    // When the picture on show was due, on the server thread's clock.
    const auto late = std::chrono::nanoseconds(clock_.nsecsElapsed() - dueNs_);
    serverFrames_->run(std::size_t(frameIndex_), ServerFrames::Clock::now() - late);
    serverPassRunning_ = true;
    aheadReady_ = false;
    return true;
}

void ClipPlayer::takeBackFromServer(bool halt)
{
    if (!serverPassRunning_)
        return;
    if (halt) {
        serverFrames_->halt();
        serverPassRunning_ = false;
    }
    const int shown = int(serverFrames_->shown());
    if (shown == frameIndex_)
        return;
    frameIndex_ = shown;
    current_ = held_[std::size_t(shown)].image;
    currentTimeUs_ = held_[std::size_t(shown)].timeUs;
    readPos_ = std::size_t(shown) + 1;
    aheadReady_ = false;
}

void ClipPlayer::serverPassEnded()
{
    // A pass stopped meanwhile, or a new one under way, owes nothing here.
    if (!serverPassRunning_ || serverFrames_->running())
        return;
    takeBackFromServer(true);
    if (!playing_)
        return;
    atEnd_ = true;
    finishPlaying(Notice::Successful);
}

} // namespace tastavia::media
