#include "PulseOutput.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <thread>

namespace tastavia::korvalink {

namespace {

constexpr int kChannels = 2;
constexpr std::size_t kFrameBytes = kChannels * sizeof(float);

// Locks the output's loop for the scope; every call into a running stream
// must hold it.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop *loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock &) = delete;
    LoopLock &operator=(const LoopLock &) = delete;

private:
    pa_threaded_mainloop *loop_;
};

void drop(pa_operation *operation)
{
    if (operation)
        pa_operation_unref(operation);
}

std::string serverError(pa_context *context, const char *what)
{
    const int code = context ? pa_context_errno(context) : PA_ERR_UNKNOWN;
    return std::string(what) + ": " + pa_strerror(code);
}

} // namespace

PulseOutput::Opened PulseOutput::open(double sampleRate, int bufferFrames, Render render,
                                      std::chrono::milliseconds timeout)
{
    Opened result;
    std::unique_ptr<PulseOutput> out(new PulseOutput);
    out->render_ = std::move(render);
    const auto deadline = std::chrono::steady_clock::now() + timeout;

    out->loop_ = pa_threaded_mainloop_new();
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Tastavia");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "tastavia");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    // PipeWire's PulseAudio server never grants less than three of its
    // smallest requests, 256 frames each by default: 16 ms where we ask for
    // 8. A client may lower its own smallest request, and with a third of
    // our buffer the server grants the buffer as asked. PulseAudio ignores
    // these.
    const std::string smallestRequest =
        std::to_string(std::max(1, bufferFrames / 3)) + "/" + std::to_string(static_cast<long>(sampleRate));
    pa_proplist_sets(props, "pulse.min.req", smallestRequest.c_str());
    pa_proplist_sets(props, "pulse.min.quantum", smallestRequest.c_str());
    out->context_ = out->loop_ ? pa_context_new_with_proplist(pa_threaded_mainloop_get_api(out->loop_), "Tastavia", props)
                               : nullptr;
    pa_proplist_free(props);
    if (!out->context_) {
        result.error = "PulseAudio: out of memory";
        return result;
    }
    pa_context_set_state_callback(out->context_, &PulseOutput::onContextState, out.get());
    // Never spawn a server of our own: the desktop's is the one to use.
    if (pa_context_connect(out->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(out->loop_) < 0) {
        result.error = serverError(out->context_, "PulseAudio connection failed");
        return result;
    }
    {
        LoopLock lock(out->loop_);
        pa_context *context = out->context_;
        const auto contextState = [context] {
            const pa_context_state_t state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(state) ? 0 : -1;
        };
        if (!out->waitUntil(contextState, deadline)) {
            result.error = serverError(context, "PulseAudio connection failed");
            return result;
        }
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(sampleRate), kChannels};
        pa_proplist *streamProps = pa_proplist_new();
        pa_proplist_sets(streamProps, PA_PROP_MEDIA_NAME, "Tastavia");
        // On PipeWire the stream is a node of the same graph as the JACK
        // clients, named after the program unless told otherwise; the MIDI
        // ports' JACK client would then have to be "Tastavia-47" or the
        // like, and patchbays that remember "Tastavia:in" lose it.
        pa_proplist_sets(streamProps, "node.name", "Tastavia synth");
        out->stream_ = pa_stream_new_with_proplist(context, "Tastavia", &spec, nullptr, streamProps);
        pa_proplist_free(streamProps);
        if (!out->stream_) {
            result.error = serverError(context, "PulseAudio stream failed");
            return result;
        }
        pa_stream_set_state_callback(out->stream_, &PulseOutput::onStreamState, out.get());
        pa_stream_set_write_callback(out->stream_, &PulseOutput::onWrite, out.get());
        // One buffer of the size asked for, not whatever the server finds
        // comfortable: a key must sound while it goes down.
        const std::uint32_t bytes = static_cast<std::uint32_t>(bufferFrames * kFrameBytes);
        const pa_buffer_attr attr{std::uint32_t(-1), bytes, std::uint32_t(-1), std::uint32_t(-1), std::uint32_t(-1)};
        pa_stream *stream = out->stream_;
        const auto streamState = [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
        };
        if (pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_NOFLAGS, nullptr, nullptr) < 0 ||
            !out->waitUntil(streamState, deadline)) {
            result.error = serverError(context, "PulseAudio stream failed");
            return result;
        }
        if (const pa_buffer_attr *granted = pa_stream_get_buffer_attr(stream))
            out->grantedFrames_ = static_cast<int>(granted->tlength / kFrameBytes);
    }
    result.output = std::move(out);
    return result;
}

// Polled with the loop unlocked in between, so the server's answers get in.
bool PulseOutput::waitUntil(const std::function<int()> &state, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const int now = state();
        if (now != 0)
            return now > 0;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        pa_threaded_mainloop_unlock(loop_);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pa_threaded_mainloop_lock(loop_);
    }
}

PulseOutput::~PulseOutput()
{
    if (loop_) {
        // Stopping the loop's thread needs nothing from the server, so a
        // hung server cannot hold the program's end.
        pa_threaded_mainloop_stop(loop_);
    }
    if (stream_) {
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_)
        pa_threaded_mainloop_free(loop_);
}

void PulseOutput::onContextState(pa_context *context, void *self)
{
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        static_cast<PulseOutput *>(self)->failed_.store(true, std::memory_order_release);
}

void PulseOutput::onStreamState(pa_stream *stream, void *self)
{
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        static_cast<PulseOutput *>(self)->failed_.store(true, std::memory_order_release);
}

void PulseOutput::onWrite(pa_stream *stream, std::size_t bytes, void *self)
{
    auto *out = static_cast<PulseOutput *>(self);
    if (out->asleep())
        return;
    void *data = nullptr;
    std::size_t size = bytes;
    if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr)
        return;
    const int frames = static_cast<int>(size / kFrameBytes);
    const bool quiet = out->render_(static_cast<float *>(data), frames);
    pa_stream_write(stream, data, static_cast<std::size_t>(frames) * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
    if (quiet)
        out->sleep();
}

// On the loop's thread, lock held. What is still buffered is silence; it
// goes, so that the next note does not wait behind it.
void PulseOutput::sleep()
{
    asleep_.store(true, std::memory_order_release);
    drop(pa_stream_cork(stream_, 1, nullptr, nullptr));
    drop(pa_stream_flush(stream_, nullptr, nullptr));
}

void PulseOutput::wake()
{
    if (!asleep())
        return;
    LoopLock lock(loop_);
    if (!asleep_.exchange(false, std::memory_order_acq_rel))
        return;
    drop(pa_stream_cork(stream_, 0, nullptr, nullptr));
    // The server asked for the emptied buffer's worth while the stream slept
    // and was not answered; it will not ask again, so answer now.
    const std::size_t writable = pa_stream_writable_size(stream_);
    if (writable != std::size_t(-1) && writable > 0)
        onWrite(stream_, writable, this);
}

} // namespace tastavia::korvalink
