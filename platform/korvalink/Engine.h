// libkorvalink: the device library behind device/PianoHeader.h.
//
// ConnectDevice opens a built-in FluidSynth synthesizer with the system's
// General MIDI SoundFont (TimGM6mb unless a font that loads as quickly is
// configured) at 48 kHz, and starts it on the first audio output that opens:
// PulseAudio, then ALSA, then JACK. Buffers are kept under 10 ms. JACK is
// only used when its server already runs; the library never starts jackd.
// A SoundFont too large to load within about 150 ms is loaded lazily, each
// instrument's samples when a channel first selects it.
// When no SoundFont loads or no output opens, ConnectDevice answers false
// and writes exactly one line on stderr saying why; the sound libraries'
// own chatter is kept back. The window may be null, and then nothing is
// ever posted. Connecting again while connected keeps the synthesizer and
// ports and switches to the new window.
//
// MIDI ports: ConnectDevice also opens a client named "Tastavia" with an
// output port "out" and an input port "in" (see MidiPorts.h): on the ALSA
// sequencer where /dev/snd/seq exists (`aconnect -l` shows client
// "Tastavia" with ports "out" and "in"), otherwise on a JACK server that
// already runs (`jack_lsp` shows "Tastavia:out" and "Tastavia:in"; a second
// instance gets "Tastavia-01"). The ports are optional: with neither
// system, or when they fail to open, the built-in synthesizer plays alone
// and ConnectDevice still answers true (a failure, as opposed to absence,
// is one line on stderr).
//
// MidiInProc(0, 963, 0, message, 0) plays one channel voice message (note
// off and on, key pressure, controller, program change, channel pressure,
// pitch bend; status in bits 0-7, data in bits 8-15 and 16-23, zero above)
// on the synthesizer and sends the same bytes out of the output port, in
// the order of the calls. It answers true when the message was sent: the
// synthesizer took it, or the output port did. Any other argument pattern,
// a malformed message, or a call while not connected answers false and
// sends nothing anywhere.
//
// The input port takes an external keyboard. Each channel voice message
// that arrives is played on the synthesizer, note velocities scaled by the
// slave volume (velocity x volume / 127, never below 1; volume 0 plays no
// new notes), and posted unchanged to the window as KORVA_MSG_HITKEY with
// the message packed as above in wParam; a note on with velocity 0 is
// posted as it came. SysEx, clock, active sensing and every other system
// message are dropped. Incoming messages are not passed on to the output
// port.
//
// Reports, as KORVA_MSG_ERROR with the code in lParam, for notes played
// from either side:
//   KORVA_ERR_NOTE_OUT_OF_RANGE (0): a note on that starts no voice. The
//     rule is FluidSynth's own: the channel's current instrument has no
//     sample zone covering that key at that velocity, so nothing sounds.
//     The message still counts as sent.
//   KORVA_ERR_SOUND_FAILED (1): the synthesizer refused a note on, for
//     instance because the channel has no instrument. A note off is never
//     a failure, even when its note has already died away.
//   A note on that finds every voice taken by notes not yet rendered (a
//   flood from the input, faster than the output plays) is dropped without
//   a report: the overload passes with the next block, and a message box
//   per dropped note would stop the player from playing. It lights no key
//   and is not sent, unless the output port took it.
// KORVA_MSG_MIDISTOP is posted when the MIDI input stops (its JACK server
// went away) and when the audio output stops (its sound server went away;
// see Synth::watchAudio for how that shows); once for each, and again if
// they come back and go once more.
//
// No stuck notes: notes and pedals that came in from the input are
// tracked per channel and key. When a connection into the input port goes
// away, when incoming messages were lost, or when the input stops, the
// synthesizer releases every note the input holds and lifts the sustain
// and sostenuto pedals the input pressed. One connection leaving releases
// the notes of all senders, since the ports cannot tell them apart.
//
// SetMasterKeyVolume sets the synthesizer's overall gain, SetSlaveKeyVolume
// the level of what the MIDI input plays; both take 0..127, answer false
// and change nothing above that, and may be called before connecting.
//
// DisConnectDevice sends all notes off and all sound off on all 16
// channels to the synthesizer and out of the output port, lets those reach
// the port's receivers, closes the ports, stops the audio output and
// releases the synthesizer. It may be called twice or without a
// connection, and once it returns the window's post function is never
// called again.
//
// Each C function checks its arguments first and catches every exception,
// which becomes false plus a line on stderr; nothing is thrown across the C
// boundary. All of them may be called from any thread.
//
// Engine is the one device behind those functions. It owns the synthesizer,
// the ports and the window link. State is guarded by one mutex and posting
// by another. The ports' input thread and the audio watchdog never take
// the first, so that disconnect() can wait for them while holding it.
//
// When the sound server or the JACK server goes away, the audio output and
// the MIDI ports are opened again once a second, quietly, until the server
// is back; the program goes on meanwhile, the synthesizer playing wherever
// its output still is and nothing waiting on the server that went.
#pragma once

#include "MidiPorts.h"
#include "PianoHeader.h"
#include "Synth.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tastavia::korvalink {

class Engine {
public:
    static constexpr std::uint32_t kMaxVolume = 127;

    // The instance the C functions use.
    static Engine &instance();

    Engine();
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // How connect() opens the synth. Defaults to Synth::deviceOptions();
    // tests choose Synth::offlineOptions() so no sound server is needed.
    void setSynthOptions(Synth::Options options);
    // Where connect() opens the MIDI ports; automatic by default. Takes
    // effect on the next connection.
    void setPortOptions(MidiPortOptions options);

    struct Status {
        bool ok = true;
        std::string error; // one line, when !ok
    };

    // Opens the synth and the ports and remembers the window (null: never
    // post). While connected, a second call keeps everything as it is and
    // only switches to the new window.
    Status connect(KorvaWindow *window);

    // Silences every channel on the synth and the output port, closes the
    // ports, stops the audio output, releases the synth and forgets the
    // window: once this returns the window's post function is never called
    // again. Harmless when not connected.
    void disconnect();

    bool connected() const;

    // Plays one packed short message on the synth and sends it out of the
    // output port. False, with nothing done, when not connected or when the
    // message is malformed; false too when neither the synth nor the port
    // took it.
    bool play(std::uint32_t packed);

    // 0..127. Master is the synth's overall gain; slave is the level of what
    // comes in from the MIDI input. Both may be set before connecting and
    // take effect on connect. Out of range: false, nothing changed.
    bool setMasterVolume(std::uint32_t volume);
    bool setSlaveVolume(std::uint32_t volume);
    std::uint32_t masterVolume() const;
    std::uint32_t slaveVolume() const;

    // Follows the General MIDI volume curve (40 log10 of v/127 dB), with
    // the top of the scale at FluidSynth gain 1.0 rather than its timid
    // default of 0.2: a single TimGM6mb note at full velocity then peaks
    // around -14 dBFS, leaving room for chords and reverb.
    static float gainForVolume(std::uint32_t volume);

    // Velocity of an incoming note at the given slave volume; 0 means the
    // note is not played.
    static std::uint8_t scaledVelocity(std::uint8_t velocity, std::uint32_t volume);

    // Posts a window message if a window is linked. Callable from any
    // thread. False when nothing was posted.
    bool post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);

    // Runs f on the synth under the engine's lock; false when not connected.
    // This is how tests render and inspect the sound offline.
    bool withSynth(const std::function<void(Synth &)> &f);

    // The open ports' names, or nothing when there are none.
    std::optional<MidiPortNames> midiPorts() const;

    // What the input port feeds, so that tests can play incoming messages
    // without a port; null when not connected. Only for a connection made
    // without ports, whose thread would otherwise feed it at the same time.
    MidiPortsListener *inputListener();

private:
    class Input;

    void report(const ShortMessage &message, Synth::Result result);

    mutable std::mutex mutex_;
    Synth::Options options_;
    MidiPortOptions portOptions_;
    std::unique_ptr<Synth> synth_;
    std::unique_ptr<Input> input_;
    std::unique_ptr<MidiPorts> ports_;
    std::uint32_t masterVolume_ = kMaxVolume;
    std::atomic<std::uint32_t> slaveVolume_{kMaxVolume};

    std::mutex windowMutex_;
    KorvaWindow *window_ = nullptr;
};

} // namespace tastavia::korvalink
