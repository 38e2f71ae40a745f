#pragma once

#include <platform/desktop/Desktop.h>

#include <QApplication>

#include <functional>
#include <optional>
#include <string_view>

namespace tastavia::app {

// The platform services start-up relies on. The defaults are the desktop
// layer; tests swap single ones to reach the failure paths.
struct StartupPlatform {
    std::function<std::optional<desktop::WindowId>(std::string_view)> findWindow = desktop::findTopLevelWindow;
    std::function<bool(desktop::WindowId)> isWindow = desktop::isWindow;
    std::function<bool(desktop::WindowId)> showNormal = desktop::showNormal;
    std::function<void(desktop::WindowId)> setForeground = desktop::setForeground;
    std::function<std::optional<desktop::VersionInfo>()> queryVersion = desktop::queryVersion;
};

// Runs the program from the single-instance check to the end of shutdown and
// returns the process's exit code.
int run(QApplication &application, const StartupPlatform &platform = {});

} // namespace tastavia::app
