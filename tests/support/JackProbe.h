// A JACK client of the tests' own, standing in for an external synthesizer
// (its "midi_in" listens to what the library sends) and for an external
// keyboard (its "midi_out" plays into the library's input). Tests run it
// against the private server of support/with-jack.sh. With an audio input
// it also listens to a synthesizer's output, keeping the loudest sample.
//
// A client of the test's own must be closed before its server goes: libjack
// frees every client of a process when one is opened after their server
// died, which the library under test does when it looks for the server
// again.
#pragma once

#include <SoundServer.h>

#include <jack/jack.h>
#include <jack/midiport.h>

#include <signal.h>
#include <sys/types.h>

#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class JackProbe {
public:
    using Bytes = std::vector<std::uint8_t>;

    explicit JackProbe(const char *name = "probe", bool listensToAudio = false)
    {
        client_ = jack_client_open(name, JackNoStartServer, nullptr);
        if (client_ == nullptr)
            return;
        in_ = jack_port_register(client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        out_ = jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (listensToAudio)
            audio_ = jack_port_register(client_, "audio_in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &JackProbe::process, this);
        if (in_ == nullptr || out_ == nullptr || (listensToAudio && audio_ == nullptr) || jack_activate(client_) != 0)
            close();
    }

    ~JackProbe() { close(); }
    JackProbe(const JackProbe &) = delete;
    JackProbe &operator=(const JackProbe &) = delete;

    bool ok() const { return client_ != nullptr; }
    jack_client_t *client() const { return client_; }
    std::string inName() const { return jack_port_name(in_); }
    std::string outName() const { return jack_port_name(out_); }
    std::string audioName() const { return jack_port_name(audio_); }

    // A storm into midi_out: perSecond messages of wall-clock time, however
    // slowly a loaded machine runs the server's cycles, each note on of the
    // given notes (channel 1) followed by its note off.
    // Ending waits for the callback to send the note off it owes.
    void startStorm(int perSecond, std::vector<std::uint8_t> notes)
    {
        std::lock_guard lock(mutex_);
        stormNotes_ = std::move(notes);
        stormRate_ = perSecond;
        stormStart_ = std::chrono::steady_clock::now();
        stormDue_ = stormSent_;
    }
    bool endStorm()
    {
        {
            std::lock_guard lock(mutex_);
            stormRate_ = 0;
        }
        return QTest::qWaitFor([this] {
            std::lock_guard lock(mutex_);
            return stormSent_ % 2 == 0;
        });
    }
    // Messages of the storm sent so far, and those the port had no room for
    // (they are tried again in the next cycle).
    std::uint64_t stormSent() const
    {
        std::lock_guard lock(mutex_);
        return stormSent_;
    }
    std::uint64_t stormRefused() const
    {
        std::lock_guard lock(mutex_);
        return stormRefused_;
    }

    // The loudest sample heard since the last call.
    float takeAudioPeak()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(audioPeak_, 0.0f);
    }

    // The server's frame time of the first message sent since the last
    // call, and of the first sample heard above the level since then: how
    // far apart a note and its sound are, in frames of one graph.
    std::optional<jack_nframes_t> takeSentFrame()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(sentFrame_, std::nullopt);
    }
    void listenFor(float level)
    {
        std::lock_guard lock(mutex_);
        loudLevel_ = level;
        loudFrame_.reset();
    }
    std::optional<jack_nframes_t> loudFrame() const
    {
        std::lock_guard lock(mutex_);
        return loudFrame_;
    }

    // Closing the client is how an external keyboard vanishes.
    void close()
    {
        if (client_ != nullptr)
            jack_client_close(client_);
        client_ = nullptr;
    }

    // A connection that is already there counts.
    bool connect(const std::string &from, const std::string &to)
    {
        const int result = jack_connect(client_, from.c_str(), to.c_str());
        return result == 0 || result == EEXIST;
    }
    bool disconnect(const std::string &from, const std::string &to)
    {
        return jack_disconnect(client_, from.c_str(), to.c_str()) == 0;
    }

    // Leaves in the next cycle, in order.
    void send(Bytes message)
    {
        std::lock_guard lock(mutex_);
        outgoing_.push_back(std::move(message));
    }

    std::vector<Bytes> received() const
    {
        std::lock_guard lock(mutex_);
        return received_;
    }
    void clearReceived()
    {
        std::lock_guard lock(mutex_);
        received_.clear();
    }
    bool outgoingSent() const
    {
        std::lock_guard lock(mutex_);
        return outgoing_.empty();
    }
    std::uint64_t cycles() const
    {
        std::lock_guard lock(mutex_);
        return cycles_;
    }
    // A new connection carries data from the next graph change on, which
    // the server makes between cycles: this lets n pass.
    bool waitForCycles(std::uint64_t n, int timeoutMs)
    {
        const std::uint64_t start = cycles();
        return QTest::qWaitFor([&] { return cycles() > start + n; }, timeoutMs);
    }

private:
    // A test client may lock in its process callback: nothing here is
    // real-time but the server's patience.
    static int process(jack_nframes_t frames, void *self)
    {
        auto *probe = static_cast<JackProbe *>(self);
        std::lock_guard lock(probe->mutex_);
        void *in = jack_port_get_buffer(probe->in_, frames);
        const jack_nframes_t count = jack_midi_get_event_count(in);
        for (jack_nframes_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, i) == 0)
                probe->received_.emplace_back(event.buffer, event.buffer + event.size);
        }
        void *out = jack_port_get_buffer(probe->out_, frames);
        jack_midi_clear_buffer(out);
        const jack_nframes_t start = jack_last_frame_time(probe->client_);
        if (!probe->outgoing_.empty() && !probe->sentFrame_)
            probe->sentFrame_ = start;
        for (const Bytes &message : probe->outgoing_)
            jack_midi_event_write(out, 0, message.data(), message.size());
        probe->outgoing_.clear();
        probe->storm(out, frames);
        if (probe->audio_ != nullptr) {
            const auto *samples = static_cast<const float *>(jack_port_get_buffer(probe->audio_, frames));
            for (jack_nframes_t i = 0; i < frames; ++i) {
                probe->audioPeak_ = std::max(probe->audioPeak_, std::fabs(samples[i]));
                if (probe->loudLevel_ > 0 && !probe->loudFrame_ && std::fabs(samples[i]) > probe->loudLevel_)
                    probe->loudFrame_ = start + i;
            }
        }
        ++probe->cycles_;
        return 0;
    }

    // In the process callback, lock held.
    void storm(void *out, jack_nframes_t frames)
    {
        if (stormNotes_.empty() || (stormRate_ == 0 && stormSent_ % 2 == 0))
            return;
        std::uint64_t count = 1; // the note off owed once the storm is over
        if (stormRate_ > 0) {
            const std::chrono::duration<double> since = std::chrono::steady_clock::now() - stormStart_;
            const auto due = stormDue_ + static_cast<std::uint64_t>(since.count() * stormRate_);
            count = due > stormSent_ ? due - stormSent_ : 0;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t n = stormSent_;
            const std::uint8_t note = stormNotes_[(n / 2) % stormNotes_.size()];
            const std::uint8_t message[3] = {std::uint8_t(n % 2 ? 0x80 : 0x90), note, std::uint8_t(n % 2 ? 0 : 100)};
            const auto at = static_cast<jack_nframes_t>(i * frames / count);
            if (jack_midi_max_event_size(out) < sizeof message || jack_midi_event_write(out, at, message, sizeof message) != 0) {
                stormRefused_ += count - i;
                break;
            }
            ++stormSent_;
        }
    }

    jack_client_t *client_ = nullptr;
    jack_port_t *in_ = nullptr;
    jack_port_t *out_ = nullptr;
    jack_port_t *audio_ = nullptr;
    float audioPeak_ = 0;
    std::optional<jack_nframes_t> sentFrame_;
    float loudLevel_ = 0;
    std::optional<jack_nframes_t> loudFrame_;
    mutable std::mutex mutex_;
    std::vector<Bytes> outgoing_;
    std::vector<Bytes> received_;
    std::uint64_t cycles_ = 0;
    std::vector<std::uint8_t> stormNotes_;
    int stormRate_ = 0;
    std::chrono::steady_clock::time_point stormStart_;
    std::uint64_t stormDue_ = 0;
    std::uint64_t stormSent_ = 0;
    std::uint64_t stormRefused_ = 0;
};

// The private server of support/with-jack.sh, stopped cleanly and started
// again under the same name by that script, or PipeWire's under
// support/with-pipewire.sh --jack. Each waits until it is done and gives the
// running server's process id, 0 when stopped, -1 on failure.
namespace jackserver {

inline pid_t ask(int signal, const char *expected)
{
    const QByteArray state = tastavia::testing::askServerScript("TASTAVIA_JACK_CONTROL", "TASTAVIA_JACK_STATE", signal);
    if (!state.startsWith(expected))
        return -1;
    // PipeWire's state goes on with the pids of its other servers.
    return state == "stopped" ? 0 : pid_t(state.mid(8).split(' ').value(0).toInt());
}

inline bool stop() { return ask(SIGUSR1, "stopped") == 0; }
inline pid_t start() { return ask(SIGUSR2, "running"); }

// What jack_lsp lists: every port of the running server.
inline QByteArray ports()
{
    QProcess lsp;
    lsp.start(QStringLiteral("jack_lsp"), {});
    lsp.waitForFinished(5000);
    return lsp.readAllStandardOutput();
}

} // namespace jackserver
