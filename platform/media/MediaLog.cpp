#include "MediaLog.h"

namespace tastavia::media {

Q_LOGGING_CATEGORY(lcMedia, "tastavia.media", QtCriticalMsg)

} // namespace tastavia::media
