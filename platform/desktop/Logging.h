#pragma once

#include <QLoggingCategory>

// Silent unless enabled with QT_LOGGING_RULES="tastavia.desktop.warning=true":
// the program itself reports nothing on the terminal.
namespace tastavia::desktop {
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)
}
