#include "FakeKorvalink.h"

#include <algorithm>
#include <random>

namespace tastavia::fake {

FakeDevice &fakeDevice()
{
    static FakeDevice device;
    return device;
}

void FakeDevice::reset()
{
    *this = FakeDevice{};
}

void FakeDevice::post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) const
{
    if (window && window->post)
        window->post(window->context, message, wParam, lParam);
}

void FakeDevice::refuseAtRandom(std::uint32_t seed, unsigned oneIn)
{
    midiAnswer = [this, draw = std::mt19937(seed), oneIn](std::uint32_t message) mutable {
        if (draw() % oneIn != 0)
            return true;
        const bool soundingNoteOn = (message & 0xF0) == 0x90 && ((message >> 16) & 0x7F) != 0;
        if (soundingNoteOn)
            post(KORVA_MSG_ERROR, 0, KORVA_ERR_SOUND_FAILED);
        return false;
    };
}

std::vector<std::uint32_t> FakeDevice::sent() const
{
    std::vector<std::uint32_t> messages;
    for (const Call &call : calls) {
        if (call.name == "MidiInProc")
            messages.push_back(call.args[3]);
    }
    return messages;
}

std::vector<std::string> FakeDevice::callNames() const
{
    std::vector<std::string> names;
    for (const Call &call : calls)
        names.push_back(call.name);
    return names;
}

int FakeDevice::count(const std::string &name) const
{
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const Call &c) { return c.name == name; }));
}

} // namespace tastavia::fake

using tastavia::fake::fakeDevice;
using tastavia::fake::FakeFalse;
using tastavia::fake::FakeTrue;

extern "C" {

KorvaBool ConnectDevice(KorvaWindow *window)
{
    auto &device = fakeDevice();
    device.calls.push_back({"ConnectDevice", {}});
    device.window = window;
    if (device.onConnect)
        device.onConnect();
    return device.connectAnswer ? FakeTrue : FakeFalse;
}

KorvaBool DisConnectDevice(void)
{
    auto &device = fakeDevice();
    device.calls.push_back({"DisConnectDevice", {}});
    device.window = nullptr;
    return FakeTrue;
}

KorvaBool MidiInProc(uint32_t hMidiIn, uint32_t wMsg, uint32_t dwInstance, uint32_t dwParam1, uint32_t dwParam2)
{
    auto &device = fakeDevice();
    device.calls.push_back({"MidiInProc", {hMidiIn, wMsg, dwInstance, dwParam1, dwParam2}});
    const bool accepted = !device.midiAnswer || device.midiAnswer(dwParam1);
    return accepted ? FakeTrue : FakeFalse;
}

KorvaBool SetMasterKeyVolume(uint32_t volume)
{
    fakeDevice().calls.push_back({"SetMasterKeyVolume", {volume}});
    return FakeTrue;
}

KorvaBool SetSlaveKeyVolume(uint32_t volume)
{
    fakeDevice().calls.push_back({"SetSlaveKeyVolume", {volume}});
    return FakeTrue;
}

} // extern "C"
