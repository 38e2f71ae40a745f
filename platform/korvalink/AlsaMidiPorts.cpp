// MIDI ports on the ALSA sequencer: one client with an "out" and an "in"
// port, which `aconnect -l` lists and any sequencer client can subscribe to.
//
// Sending writes straight to the sequencer, which hands the event to every
// subscriber at once. A thread of ours reads the input, and also hears the
// sequencer say when a subscription to the input ends: that is the sender
// going away, with whatever notes it still held.
//
// Both directions use one sequencer handle, so that one client carries both
// ports. alsa-lib makes no handle safe for use from two threads at once (its
// rule is that the application serialises every call on a handle; only the
// opening calls are thread-safe), and an output and an input call share the
// handle's state. So every call on the handle after opening holds
// seqMutex_: the handle is non-blocking, so none of them waits while holding
// it, and events are copied out under it and handled after. Waiting for
// input is a poll() on the handle's descriptors, which needs no lock.
#include "AlsaEvents.h"
#include "MidiPorts.h"

#include "QuietLibraries.h"

#include <alsa/asoundlib.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

namespace tastavia::korvalink {

namespace {

constexpr unsigned kPortType =
    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SOFTWARE | SND_SEQ_PORT_TYPE_APPLICATION;

class AlsaMidiPorts final : public MidiPorts {
public:
    explicit AlsaMidiPorts(MidiPortsListener &listener)
        : listener_(listener)
    {
    }

    ~AlsaMidiPorts() override
    {
        close();
        if (seq_ != nullptr)
            snd_seq_close(seq_);
        if (stopFd_ >= 0)
            ::close(stopFd_);
    }

    std::string open(const std::string &clientName);

    bool send(const ShortMessage &message) override;
    void close() override;
    MidiPortNames names() const override { return names_; }

private:
    void read();
    // False once the input has failed for good.
    bool drain();
    void handle(const snd_seq_event_t &event);

    MidiPortsListener &listener_;
    MidiPortNames names_;
    snd_seq_t *seq_ = nullptr;
    int client_ = -1;
    int out_ = -1;
    int in_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
    std::mutex seqMutex_; // every call on seq_ once the reader runs
    bool closed_ = false;
};

std::string AlsaMidiPorts::open(const std::string &clientName)
{
    // Non-blocking, so that a full sequencer queue refuses a message rather
    // than holding up the caller, and so that reading stops when there is
    // nothing left.
    int err = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (err < 0) {
        seq_ = nullptr;
        return std::string("the ALSA sequencer could not be opened: ") + snd_strerror(err);
    }
    snd_seq_set_client_name(seq_, clientName.c_str());
    client_ = snd_seq_client_id(seq_);
    out_ = snd_seq_create_simple_port(seq_, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, kPortType);
    in_ = snd_seq_create_simple_port(seq_, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, kPortType);
    if (client_ < 0 || out_ < 0 || in_ < 0)
        return "the ALSA sequencer refused the MIDI ports";
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (stopFd_ < 0)
        return "no event descriptor for the ALSA MIDI input";
    names_ = MidiPortNames{MidiSystem::AlsaSequencer, clientName, clientName + ":out", clientName + ":in"};
    thread_ = std::thread([this] { read(); });
    return {};
}

bool AlsaMidiPorts::send(const ShortMessage &message)
{
    snd_seq_event_t event = toAlsaEvent(message);
    snd_seq_ev_set_source(&event, out_);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    std::lock_guard lock(seqMutex_);
    return !closed_ && snd_seq_event_output_direct(seq_, &event) >= 0;
}

void AlsaMidiPorts::read()
{
    std::vector<pollfd> fds;
    {
        std::lock_guard lock(seqMutex_);
        const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
        fds.resize(1 + std::max(count, 0));
        snd_seq_poll_descriptors(seq_, fds.data() + 1, count, POLLIN);
    }
    fds[0] = pollfd{stopFd_, POLLIN, 0};
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents != 0)
            return;
        bool failed = false;
        for (std::size_t i = 1; i < fds.size(); ++i)
            failed = failed || (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        if (!drain() || failed)
            break;
    }
    listener_.midiSenderLost();
    listener_.midiInputStopped();
}

bool AlsaMidiPorts::drain()
{
    for (;;) {
        // The event lives in the handle's input buffer until the next call;
        // a copy is handled outside the lock. Only fixed-size events are
        // read from it, so the copy needs none of the buffer.
        snd_seq_event_t copy{};
        bool got = false;
        int result;
        {
            std::lock_guard lock(seqMutex_);
            snd_seq_event_t *event = nullptr;
            result = snd_seq_event_input(seq_, &event);
            if (result >= 0 && event != nullptr) {
                copy = *event;
                got = true;
            }
        }
        if (result == -EAGAIN)
            return true;
        if (result == -ENOSPC) {
            // The sequencer dropped input it could not queue for us; a note
            // off may have been among it.
            listener_.midiSenderLost();
            continue;
        }
        if (result < 0)
            return false;
        if (got)
            handle(copy);
    }
}

void AlsaMidiPorts::handle(const snd_seq_event_t &event)
{
    if (event.type == SND_SEQ_EVENT_PORT_UNSUBSCRIBED) {
        const snd_seq_addr_t &dest = event.data.connect.dest;
        if (dest.client == client_ && dest.port == in_)
            listener_.midiSenderLost();
        return;
    }
    if (event.dest.port != in_)
        return;
    if (const auto message = fromAlsaEvent(event))
        listener_.midiReceived(*message);
}

void AlsaMidiPorts::close()
{
    {
        std::lock_guard lock(seqMutex_);
        if (closed_)
            return;
        closed_ = true;
    }
    // Direct events are with the subscribers already: nothing to drain.
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    if (seq_ != nullptr) {
        snd_seq_close(seq_);
        seq_ = nullptr;
    }
}

} // namespace

bool alsaSequencerPresent()
{
    return access("/dev/snd/seq", F_OK) == 0;
}

OpenedMidiPorts openAlsaMidiPorts(const std::string &clientName, MidiPortsListener &listener)
{
    OpenedMidiPorts opened;
    if (!alsaSequencerPresent())
        return opened;
    QuietLibraries quiet;
    auto ports = std::make_unique<AlsaMidiPorts>(listener);
    opened.error = ports->open(clientName);
    if (opened.error.empty())
        opened.ports = std::move(ports);
    return opened;
}

OpenedMidiPorts openMidiPorts(const MidiPortOptions &options, MidiPortsListener &listener)
{
    using Systems = MidiPortOptions::Systems;
    switch (options.systems) {
    case Systems::None:
        return {};
    case Systems::AlsaSequencer:
        return openAlsaMidiPorts(options.clientName, listener);
    case Systems::Jack:
        return openJackMidiPorts(options.clientName, listener);
    case Systems::Automatic:
        break;
    }
    OpenedMidiPorts alsa = openAlsaMidiPorts(options.clientName, listener);
    if (alsa.ports)
        return alsa;
    OpenedMidiPorts jack = openJackMidiPorts(options.clientName, listener);
    if (!jack.ports && jack.error.empty())
        jack.error = alsa.error; // the sequencer was there and failed
    return jack;
}

} // namespace tastavia::korvalink
