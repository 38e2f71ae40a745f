#pragma once

#include <device/PianoHeader.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tastavia::fake {

struct Call {
    std::string name;
    std::vector<std::uint32_t> args;
};

// Stands in for the device library in program tests: it records every call
// in order, answers as the test says, and posts window messages to the
// handle it was connected with, as the real library does.
struct FakeDevice {
    std::vector<Call> calls;
    bool connectAnswer = true;
    // Answer for each MidiInProc short message; true when unset.
    std::function<bool(std::uint32_t message)> midiAnswer;
    // Runs inside ConnectDevice, so a test can look at the program mid-set-up.
    std::function<void()> onConnect;
    KorvaWindow *window = nullptr;

    void reset();
    void post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) const;
    // The short messages passed to MidiInProc, in order.
    std::vector<std::uint32_t> sent() const;
    std::vector<std::string> callNames() const;
    int count(const std::string &name) const;
    void clearCalls() { calls.clear(); }
    // Refuses about one MidiInProc call in `oneIn`, drawn from `seed` so that
    // a run replays, and reports each refused note on as the real library
    // does (KORVA_MSG_ERROR, KORVA_ERR_SOUND_FAILED). Replaces midiAnswer.
    void refuseAtRandom(std::uint32_t seed, unsigned oneIn);
};

FakeDevice &fakeDevice();

// The fake's Boolean answers keep their low byte apart from the rest, so a
// caller that tests the whole value instead of the low byte is caught.
constexpr KorvaBool FakeTrue = 0x201;
constexpr KorvaBool FakeFalse = 0x100;

} // namespace tastavia::fake
