// The built-in synthesizer: FluidSynth with a General MIDI SoundFont and,
// unless asked to stay offline, an audio output of its own. Offline, the
// caller pulls samples with render(); that is how the tests listen.
//
// Not locked: FluidSynth serialises its own API against its audio thread,
// and the Engine serialises everything else.
#pragma once

#include "AudioSetup.h"
#include "ShortMessage.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>


namespace tastavia::korvalink {

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

    // Plays one message. False when FluidSynth refuses it; a note off whose
    // note has already died away is not a refusal.
    bool send(const ShortMessage &message);

    // All notes off, then all sound off, on all 16 channels: nothing keeps
    // sounding, not even notes held by the sustain pedal.
    void silence();

    void setGain(float gain);
    float gain() const;

    // Renders frames of stereo float audio, one buffer per side. Meant for
    // a synth opened offline; with an audio output both would pull samples.
    bool render(float *left, float *right, int frames);

    int activeVoices() const;
    double sampleRate() const { return sampleRate_; }

    const std::string &soundFont() const { return soundFont_; }
    double soundFontLoadMs() const { return soundFontLoadMs_; }
    // Empty when offline.
    const std::optional<AudioSetup> &audio() const { return audio_; }

private:
    Synth();

    struct Handles;
    std::unique_ptr<Handles> handles_;
    std::string soundFont_;
    double soundFontLoadMs_ = 0;
    double sampleRate_ = 0;
    std::optional<AudioSetup> audio_;
};

} // namespace tastavia::korvalink
