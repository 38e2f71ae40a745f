// libkorvalink: the device library behind device/PianoHeader.h.
//
// ConnectDevice opens a built-in FluidSynth synthesizer with the system's
// General MIDI SoundFont (TimGM6mb unless a font that loads as quickly is
// configured) at 48 kHz, and starts it on the first audio output that opens:
// PulseAudio, then ALSA, then JACK. Buffers are kept under 10 ms. JACK is
// only used when its server already runs; the library never starts jackd.
// When no SoundFont loads or no output opens, ConnectDevice answers false
// and writes exactly one line on stderr saying why; the sound libraries'
// own chatter is kept back. The window may be null, and then nothing is
// ever posted. Connecting again while connected keeps the synthesizer and
// switches to the new window.
//
// MidiInProc(0, 963, 0, message, 0) plays one channel voice message (note
// off and on, key pressure, controller, program change, channel pressure,
// pitch bend; status in bits 0-7, data in bits 8-15 and 16-23, zero above)
// and answers true when the synthesizer took it. Any other argument
// pattern, a malformed message, or a call while not connected answers
// false and does nothing.
//
// SetMasterKeyVolume sets the synthesizer's overall gain, SetSlaveKeyVolume
// the level of what the MIDI input plays; both take 0..127, answer false
// and change nothing above that, and may be called before connecting.
//
// DisConnectDevice sends all notes off and all sound off on all 16
// channels, stops the audio output and releases the synthesizer. It may be
// called twice or without a connection, and once it returns the window's
// post function is never called again.
//
// Each C function checks its arguments first and catches every exception,
// which becomes false plus a line on stderr; nothing is thrown across the C
// boundary. All of them may be called from any thread.
//
// Engine is the one device behind those functions. It owns the synthesizer
// and the window link; MIDI ports will sit beside the synthesizer here, fed
// by the same play() and silenced by the same disconnect(). State is
// guarded by one mutex and posting by another, so that a MIDI input thread
// can post while the GUI thread plays.
#pragma once

#include "PianoHeader.h"
#include "Synth.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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

    struct Status {
        bool ok = true;
        std::string error; // one line, when !ok
    };

    // Opens the synth and remembers the window (null: never post). While
    // connected, a second call keeps the synth as it is and only switches
    // to the new window.
    Status connect(KorvaWindow *window);

    // Silences every channel, stops the audio output, releases the synth and
    // forgets the window: once this returns the window's post function is
    // never called again. Harmless when not connected.
    void disconnect();

    bool connected() const;

    // Plays one packed short message. False, with nothing done, when not
    // connected, when the message is malformed or when the synth refuses it.
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

    // Posts a window message if a window is linked. Callable from any
    // thread. False when nothing was posted.
    bool post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);

    // Runs f on the synth under the engine's lock; false when not connected.
    // This is how tests render and inspect the sound offline.
    bool withSynth(const std::function<void(Synth &)> &f);

private:
    mutable std::mutex mutex_;
    Synth::Options options_;
    std::unique_ptr<Synth> synth_;
    std::uint32_t masterVolume_ = kMaxVolume;
    std::uint32_t slaveVolume_ = kMaxVolume;

    std::mutex windowMutex_;
    KorvaWindow *window_ = nullptr;
};

} // namespace tastavia::korvalink
