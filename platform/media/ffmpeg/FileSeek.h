// FFmpeg's custom I/O asks to seek in the file behind it; both the player's
// reading and the clip writer's writing answer it the same way.
#pragma once

#include <QFileDevice>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace tastavia::media {

// AVIOContext's seek callback over any Qt file; opaque is the QFileDevice.
inline int64_t seekFileDevice(void *opaque, int64_t offset, int whence)
{
    auto *file = static_cast<QFileDevice *>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return file->size();
    case SEEK_SET:
        break;
    case SEEK_CUR:
    case SEEK_END: {
        // The offset comes from the file's own (possibly hostile) index: an
        // addition that overflows is an impossible position, not a wrap.
        const int64_t base = (whence & ~AVSEEK_FORCE) == SEEK_CUR ? file->pos() : file->size();
        if (__builtin_add_overflow(offset, base, &offset))
            return AVERROR(EINVAL);
        break;
    }
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0 || !file->seek(offset))
        return AVERROR(EIO);
    return offset;
}

} // namespace tastavia::media
