// The built-in synthesizer: FluidSynth with a General MIDI SoundFont and,
// unless asked to stay offline, an audio output of its own. Offline, the
// caller pulls samples with render(); that is how the tests listen.
//
// FluidSynth serialises its own API against its audio thread; messages are
// serialised here, since the program and the MIDI input send from two
// threads; the Engine serialises everything else.
#pragma once

#include "AudioSetup.h"
#include "ShortMessage.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct _fluid_synth_t;

namespace tastavia::korvalink {

class StreamOutput;

class Synth {
public:
    struct Options {
        std::vector<std::string> soundFonts;   // tried in order, the first that loads is used
        std::vector<std::string> audioDrivers; // FluidSynth driver names, tried in order; none = offline
        double sampleRate = 48000.0;
    };

    // The sound a desktop user expects: the system's GM SoundFont and the
    // first of PulseAudio, ALSA and JACK that opens.
    static Options deviceOptions();
    // Same SoundFont, no audio output: for rendering without a sound server.
    static Options offlineOptions();

    // The SoundFonts worth trying on this system, best first. Debian's
    // default-GM alternative and the larger FluidR3 come before TimGM6mb
    // only when they are small enough to load without slowing the start;
    // a large font stays at the end as a last resort, since a slow start
    // beats no sound.
    static std::vector<std::string> defaultSoundFonts();

    struct Opened {
        std::unique_ptr<Synth> synth;
        std::string error; // one line, set when synth is null
    };
    static Opened open(const Options &options);

    ~Synth();
    Synth(const Synth &) = delete;
    Synth &operator=(const Synth &) = delete;

    enum class Result {
        Played,
        // A note on that FluidSynth took but that starts no voice: the
        // channel's current instrument has no sample for that key at that
        // velocity (a drum kit outside its drums, say). Nothing is heard.
        Silent,
        // FluidSynth refused the message, for instance a note on while the
        // channel has no instrument at all.
        Refused,
        // A note on refused because every voice is taken by notes that have
        // not been rendered yet, so none can be stolen: a flood of notes
        // faster than the output plays them. Nothing sounds, and it passes
        // with the next block.
        Overloaded,
    };

    // Whether a message took effect: neither refused nor, for a note on,
    // overloaded.
    static bool tookNote(Result result) { return result == Result::Played || result == Result::Silent; }

    // Plays one message. A note off whose note has already died away is
    // played, not refused: the key is up either way.
    Result send(const ShortMessage &message);

    // Pedals up, all notes off, then all sound off, on all 16 channels:
    // nothing keeps sounding, not even notes the pedals held.
    void silence();

    void setGain(float gain);
    float gain() const;

    // Renders frames of stereo float audio, one buffer per side. Meant for
    // a synth opened offline; with an audio output both would pull samples.
    bool render(float *left, float *right, int frames);

    int activeVoices() const;
    double sampleRate() const { return sampleRate_; }

    // Something that loses its server beside the audio output and comes
    // back on the same watch, at the same pace: the MIDI ports (see
    // MidiPorts for what each call means). onJack: its server is the JACK
    // server, which a JACK audio output shares.
    struct Companion {
        std::function<bool()> gone;
        std::function<void()> release;
        std::function<bool()> reopen;
        bool onJack; // zero when value-initialised, as {} does
    };

    // Calls stopped, on a thread of its own, when the audio output has
    // stopped: its sound server or device went away or its thread gave up.
    // That is our stream saying so (PulseAudio, ALSA), or no block asked
    // for in two seconds (JACK), or the companion's JACK server going away
    // under a JACK output. Once per stop; if the audio comes back, a
    // later stop is told again. The handler must not destroy this synth.
    //
    // An output that stopped is opened again once a second, each try
    // limited in time, and the sound comes back with it; so is a companion
    // that lost its server. A JACK output that only went silent while the
    // companion still has the same server is a server that hangs, not one
    // that went: nothing is reopened then. Offline, only the companion is
    // watched.
    void watchAudio(std::function<void()> stopped, Companion companion = {});
    // Ends the watch; nothing is reopened or told after it returns.
    void stopWatching();
    // Hands a JACK output over to a carrier that renders it in a client of
    // its own (the MIDI ports', MidiPorts::carryAudio), which then also
    // brings it back with its server: the companion of watchAudio. Before
    // the watch starts. False, with FluidSynth's own JACK client playing as
    // before, when the output is not JACK or the carrier refuses.
    bool playThrough(const std::function<bool(AudioRender, void *)> &carrier);
    bool audioCarried() const { return audioCarried_; }
    // FluidSynth's JACK output that asks for no block within the
    // patience hangs with its server, and closing it would wait on that
    // server for good: such a synth is kept rather than destroyed.
    bool outputHangs(std::chrono::milliseconds patience) const;
    // Blocks the audio output has asked for so far, and of those the ones
    // actually rendered: once nothing has sounded for a while the output
    // sleeps (our PulseAudio and ALSA streams stop and ask for nothing; JACK
    // gets silence without rendering), and the next message wakes it in time
    // for its first block.
    std::uint64_t audioBlocks() const { return audioBlocks_.load(std::memory_order_relaxed); }
    std::uint64_t renderedBlocks() const { return renderedBlocks_.load(std::memory_order_relaxed); }
    bool audioAsleep() const;
    // How long nothing must sound before the output sleeps.
    void setIdleAfter(std::chrono::milliseconds quiet);
    // Sees every rendered block, interleaved stereo, on the audio thread:
    // for tests that listen to what the output plays.
    void setBlockTap(std::function<void(const float *interleaved, int frames)> tap);

    // FluidSynth itself, for the benchmark and for tests that need to put
    // the synthesizer into states no message leads to.
    _fluid_synth_t *fluid() const;

    const std::string &soundFont() const { return soundFont_; }
    double soundFontLoadMs() const { return soundFontLoadMs_; }
    // Empty when offline.
    const std::optional<AudioSetup> &audio() const { return audio_; }

private:
    Synth();
    static int renderForDriver(void *self, int frames, int nfx, float *fx[], int nout, float *out[]);
    Result play(const ShortMessage &message);
    bool renderInterleaved(float *interleaved, int frames);
    void tapPlanar(const float *left, const float *right, int frames);
    bool settle(float peak, int frames, std::uint64_t wakesBefore);
    void wakeAudio();
    void countBlock();
    bool audioThreadAlive() const;
    std::shared_ptr<StreamOutput> currentStream() const;
    bool reopenStream();
    bool reopenDriver();
    // JACK asks for a block every period, silence included; our streams
    // stop while nothing sounds.
    bool pacedOutput() const { return audio_ && audio_->driver == "jack"; }

    struct Handles;
    std::unique_ptr<Handles> handles_;
    std::atomic<std::uint64_t> audioBlocks_{0};
    std::atomic<std::uint64_t> renderedBlocks_{0};
    // Bumped by every message after it reached FluidSynth. A block rendered
    // while it moved may not have heard the message yet, so it never puts
    // the output to sleep.
    std::atomic<std::uint64_t> wakes_{0};
    std::atomic<std::uint64_t> asleepSince_{0}; // wakes_ when the FluidSynth drivers' output slept, + 1
    std::atomic<int> quietFrames_{0};
    std::atomic<int> idleAfterFrames_{0};
    std::mutex sendMutex_;
    mutable std::mutex streamMutex_;
    std::function<bool(float *, int)> streamRender_;
    std::mutex tapMutex_;
    std::function<void(const float *, int)> tap_;
    std::atomic<int> audioThread_{0}; // the driver's thread, once it has called
    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    bool watchStop_ = false;
    std::thread watchdog_;
    std::string soundFont_;
    double soundFontLoadMs_ = 0;
    double sampleRate_ = 0;
    std::optional<AudioSetup> audio_;
    bool audioCarried_ = false; // set before the watch starts
};

} // namespace tastavia::korvalink
