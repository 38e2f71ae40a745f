// The synthesizer's PulseAudio output, on PulseAudio's asynchronous API
// rather than FluidSynth's driver, so that it can sleep (StreamOutput.h):
// the stream is corked while nothing sounds and uncorked by the next
// message. The stream names the program, so the desktop's mixer shows
// "Tastavia". Nothing here waits without a limit on the sound server.
#pragma once

#include "StreamOutput.h"

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

class PulseOutput final : public StreamOutput {
public:
    static Opened open(double sampleRate, int bufferFrames, Render render,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    ~PulseOutput() override;
    PulseOutput(const PulseOutput &) = delete;
    PulseOutput &operator=(const PulseOutput &) = delete;

    // Uncorks a sleeping stream.
    void wake() override;
    bool asleep() const override { return asleep_.load(std::memory_order_acquire); }
    bool failed() const override { return failed_.load(std::memory_order_acquire); }
    int grantedFrames() const override { return grantedFrames_; }

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
