// The boundary between the clip player and the FFmpeg module
// (tastavia-ffmpeg-clips.so): one C entry point that opens a clip and
// hands back its picture source. The module is built from this tree with
// the same compiler, and the version is in the symbol's name, so a
// mismatched module is refused rather than called.
#pragma once

#include "PictureSource.h"

#include <QString>

#include <memory>

#define TASTAVIA_FFMPEG_EXPORT __attribute__((visibility("default")))

extern "C" TASTAVIA_FFMPEG_EXPORT int tastavia_ffmpeg_open_clip_v1(const char *path,
                                                                    tastavia::media::PictureSource **source);

namespace tastavia::media {

struct ModuleOpened {
    std::unique_ptr<PictureSource> source;
    int error = 0;  // a ClipPlayer code
};

// Loads the module on first use; NoDecoder when it cannot be found.
ModuleOpened openThroughFfmpegModule(const QString &path);

} // namespace tastavia::media
