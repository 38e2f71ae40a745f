#include "FfmpegLog.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <mutex>

namespace tastavia::media {

Q_LOGGING_CATEGORY(lcFfmpeg, "tastavia.media.ffmpeg", QtCriticalMsg)

namespace {

void forwardFfmpegLine(void *avcl, int level, const char *format, va_list args)
{
    if (level > AV_LOG_INFO || !lcFfmpeg().isDebugEnabled())
        return;
    // FFmpeg hands over pieces of lines; the prefix state keeps its
    // "[decoder @ 0x...]" tags attached to the right piece.
    thread_local int printPrefix = 1;
    char line[1024];
    va_list copy;
    va_copy(copy, args);
    av_log_format_line2(avcl, level, format, copy, line, sizeof line, &printPrefix);
    va_end(copy);
    QByteArray text(line);
    while (text.endsWith('\n'))
        text.chop(1);
    if (!text.isEmpty())
        qCDebug(lcFfmpeg, "ffmpeg: %s", text.constData());
}

} // namespace

void routeFfmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(forwardFfmpegLine); });
}

} // namespace tastavia::media
