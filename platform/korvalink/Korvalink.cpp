// The C face of the library: argument checks and the exception boundary,
// then straight into the engine.
#include "Engine.h"
#include "PianoHeader.h"

#include <cstdio>
#include <exception>

using tastavia::korvalink::Engine;

namespace {

void complain(const char *function, const char *what)
{
    std::fprintf(stderr, "korvalink: %s failed: %s\n", function, what);
}

template <typename F>
KorvaBool guarded(const char *function, F &&body) noexcept
{
    try {
        return body() ? 1 : 0;
    } catch (const std::exception &e) {
        complain(function, e.what());
    } catch (...) {
        complain(function, "unknown exception");
    }
    return 0;
}

} // namespace

KorvaBool ConnectDevice(KorvaWindow *window)
{
    return guarded("ConnectDevice", [&] {
        if (window != nullptr && window->post == nullptr) {
            std::fputs("korvalink: ConnectDevice was given a window without a post function\n", stderr);
            return false;
        }
        const Engine::Status status = Engine::instance().connect(window);
        if (!status.ok)
            std::fprintf(stderr, "korvalink: %s\n", status.error.c_str());
        return status.ok;
    });
}

KorvaBool DisConnectDevice(void)
{
    return guarded("DisConnectDevice", [] {
        Engine::instance().disconnect();
        return true;
    });
}

KorvaBool MidiInProc(uint32_t hMidiIn, uint32_t wMsg, uint32_t dwInstance, uint32_t dwParam1,
                     uint32_t dwParam2)
{
    return guarded("MidiInProc", [&] {
        if (hMidiIn != 0 || wMsg != KORVA_MIM_DATA || dwInstance != 0 || dwParam2 != 0)
            return false;
        return Engine::instance().play(dwParam1);
    });
}

KorvaBool SetMasterKeyVolume(uint32_t volume)
{
    return guarded("SetMasterKeyVolume", [&] { return Engine::instance().setMasterVolume(volume); });
}

KorvaBool SetSlaveKeyVolume(uint32_t volume)
{
    return guarded("SetSlaveKeyVolume", [&] { return Engine::instance().setSlaveVolume(volume); });
}
