// A JACK client of the tests' own, standing in for an external synthesizer
// (its "midi_in" listens to what the library sends) and for an external
// keyboard (its "midi_out" plays into the library's input). Tests run it
// against the private server of support/with-jack.sh.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class JackProbe {
public:
    using Bytes = std::vector<std::uint8_t>;

    explicit JackProbe(const char *name = "probe")
    {
        client_ = jack_client_open(name, JackNoStartServer, nullptr);
        if (client_ == nullptr)
            return;
        in_ = jack_port_register(client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        out_ = jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &JackProbe::process, this);
        if (in_ == nullptr || out_ == nullptr || jack_activate(client_) != 0)
            close();
    }

    ~JackProbe() { close(); }
    JackProbe(const JackProbe &) = delete;
    JackProbe &operator=(const JackProbe &) = delete;

    bool ok() const { return client_ != nullptr; }
    jack_client_t *client() const { return client_; }
    std::string inName() const { return jack_port_name(in_); }
    std::string outName() const { return jack_port_name(out_); }

    // Closing the client is how an external keyboard vanishes.
    void close()
    {
        if (client_ != nullptr)
            jack_client_close(client_);
        client_ = nullptr;
    }

    bool connect(const std::string &from, const std::string &to)
    {
        return jack_connect(client_, from.c_str(), to.c_str()) == 0;
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
        for (const Bytes &message : probe->outgoing_)
            jack_midi_event_write(out, 0, message.data(), message.size());
        probe->outgoing_.clear();
        ++probe->cycles_;
        return 0;
    }

    jack_client_t *client_ = nullptr;
    jack_port_t *in_ = nullptr;
    jack_port_t *out_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Bytes> outgoing_;
    std::vector<Bytes> received_;
    std::uint64_t cycles_ = 0;
};
