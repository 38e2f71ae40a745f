#include "ClipDecoder.h"

#include "AviMjpeg.h"
#include "ClipPlayer.h"
#include "FfmpegModule.h"
#include "MediaLog.h"

#include <QFile>
#include <QFileInfo>

namespace tastavia::media {

namespace {

int checkFile(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return ClipPlayer::FileNotFound;
    if (!info.isFile())
        return ClipPlayer::FileUnreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcMedia) << "cannot read" << path << file.errorString();
        return ClipPlayer::FileUnreadable;
    }
    if (file.size() == 0)
        return ClipPlayer::NotAClip;
    return ClipPlayer::NoError;
}

} // namespace

ClipDecoder::ClipDecoder(std::unique_ptr<PictureSource> source) : source_(std::move(source)) {}

ClipDecoder::~ClipDecoder() = default;

ClipDecoder::Opened ClipDecoder::open(const QString &path)
{
    Opened result;
    result.error = checkFile(path);
    if (result.error != ClipPlayer::NoError)
        return result;

    std::unique_ptr<PictureSource> source;
    AviMjpegSource::Opened avi = AviMjpegSource::open(path);
    if (!avi.notMine) {
        result.error = avi.error;
        source = std::move(avi.source);
    } else {
        ModuleOpened other = openThroughFfmpegModule(path);
        result.error = other.error;
        source = std::move(other.source);
    }
    if (result.error == ClipPlayer::NoError)
        result.decoder.reset(new ClipDecoder(std::move(source)));
    return result;
}

ClipDecoder::Step ClipDecoder::next(DecodedPicture &out)
{
    if (failed_)
        return Step::Failed;
    const Step step = source_->next(out);
    if (step == Step::Failed)
        failed_ = true;
    return step;
}

bool ClipDecoder::rewind()
{
    if (!source_->rewind())
        return false;
    failed_ = false;
    return true;
}

} // namespace tastavia::media
