// The FFmpeg module's logging category, silent unless QT_LOGGING_RULES
// turns it on, and the bridge that sends FFmpeg's own log lines into it
// instead of stderr.
#pragma once

#include <QLoggingCategory>

namespace tastavia::media {

Q_DECLARE_LOGGING_CATEGORY(lcFfmpeg)

// FFmpeg logs through one process-wide callback. Idempotent.
void routeFfmpegLog();

} // namespace tastavia::media
