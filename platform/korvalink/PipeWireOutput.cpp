#include "PipeWireOutput.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <string>
#include <thread>

namespace tastavia::korvalink {

namespace {

constexpr int kChannels = 2;
constexpr std::uint32_t kFrameBytes = kChannels * sizeof(float);

class LoopLock {
public:
    explicit LoopLock(pw_thread_loop *loop) : loop_(loop) { pw_thread_loop_lock(loop_); }
    ~LoopLock() { pw_thread_loop_unlock(loop_); }
    LoopLock(const LoopLock &) = delete;
    LoopLock &operator=(const LoopLock &) = delete;

private:
    pw_thread_loop *loop_;
};

} // namespace

struct PipeWireOutput::Hooks {
    spa_hook listener{};
    pw_stream_events events{};
    std::atomic<int> state{PW_STREAM_STATE_CONNECTING};
};

PipeWireOutput::PipeWireOutput()
    : hooks_(std::make_unique<Hooks>())
{
}

StreamOutput::Opened PipeWireOutput::open(double sampleRate, int quantumFrames, Render render,
                                          std::chrono::milliseconds timeout)
{
    Opened result;
    pw_init(nullptr, nullptr);
    // Its own messages would reach the terminal on every machine without
    // PipeWire; the caller reports in one line.
    pw_log_set_level(SPA_LOG_LEVEL_NONE);
    std::unique_ptr<PipeWireOutput> out(new PipeWireOutput);
    out->render_ = std::move(render);
    out->loop_ = pw_thread_loop_new("tastavia-pipewire", nullptr);
    if (out->loop_ == nullptr) {
        result.error = "PipeWire: out of memory";
        return result;
    }
    out->context_ = pw_context_new(pw_thread_loop_get_loop(out->loop_), nullptr, 0);
    if (out->context_ == nullptr || pw_thread_loop_start(out->loop_) < 0) {
        result.error = "PipeWire: out of memory";
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    {
        LoopLock lock(out->loop_);
        out->core_ = pw_context_connect(out->context_, nullptr, 0);
        if (out->core_ == nullptr) {
            result.error = "PipeWire: no server is running";
            return result;
        }
        const std::string latency =
            std::to_string(quantumFrames) + "/" + std::to_string(static_cast<long>(sampleRate));
        pw_properties *props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
            PW_KEY_MEDIA_NAME, "Tastavia", PW_KEY_APP_NAME, "Tastavia", PW_KEY_APP_ICON_NAME, "tastavia",
            // "Tastavia" itself is the MIDI ports' JACK client, in the same graph.
            PW_KEY_NODE_NAME, "Tastavia synth", PW_KEY_NODE_LATENCY, latency.c_str(), nullptr);
        out->stream_ = pw_stream_new(out->core_, "Tastavia", props);
        if (out->stream_ == nullptr) {
            result.error = "PipeWire: the stream could not be made";
            return result;
        }
        Hooks &hooks = *out->hooks_;
        hooks.events.version = PW_VERSION_STREAM_EVENTS;
        hooks.events.state_changed = [](void *self, pw_stream_state, pw_stream_state state, const char *) {
            auto *output = static_cast<PipeWireOutput *>(self);
            output->hooks_->state.store(state, std::memory_order_release);
            if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
                output->failed_.store(true, std::memory_order_release);
        };
        hooks.events.process = [](void *self) { static_cast<PipeWireOutput *>(self)->process(); };
        pw_stream_add_listener(out->stream_, &hooks.listener, &hooks.events, out.get());

        std::uint8_t buffer[1024];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, buffer, sizeof buffer);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_F32;
        info.channels = kChannels;
        info.rate = static_cast<std::uint32_t>(sampleRate);
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod *params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        // Rendered on the graph's own thread, in the cycle that asks.
        if (pw_stream_connect(out->stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                              pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                              PW_STREAM_FLAG_RT_PROCESS),
                              params, 1) < 0) {
            result.error = "PipeWire: the stream could not connect";
            return result;
        }
    }
    for (;;) {
        const int state = out->hooks_->state.load(std::memory_order_acquire);
        if (state == PW_STREAM_STATE_STREAMING || state == PW_STREAM_STATE_PAUSED)
            break;
        if (out->failed() || std::chrono::steady_clock::now() >= deadline) {
            result.error = "PipeWire: the stream did not start";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    out->grantedFrames_ = quantumFrames;
    result.output = std::move(out);
    return result;
}

PipeWireOutput::~PipeWireOutput()
{
    if (loop_ != nullptr)
        pw_thread_loop_stop(loop_);
    if (stream_ != nullptr)
        pw_stream_destroy(stream_);
    if (core_ != nullptr)
        pw_core_disconnect(core_);
    if (context_ != nullptr)
        pw_context_destroy(context_);
    if (loop_ != nullptr)
        pw_thread_loop_destroy(loop_);
}

void PipeWireOutput::process()
{
    pw_buffer *buffer = pw_stream_dequeue_buffer(stream_);
    if (buffer == nullptr)
        return;
    spa_data &data = buffer->buffer->datas[0];
    if (data.data == nullptr) {
        pw_stream_queue_buffer(stream_, buffer);
        return;
    }
    std::uint32_t frames = data.maxsize / kFrameBytes;
    if (buffer->requested > 0)
        frames = std::min<std::uint32_t>(frames, static_cast<std::uint32_t>(buffer->requested));
    const bool quiet = asleep() || render_(static_cast<float *>(data.data), static_cast<int>(frames));
    if (asleep())
        std::fill_n(static_cast<float *>(data.data), frames * kChannels, 0.0f);
    data.chunk->offset = 0;
    data.chunk->stride = kFrameBytes;
    data.chunk->size = frames * kFrameBytes;
    pw_stream_queue_buffer(stream_, buffer);
    if (quiet && !asleep_.exchange(true, std::memory_order_acq_rel)) {
        // Pausing is the loop thread's business, not the graph's. SPA's
        // method calls are GNU statement expressions, which clang names.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wgnu-statement-expression"
#endif
        pw_loop_invoke(
            pw_thread_loop_get_loop(loop_),
            [](spa_loop *, bool, std::uint32_t, const void *, std::size_t, void *self) {
                auto *output = static_cast<PipeWireOutput *>(self);
                if (output->asleep())
                    pw_stream_set_active(output->stream_, false);
                return 0;
            },
            0, nullptr, 0, false, this);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
    }
}

void PipeWireOutput::wake()
{
    if (!asleep())
        return;
    LoopLock lock(loop_);
    if (asleep_.exchange(false, std::memory_order_acq_rel))
        pw_stream_set_active(stream_, true);
}

} // namespace tastavia::korvalink
