// Opening the synthesizer's audio output: the first of a list of drivers
// that opens wins. "pulseaudio" and "alsa" are outputs of our own that sleep
// while nothing sounds (StreamOutput.h); "jack" is FluidSynth's driver.
#pragma once

#include "AudioSetup.h"
#include "StreamOutput.h"

#include <fluidsynth.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tastavia::korvalink {

struct AudioDriverDeleter {
    void operator()(fluid_audio_driver_t *driver) const { delete_fluid_audio_driver(driver); }
};
using AudioDriverPtr = std::unique_ptr<fluid_audio_driver_t, AudioDriverDeleter>;

struct AudioOutput {
    AudioDriverPtr driver; // FluidSynth's, or null
    std::unique_ptr<StreamOutput> stream; // ours, or null; one of the two opens
    AudioSetup setup;
    std::string error;     // why nothing opened, one line
};

// Tries the drivers in order with the settings the synth was made from. A
// JACK server is never started for us: JACK is only tried when one runs.
// The driver calls render for every block it plays, which lets the caller
// see that audio is still flowing.
AudioOutput openAudioOutput(fluid_settings_t *settings, fluid_audio_func_t render, void *data,
                            const StreamOutput::Render &streamRender, const std::vector<std::string> &drivers);

// Opens one of our own outputs ("pulseaudio" or "alsa") again as it was set
// up, the PulseAudio server's answer limited in time.
StreamOutput::Opened openStreamOutput(const AudioSetup &setup, const StreamOutput::Render &render,
                                      std::chrono::milliseconds timeout);

} // namespace tastavia::korvalink
