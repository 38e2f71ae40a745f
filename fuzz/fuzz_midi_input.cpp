// An external keyboard's byte stream, whatever it holds, into the device
// library's conversion and dispatch, three ways at once:
//   - through the ALSA sequencer's own MIDI parser, as a raw MIDI port
//     delivers it (running status, SysEx, real-time bytes between the bytes
//     of a message),
//   - cut into JACK events at every status byte, so that truncated,
//     over-long and status-less events arrive as any JACK client may send
//     them,
//   - as raw sequencer events, which any ALSA client may send to the port.
// Each message taken is played on the real synthesizer (offline) and
// posted to a recording window, which must hear it unchanged. After each
// way the sender goes away, and then no note may still wait for its note
// off, no pedal may be down and no key may be left lit.
//
// Input: the first byte is the slave volume (127 above that), the rest the
// stream.
#include "AlsaEvents.h"
#include "Engine.h"
#include "Fuzzing.h"
#include "ShortMessage.h"
#include "WindowRecorder.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <vector>

using namespace tastavia::korvalink;

namespace {

constexpr int kBlockFrames = 256;

// Packing is one to one on well-formed messages.
bool same(const std::optional<ShortMessage> &a, const ShortMessage &b)
{
    return a && a->pack() == b.pack() && a->kind == b.kind;
}

struct Rig {
    WindowRecorder window;
    Engine engine;
    MidiPortsListener *input = nullptr;
    snd_midi_event_t *parser = nullptr;
    // Keys lit in the window's eyes, by what was posted: channel * 128 + key.
    std::bitset<16 * 128> lit;
    std::uint32_t volume = Engine::kMaxVolume;
    unsigned firstVoiceId = 0;

    Rig()
    {
        engine.setSynthOptions(Synth::offlineOptions());
        engine.setPortOptions(MidiPortOptions{MidiPortOptions::Systems::None, "Tastavia"});
        const Engine::Status status = engine.connect(&window.handle);
        FUZZ_CHECK(status.ok, "%s", status.error.c_str());
        input = engine.inputListener();
        FUZZ_CHECK(input != nullptr, "connected without an input");
        FUZZ_CHECK(snd_midi_event_new(256, &parser) == 0, "no ALSA MIDI parser");
    }

    // Takes what the window was told since the last look.
    std::vector<Posted> takePosted()
    {
        std::vector<Posted> posted = window.posted();
        window.clear();
        for (const Posted &p : posted) {
            if (p.message != KORVA_MSG_HITKEY)
                continue;
            const auto m = ShortMessage::decode(p.wParam);
            FUZZ_CHECK(m.has_value(), "posted a malformed message %08x", p.wParam);
            if (m->isSoundingNoteOn())
                lit.set(std::size_t(m->channel) * 128 + m->data1);
            else if (m->isNoteOff())
                lit.reset(std::size_t(m->channel) * 128 + m->data1);
        }
        return posted;
    }

    void receive(const ShortMessage &m)
    {
        // Every way a message is carried must give the same message back.
        FUZZ_CHECK(same(ShortMessage::decode(m.pack()), m), "packing %08x", m.pack());
        const auto bytes = m.bytes();
        FUZZ_CHECK(same(ShortMessage::fromBytes(bytes.data(), m.size()), m), "bytes of %08x", m.pack());
        FUZZ_CHECK(same(fromAlsaEvent(toAlsaEvent(m)), m), "sequencer event of %08x", m.pack());

        input->midiReceived(m);

        // The window hears the message as it came, after any report about
        // it; only a note on the synth refused is kept from it.
        const std::vector<Posted> posted = takePosted();
        std::size_t at = 0;
        bool refused = false;
        if (at < posted.size() && posted[at].message == KORVA_MSG_ERROR) {
            FUZZ_CHECK(m.isSoundingNoteOn(), "report %u after %08x", posted[at].lParam, m.pack());
            FUZZ_CHECK(posted[at].lParam <= KORVA_ERR_SOUND_FAILED, "report code %u", posted[at].lParam);
            refused = posted[at].lParam == KORVA_ERR_SOUND_FAILED;
            ++at;
        }
        if (refused) {
            FUZZ_CHECK(at == posted.size(), "refused note %08x still posted", m.pack());
            return;
        }
        // A note on that found the synth out of voices it may steal (a flood
        // faster than it renders) is neither reported nor shown.
        if (m.isSoundingNoteOn() && posted.empty())
            return;
        // All notes off, all sound off and the mode messages put the
        // channel's lit keys up first.
        const bool allOff = m.kind == MessageKind::Controller && (m.data1 == cc::AllSoundOff || m.data1 >= cc::AllNotesOff);
        for (; allOff && at + 1 < posted.size(); ++at) {
            const auto off = ShortMessage::decode(posted[at].wParam);
            FUZZ_CHECK(posted[at].message == KORVA_MSG_HITKEY && off && off->kind == MessageKind::NoteOff &&
                           off->channel == m.channel && off->data2 == 0,
                       "posted %04x %08x before %08x", posted[at].message, posted[at].wParam, m.pack());
        }
        FUZZ_CHECK(at + 1 == posted.size(), "%zu posts for %08x", posted.size() - at, m.pack());
        FUZZ_CHECK((posted[at] == Posted{KORVA_MSG_HITKEY, m.pack(), 0}), "posted %08x for %08x",
                   posted[at].wParam, m.pack());
    }

    // The sender goes away: every note it left must end, on the synth and
    // in the window.
    void loseSender()
    {
        input->midiSenderLost();
        takePosted();
        FUZZ_CHECK(lit.none(), "key %zu of channel %zu still lit", firstLit() % 128, firstLit() / 128);
        // A released voice keeps its pedal status until it has died away,
        // so what counts is that no voice still waits for its note off and
        // no pedal that would hold one is down.
        engine.withSynth([this](Synth &synth) {
            std::vector<float> left(kBlockFrames), right(kBlockFrames);
            synth.render(left.data(), right.data(), kBlockFrames);
            std::array<fluid_voice_t *, 256> voices{};
            fluid_synth_get_voicelist(synth.fluid(), voices.data(), int(voices.size()), -1);
            for (fluid_voice_t *voice : voices) {
                if (voice == nullptr)
                    break;
                if (fluid_voice_get_id(voice) < firstVoiceId)
                    continue;
                FUZZ_CHECK(!fluid_voice_is_on(voice), "key %d of channel %d still on", fluid_voice_get_key(voice),
                           fluid_voice_get_channel(voice));
            }
            for (int ch = 0; ch < 16; ++ch) {
                for (int pedal : {int(cc::Sustain), int(cc::Sostenuto)}) {
                    int value = 0;
                    fluid_synth_get_cc(synth.fluid(), ch, pedal, &value);
                    FUZZ_CHECK(value < 64, "pedal %d of channel %d still down", pedal, ch);
                }
            }
        });
    }

    std::size_t firstLit() const
    {
        for (std::size_t i = 0; i < lit.size(); ++i)
            if (lit.test(i))
                return i;
        return lit.size();
    }

    // Each input starts from a fresh synth: programs, controllers and
    // channel modes a previous input set would make runs unrepeatable.
    void reset()
    {
        // A voice FluidSynth silences within its shortest note can outlive
        // the reset for a while; only this input's voices are looked at.
        engine.withSynth([this](Synth &synth) {
            fluid_synth_system_reset(synth.fluid());
            std::array<fluid_voice_t *, 256> voices{};
            fluid_synth_get_voicelist(synth.fluid(), voices.data(), int(voices.size()), -1);
            for (fluid_voice_t *voice : voices)
                if (voice != nullptr)
                    firstVoiceId = std::max(firstVoiceId, fluid_voice_get_id(voice) + 1);
        });
        snd_midi_event_reset_encode(parser);
        window.clear();
        lit.reset();
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
    if (size == 0)
        return 0;
    Rig &r = rig();
    r.reset();
    const std::uint32_t volume = data[0] > Engine::kMaxVolume ? Engine::kMaxVolume : data[0];
    FUZZ_CHECK(r.engine.setSlaveVolume(volume), "volume %u refused", volume);
    const std::uint8_t *stream = data + 1;
    const std::size_t length = size - 1;

    // A raw MIDI port: the sequencer parses the bytes into events.
    for (std::size_t i = 0; i < length; ++i) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        if (snd_midi_event_encode_byte(r.parser, stream[i], &event) == 1) {
            if (const auto m = fromAlsaEvent(event))
                r.receive(*m);
        }
    }
    r.loseSender();

    // JACK: an event from each status byte to the next; a real-time byte
    // is an event of its own.
    for (std::size_t begin = 0; begin < length;) {
        std::size_t end = begin + 1;
        if (stream[begin] < 0xF8) {
            while (end < length && stream[end] < 0x80)
                ++end;
        }
        if (const auto m = ShortMessage::fromBytes(stream + begin, end - begin))
            r.receive(*m);
        begin = end;
    }
    r.loseSender();

    // Another sequencer client, sending whatever it likes.
    fuzzing::Reader reader(stream, length);
    while (!reader.empty()) {
        snd_seq_event_t event;
        reader.copy(&event, sizeof event);
        if (const auto m = fromAlsaEvent(event))
            r.receive(*m);
    }
    r.loseSender();
    return 0;
}
