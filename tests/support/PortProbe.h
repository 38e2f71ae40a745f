// The tests' own MIDI client beside the library's ports, on whichever
// system the ports run: a JACK client (JackProbe) or an ALSA sequencer
// client. It listens to the library's output and plays into its input, as
// an external synthesizer and keyboard would, so that the same cases run on
// both. TASTAVIA_MIDI_SYSTEM=alsa picks the sequencer; JACK otherwise.
#pragma once

#include <JackProbe.h>

#include <QtTest>

#include <alsa/asoundlib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PortProbe {
public:
    using Bytes = JackProbe::Bytes;

    virtual ~PortProbe() = default;
    virtual bool ok() const = 0;
    // The library's output into the probe, the probe into its input.
    virtual bool connectBothWays() = 0;
    virtual void send(const Bytes &message) = 0;
    virtual std::vector<Bytes> received() const = 0;
    virtual void clearReceived() = 0;
    // Ends the connection into the library's input, the probe staying.
    virtual bool disconnectSender() = 0;
    // Closing the client is how an external keyboard vanishes.
    virtual void close() = 0;
    // Both of the library's ports are there, as other clients see them.
    virtual bool devicePortsListed() = 0;
    // Lets whatever is on its way arrive.
    virtual bool settle() = 0;

    static bool onAlsa() { return qgetenv("TASTAVIA_MIDI_SYSTEM") == "alsa"; }
    // The library's ports, once a program has opened them.
    static bool devicePortsFound(int timeoutMs)
    {
        return QTest::qWaitFor([] { return make()->devicePortsListed(); }, timeoutMs);
    }
    static std::unique_ptr<PortProbe> make();
};

class JackPortProbe final : public PortProbe {
public:
    bool ok() const override { return probe_.ok(); }
    bool connectBothWays() override
    {
        return probe_.connect("Tastavia:out", probe_.inName()) && probe_.connect(probe_.outName(), "Tastavia:in") &&
               probe_.waitForCycles(3, 5000);
    }
    void send(const Bytes &message) override { probe_.send(message); }
    std::vector<Bytes> received() const override { return probe_.received(); }
    void clearReceived() override { probe_.clearReceived(); }
    bool disconnectSender() override { return probe_.disconnect(probe_.outName(), "Tastavia:in"); }
    void close() override { probe_.close(); }
    bool devicePortsListed() override
    {
        jack_port_t *out = jack_port_by_name(probe_.client(), "Tastavia:out");
        jack_port_t *in = jack_port_by_name(probe_.client(), "Tastavia:in");
        return out != nullptr && in != nullptr && (jack_port_flags(out) & JackPortIsOutput) != 0 &&
               (jack_port_flags(in) & JackPortIsInput) != 0 &&
               std::string(jack_port_type(out)) == JACK_DEFAULT_MIDI_TYPE &&
               std::string(jack_port_type(in)) == JACK_DEFAULT_MIDI_TYPE;
    }
    bool settle() override { return probe_.waitForCycles(5, 5000); }

private:
    JackProbe probe_;
};

// A sequencer client "probe" with one port both ways. Raw bytes become
// events through ALSA's own MIDI encoder, as a raw MIDI port's would, and
// events become bytes again through its decoder.
class AlsaPortProbe final : public PortProbe {
public:
    AlsaPortProbe()
    {
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
            seq_ = nullptr;
            return;
        }
        snd_seq_set_client_name(seq_, "probe");
        port_ = snd_seq_create_simple_port(
            seq_, "midi",
            SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        snd_midi_event_new(256, &encoder_);
        snd_midi_event_new(256, &decoder_);
        snd_midi_event_no_status(decoder_, 1);
        reader_ = std::thread([this] { read(); });
    }
    ~AlsaPortProbe() override { close(); }

    bool ok() const override { return seq_ != nullptr && port_ >= 0; }
    bool connectBothWays() override
    {
        snd_seq_addr_t out{}, in{};
        return address("Tastavia:0", out) && address("Tastavia:1", in) &&
               snd_seq_connect_from(seq_, port_, out.client, out.port) == 0 &&
               snd_seq_connect_to(seq_, port_, in.client, in.port) == 0;
    }
    void send(const Bytes &message) override
    {
        snd_midi_event_reset_encode(encoder_);
        for (const std::uint8_t byte : message) {
            snd_seq_event_t event;
            snd_seq_ev_clear(&event);
            if (snd_midi_event_encode_byte(encoder_, byte, &event) != 1)
                continue;
            snd_seq_ev_set_source(&event, port_);
            snd_seq_ev_set_subs(&event);
            snd_seq_ev_set_direct(&event);
            std::lock_guard lock(seqMutex_);
            snd_seq_event_output_direct(seq_, &event);
        }
    }
    std::vector<Bytes> received() const override
    {
        std::lock_guard lock(mutex_);
        return received_;
    }
    void clearReceived() override
    {
        std::lock_guard lock(mutex_);
        received_.clear();
    }
    bool disconnectSender() override
    {
        snd_seq_addr_t in{};
        return address("Tastavia:1", in) && snd_seq_disconnect_to(seq_, port_, in.client, in.port) == 0;
    }
    void close() override
    {
        stop_ = true;
        if (reader_.joinable())
            reader_.join();
        if (seq_ != nullptr)
            snd_seq_close(seq_);
        seq_ = nullptr;
        if (encoder_ != nullptr)
            snd_midi_event_free(encoder_);
        if (decoder_ != nullptr)
            snd_midi_event_free(decoder_);
        encoder_ = decoder_ = nullptr;
    }
    bool devicePortsListed() override
    {
        snd_seq_addr_t out{}, in{};
        return address("Tastavia:0", out) && address("Tastavia:1", in) && capable(out, SND_SEQ_PORT_CAP_SUBS_READ) &&
               capable(in, SND_SEQ_PORT_CAP_SUBS_WRITE);
    }
    // Direct events have arrived by the time the sender's call returns; the
    // reader looks every few milliseconds.
    bool settle() override
    {
        QTest::qWait(100);
        return true;
    }

private:
    bool address(const char *name, snd_seq_addr_t &addr)
    {
        std::lock_guard lock(seqMutex_);
        return seq_ != nullptr && snd_seq_parse_address(seq_, &addr, name) == 0;
    }
    bool capable(const snd_seq_addr_t &addr, unsigned caps)
    {
        snd_seq_port_info_t *info;
        snd_seq_port_info_alloca(&info);
        std::lock_guard lock(seqMutex_);
        return snd_seq_get_any_port_info(seq_, addr.client, addr.port, info) == 0 &&
               (snd_seq_port_info_get_capability(info) & caps) == caps;
    }
    void read()
    {
        while (!stop_) {
            snd_seq_event_t *event = nullptr;
            int result;
            Bytes bytes(16);
            long size = 0;
            {
                std::lock_guard lock(seqMutex_);
                result = snd_seq_event_input(seq_, &event);
                if (result >= 0 && event != nullptr && event->dest.port == port_)
                    size = snd_midi_event_decode(decoder_, bytes.data(), long(bytes.size()), event);
            }
            if (result == -EAGAIN) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            if (size > 0) {
                bytes.resize(std::size_t(size));
                std::lock_guard lock(mutex_);
                received_.push_back(bytes);
            }
        }
    }

    snd_seq_t *seq_ = nullptr;
    int port_ = -1;
    snd_midi_event_t *encoder_ = nullptr;
    snd_midi_event_t *decoder_ = nullptr;
    std::mutex seqMutex_;
    mutable std::mutex mutex_;
    std::vector<Bytes> received_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

inline std::unique_ptr<PortProbe> PortProbe::make()
{
    if (onAlsa())
        return std::make_unique<AlsaPortProbe>();
    return std::make_unique<JackPortProbe>();
}
