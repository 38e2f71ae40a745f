#include "QuietLibraries.h"

#include <cstdarg>

// alsa/error.h declares this one after closing its extern "C" block, so a
// C++ caller would look for a mangled name. Declaring it first with C
// linkage fixes the linkage of the header's own declaration.
extern "C" {
using KorvaAlsaLocalHandler = void (*)(const char *, int, const char *, int, const char *, va_list);
KorvaAlsaLocalHandler snd_lib_error_set_local(KorvaAlsaLocalHandler func);
}

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <glib.h>
#include <jack/jack.h>

#include <cstdarg>
#include <mutex>

namespace tastavia::korvalink {

void deliverFluidError(const char *message);

namespace {

thread_local QuietLibraries *activeGuard = nullptr;

// JACK keeps one process-wide pair of callbacks, so nested or concurrent
// guards must agree on who saves and restores them.
std::mutex jackCallbackMutex;
int jackSilencers = 0;
void (*savedJackError)(const char *) = nullptr;
void (*savedJackInfo)(const char *) = nullptr;

void quietFluid(int, const char *, void *) {}

void collectFluidError(int, const char *message, void *)
{
    if (message)
        deliverFluidError(message);
}

void quietAlsa(const char *, int, const char *, int, const char *, va_list) {}

void quietJack(const char *) {}

// FluidSynth hands a font its own loader refused to libinstpatch, which
// complains about a truncated or corrupt file through GLib's log: on the
// guarded thread that is chatter too. Elsewhere it goes where it went.
GLogFunc savedGlibHandler = nullptr;
gpointer savedGlibData = nullptr;

void quietGlib(const gchar *domain, GLogLevelFlags level, const gchar *message, gpointer)
{
    if (activeGuard != nullptr)
        return;
    if (savedGlibHandler != nullptr)
        savedGlibHandler(domain, level, message, savedGlibData);
    else
        g_log_default_handler(domain, level, message, nullptr);
}

} // namespace

void deliverFluidError(const char *message)
{
    if (activeGuard == nullptr)
        return;
    std::string line(message);
    for (char &c : line) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '.'))
        line.pop_back();
    activeGuard->error_ = std::move(line);
}

void installFluidLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, collectFluidError, nullptr);
        fluid_set_log_function(FLUID_ERR, collectFluidError, nullptr);
        fluid_set_log_function(FLUID_WARN, quietFluid, nullptr);
        fluid_set_log_function(FLUID_INFO, quietFluid, nullptr);
        fluid_set_log_function(FLUID_DBG, quietFluid, nullptr);
        savedGlibHandler = g_log_set_default_handler(quietGlib, nullptr);
    });
}

QuietJack::QuietJack()
{
    std::lock_guard lock(jackCallbackMutex);
    if (jackSilencers++ == 0) {
        savedJackError = jack_error_callback;
        savedJackInfo = jack_info_callback;
        jack_set_error_function(quietJack);
        jack_set_info_function(quietJack);
    }
}

QuietJack::~QuietJack()
{
    std::lock_guard lock(jackCallbackMutex);
    if (--jackSilencers == 0) {
        // A null callback is JACK's way of asking for its default back.
        jack_set_error_function(savedJackError);
        jack_set_info_function(savedJackInfo);
    }
}

QuietLibraries::QuietLibraries()
    : outer_(activeGuard)
    , alsaHandler_(snd_lib_error_set_local(quietAlsa))
{
    installFluidLog();
    activeGuard = this;
}

QuietLibraries::~QuietLibraries()
{
    snd_lib_error_set_local(alsaHandler_);
    activeGuard = outer_;
}

std::string QuietLibraries::takeError()
{
    std::string taken;
    taken.swap(error_);
    return taken;
}

} // namespace tastavia::korvalink
