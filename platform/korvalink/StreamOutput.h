// An audio output of our own that renders only while something sounds:
// our PulseAudio stream and our ALSA output. FluidSynth's drivers render a
// block every period for as long as the program runs, silence included,
// which costs an idle keyboard a few per cent of a core; these sleep once
// the synth has been quiet for a while and wake for the next message, in
// time for its first block.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tastavia::korvalink {

class StreamOutput {
public:
    // Fills frames of interleaved stereo float audio. Runs on the output's
    // own thread. Returns true when the output may sleep after this block:
    // nothing sounds any more.
    using Render = std::function<bool(float *interleaved, int frames)>;

    struct Opened {
        std::unique_ptr<StreamOutput> output;
        std::string error; // one line, set when output is null
    };

    virtual ~StreamOutput() = default;

    // Starts a sleeping output again; cheap when it is awake. Any thread.
    virtual void wake() = 0;
    virtual bool asleep() const = 0;
    // The server or the device has gone away; the output stays silent.
    virtual bool failed() const = 0;
    // The buffer that was granted, in frames; it may differ from the one
    // asked for. Zero when unknown.
    virtual int grantedFrames() const = 0;
};

} // namespace tastavia::korvalink
