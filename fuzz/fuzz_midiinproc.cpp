// Any arguments, in any order, into the device library's C functions, with
// the real synthesizer rendering offline. The library must answer each call
// with a plain 0 or 1, refuse what the contract refuses without a trace,
// report only about note ons, and at the end silence whatever the calls
// left sounding, pedals and channel modes included.
//
// Input: a run of records, each an operation byte and its arguments:
//   0  MidiInProc with all five arguments
//   1  MidiInProc(0, MIM_DATA, 0, message, 0): the program's own call
//   2  SetMasterKeyVolume(volume)
//   3  SetSlaveKeyVolume(volume)
//   4  let a little time sound
#include "Engine.h"
#include "Fuzzing.h"
#include "PianoHeader.h"
#include "ShortMessage.h"
#include "WindowRecorder.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

using namespace tastavia::korvalink;

namespace {

constexpr int kBlockFrames = 256;
constexpr int kSettleFrames = 1024;
constexpr int kMaxSettleBlocks = 3 * 48000 / kSettleFrames;
// Well below the 16-bit noise floor.
constexpr float kSilentPeak = 1e-4f;

void render(Synth &synth, int frames)
{
    std::vector<float> left(frames), right(frames);
    synth.render(left.data(), right.data(), frames);
}

int activeVoices()
{
    int voices = -1;
    Engine::instance().withSynth([&](Synth &synth) { voices = synth.activeVoices(); });
    return voices;
}

struct Rig {
    WindowRecorder window;
    std::uint32_t master = Engine::kMaxVolume;
    std::uint32_t slave = Engine::kMaxVolume;

    Rig()
    {
        Engine::instance().setSynthOptions(Synth::offlineOptions());
        Engine::instance().setPortOptions(MidiPortOptions{MidiPortOptions::Systems::None, "Tastavia"});
        FUZZ_CHECK(ConnectDevice(&window.handle) == 1, "the offline synthesizer did not open");
    }

    void midiInProc(std::uint32_t handle, std::uint32_t kind, std::uint32_t instance, std::uint32_t message,
                    std::uint32_t extra)
    {
        const int voicesBefore = activeVoices();
        const KorvaBool answer = MidiInProc(handle, kind, instance, message, extra);
        FUZZ_CHECK(answer == 0 || answer == 1, "answered %d", answer);
        const std::vector<Posted> posted = window.posted();
        window.clear();

        const bool wellFormed = handle == 0 && kind == KORVA_MIM_DATA && instance == 0 && extra == 0;
        const std::optional<ShortMessage> m = ShortMessage::decode(message);
        if (!wellFormed || !m) {
            FUZZ_CHECK(answer == 0, "took MidiInProc(%08x, %u, %08x, %08x, %08x)", handle, kind, instance,
                       message, extra);
            FUZZ_CHECK(posted.empty(), "posted after a refused call");
            FUZZ_CHECK(activeVoices() == voicesBefore, "a refused call changed the voices");
            return;
        }
        if (!m->isSoundingNoteOn()) {
            FUZZ_CHECK(posted.empty(), "posted %04x after %08x", posted[0].message, message);
            return;
        }
        // A note on: a report only when it sounds nowhere, and the answer
        // false only when the synthesizer refused it.
        FUZZ_CHECK(posted.size() <= 1, "%zu posts for one note on", posted.size());
        if (posted.empty()) {
            FUZZ_CHECK(answer == 1, "note on %08x played but answered false", message);
            return;
        }
        FUZZ_CHECK(posted[0].message == KORVA_MSG_ERROR && posted[0].wParam == 0, "posted %04x", posted[0].message);
        FUZZ_CHECK(posted[0].lParam <= KORVA_ERR_SOUND_FAILED, "report code %u", posted[0].lParam);
        FUZZ_CHECK(answer == (posted[0].lParam == KORVA_ERR_SOUND_FAILED ? 0 : 1),
                   "answered %d with report %u", answer, posted[0].lParam);
    }

    void setVolume(bool master, std::uint32_t volume)
    {
        const KorvaBool answer = master ? SetMasterKeyVolume(volume) : SetSlaveKeyVolume(volume);
        FUZZ_CHECK(answer == (volume <= Engine::kMaxVolume ? 1 : 0), "volume %u answered %d", volume, answer);
        if (answer == 1)
            (master ? this->master : slave) = volume;
        const Engine &engine = Engine::instance();
        FUZZ_CHECK(engine.masterVolume() == this->master && engine.slaveVolume() == slave,
                   "volumes %u/%u, expected %u/%u", engine.masterVolume(), engine.slaveVolume(), this->master,
                   slave);
    }

    // What disconnecting does first must leave nothing sounding, whatever
    // the calls did to the channels; then a fresh start for the next input.
    void silenceAndReset()
    {
        Engine::instance().withSynth([](Synth &synth) {
            synth.silence();
            // A voice still inside FluidSynth's shortest note when it is
            // silenced rings out its release, for up to a second or so:
            // what must not happen is sound that never ends.
            std::vector<float> left(kSettleFrames), right(kSettleFrames);
            float peak = 0;
            for (int block = 0; block < kMaxSettleBlocks && synth.activeVoices() > 0; ++block) {
                synth.render(left.data(), right.data(), kSettleFrames);
                peak = 0;
                for (int i = 0; i < kSettleFrames; ++i)
                    peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
            }
            FUZZ_CHECK(synth.activeVoices() == 0 || peak < kSilentPeak, "still sounding (peak %g) after silencing",
                       double(peak));
            fluid_synth_system_reset(synth.fluid());
        });
        setVolume(true, Engine::kMaxVolume);
        setVolume(false, Engine::kMaxVolume);
        window.clear();
    }
};

Rig &rig()
{
    static Rig rig;
    return rig;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Rig &r = rig();
    fuzzing::Reader in(data, size);
    while (!in.empty()) {
        switch (in.byte() % 5) {
        case 0: {
            const std::uint32_t handle = in.u32(), kind = in.u32(), instance = in.u32();
            const std::uint32_t message = in.u32(), extra = in.u32();
            r.midiInProc(handle, kind, instance, message, extra);
            break;
        }
        case 1:
            r.midiInProc(0, KORVA_MIM_DATA, 0, in.u32(), 0);
            break;
        case 2:
            r.setVolume(true, in.u32());
            break;
        case 3:
            r.setVolume(false, in.u32());
            break;
        case 4:
            Engine::instance().withSynth([](Synth &synth) { render(synth, kBlockFrames); });
            break;
        }
    }
    r.silenceAndReset();
    return 0;
}
