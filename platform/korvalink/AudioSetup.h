#pragma once

#include <string>

namespace tastavia::korvalink {

// What was asked of the audio output that opened. FluidSynth cannot tell
// what the sound server finally granted, so these are the requested figures;
// under JACK the period is the server's own and is left at zero.
// Renders frames of audio into nout buffers, and effects into nfx (none
// means mixed in), in FluidSynth's own shape; called on an output's
// real-time thread. It adds to what the buffers hold, as FluidSynth does:
// the caller clears them.
using AudioRender = int (*)(void *data, int frames, int nfx, float *fx[], int nout, float *out[]);

struct AudioSetup {
    std::string driver;
    double sampleRate = 0;
    int periodSize = 0;
    int periods = 0;
    // What the server granted, where it says: PulseAudio's target buffer,
    // which PipeWire may make larger than asked. Zero when unknown.
    int grantedFrames = 0;

    double bufferMs() const { return sampleRate > 0 ? 1000.0 * periodSize * periods / sampleRate : 0; }
    double grantedMs() const { return sampleRate > 0 ? 1000.0 * grantedFrames / sampleRate : 0; }
};

} // namespace tastavia::korvalink
