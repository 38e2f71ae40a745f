// The synthesizer's output on PipeWire's own stream API, for desktops that
// run PipeWire. Through PipeWire's PulseAudio server a note waited behind
// the whole buffered stream, which that server keeps full: about 14.6 ms
// with the 8 ms buffer, where a keyboard wants under 10. Here the graph
// asks for each quantum when it needs it, as JACK does, and the synth
// renders it right then. It sleeps like the others (StreamOutput.h): the
// stream is paused while nothing sounds.
#pragma once

#include "StreamOutput.h"

#include <atomic>
#include <chrono>
#include <memory>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;

namespace tastavia::korvalink {

class PipeWireOutput final : public StreamOutput {
public:
    // quantumFrames: the period the graph is asked to run at while we play.
    static Opened open(double sampleRate, int quantumFrames, Render render, std::chrono::milliseconds timeout);

    ~PipeWireOutput() override;
    PipeWireOutput(const PipeWireOutput &) = delete;
    PipeWireOutput &operator=(const PipeWireOutput &) = delete;

    void wake() override;
    bool asleep() const override { return asleep_.load(std::memory_order_acquire); }
    bool failed() const override { return failed_.load(std::memory_order_acquire); }
    int grantedFrames() const override { return grantedFrames_; }

private:
    struct Hooks;
    PipeWireOutput();
    void process();

    pw_thread_loop *loop_ = nullptr;
    pw_context *context_ = nullptr;
    pw_core *core_ = nullptr;
    pw_stream *stream_ = nullptr;
    std::unique_ptr<Hooks> hooks_;
    Render render_;
    int grantedFrames_ = 0;
    std::atomic<bool> asleep_{false};
    std::atomic<bool> failed_{false};
};

} // namespace tastavia::korvalink
