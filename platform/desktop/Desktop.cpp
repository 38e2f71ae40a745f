#include "platform/desktop/Desktop.h"

#include "platform/desktop/Logging.h"

#include <QDesktopServices>
#include <QGuiApplication>

#include <charconv>
#include <mutex>
#include <utility>

#include <sys/utsname.h>

namespace tastavia::desktop {

Q_LOGGING_CATEGORY(lcDesktop, "tastavia.desktop", QtCriticalMsg)

namespace {

// The first NT major version whose windows take arbitrary shapes.
constexpr int kShapedWindowsMajor = 5;

// Reads the leading decimal number of `text` and moves past it.
std::optional<int> takeNumber(std::string_view &text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{})
        return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

} // namespace

VersionInfo versionFromKernelRelease(std::string_view release)
{
    // Linux counts as the NT family: like NT 5 and later, every Linux desktop
    // gives windows arbitrary shapes (the X Shape extension), which is what
    // the colour-keyed skins rely on. Kernels from 5.0 on report their own
    // version, which already sits on or past NT 5 in that scale. Older
    // kernels (the 2.6 to 4.x series still found on long-term systems) are
    // just as capable, so they report as 5.0 rather than as an NT 4 that
    // would pick the rectangular skins. A release that cannot be read is
    // still a Linux system and reports as 5.0 too.
    VersionInfo version{kPlatformNT, kShapedWindowsMajor, 0};
    std::string_view rest = release;
    const auto major = takeNumber(rest);
    if (!major || *major < kShapedWindowsMajor)
        return version;
    version.major = *major;
    if (!rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        if (const auto minor = takeNumber(rest))
            version.minor = *minor;
    }
    return version;
}

std::optional<VersionInfo> queryVersion()
{
    utsname system{};
    if (uname(&system) != 0) {
        qCWarning(lcDesktop, "cannot ask the system for its version");
        return std::nullopt;
    }
    return versionFromKernelRelease(system.release);
}

bool isNT5From(const VersionInfo &version)
{
    return version.platformId == kPlatformNT && version.major >= kShapedWindowsMajor;
}

namespace {

void openWithSystem(const QUrl &url)
{
    // The desktop services need the GUI application's platform plugin; a
    // tool or test without one gets a warning instead of a crash.
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()) == nullptr) {
        qCWarning(lcDesktop) << "no GUI application to open" << url;
        return;
    }
    if (!QDesktopServices::openUrl(url))
        qCWarning(lcDesktop) << "the desktop could not open" << url;
}

std::mutex openerMutex;
UrlOpener currentOpener = openWithSystem;

} // namespace

void openUrl(const QUrl &url)
{
    UrlOpener opener;
    {
        std::lock_guard lock(openerMutex);
        opener = currentOpener;
    }
    // Called outside the lock, so that an opener may replace itself.
    opener(url);
}

UrlOpener setUrlOpener(UrlOpener opener)
{
    if (!opener)
        opener = openWithSystem;
    std::lock_guard lock(openerMutex);
    return std::exchange(currentOpener, std::move(opener));
}

} // namespace tastavia::desktop
