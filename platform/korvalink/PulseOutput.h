// The synthesizer's PulseAudio output, on PulseAudio's asynchronous API
// rather than FluidSynth's driver: that driver's thread renders and pushes a
// block every few milliseconds for as long as the program runs, silence
// included, which costs a few per cent of a core doing nothing. This stream
// can be corked while nothing sounds and uncorked by the next message, so
// an idle keyboard costs nothing and the next note still starts in the
// first block rendered after it. The stream names the program, so the
// desktop's mixer shows "Tastavia". Nothing here waits without a limit on
// the sound server.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace tastavia::korvalink {

class PulseOutput {
public:
    // Fills frames of interleaved stereo float audio. Runs on the output's
    // own thread. Returns true when the output may sleep after this block:
    // nothing sounds any more.
    using Render = std::function<bool(float *interleaved, int frames)>;

    struct Opened {
        std::unique_ptr<PulseOutput> output;
        std::string error; // one line, set when output is null
    };
    static Opened open(double sampleRate, int bufferFrames, Render render,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    ~PulseOutput();
    PulseOutput(const PulseOutput &) = delete;
    PulseOutput &operator=(const PulseOutput &) = delete;

    // Uncorks a sleeping stream; cheap when it is awake. Any thread.
    void wake();
    bool asleep() const { return asleep_.load(std::memory_order_acquire); }
    // The server or the stream has gone away; the output stays silent.
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    // The buffer the server granted, in frames; it may differ from the one
    // asked for.
    int grantedFrames() const { return grantedFrames_; }

private:
    PulseOutput() = default;
    static void onContextState(pa_context *context, void *self);
    static void onStreamState(pa_stream *stream, void *self);
    static void onWrite(pa_stream *stream, std::size_t bytes, void *self);
    void sleep();
    // state: 1 ready, 0 still on its way, -1 failed.
    bool waitUntil(const std::function<int()> &state, std::chrono::steady_clock::time_point deadline);

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
    Render render_;
    std::atomic<bool> asleep_{false};
    std::atomic<bool> failed_{false};
    int grantedFrames_ = 0;
};

} // namespace tastavia::korvalink
