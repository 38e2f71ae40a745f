// The media layer's logging category, silent unless QT_LOGGING_RULES turns
// it on.
#pragma once

#include <QLoggingCategory>

namespace tastavia::media {

Q_DECLARE_LOGGING_CATEGORY(lcMedia)

} // namespace tastavia::media
