// MIDI ports on a running JACK server: one client with an "out" and an "in"
// port.
//
// JACK hands MIDI over only inside its real-time process callback, which
// must neither lock nor wait. So the two directions go through lock-free
// ring buffers: messages to send wait in one until the next cycle writes
// them to the output port; messages received are copied into the other,
// and a thread of ours hands them to the listener. That thread also learns,
// in order with the messages, when a connection into the input went away,
// so that notes it left held are released after, never before, the last
// message it sent.
//
// When the ports carry the synth's audio, the messages received in a cycle
// are handed to the listener inside that cycle, before its audio is
// rendered, so that a note sounds in the period it arrives in: a second
// client for the audio would run before or after this one as the server
// pleases, and a note handed over through our thread sounded one period
// late. The listener then runs on the real-time thread; playing a note on
// FluidSynth takes its lock there, as FluidSynth's own MIDI driver does.
//
// When the server goes away the ports keep their queues, their thread and
// their listener; the client alone is closed and, once a server runs
// again, opened anew under the same name.
#include "MidiPorts.h"

#include "JackServer.h"
#include "QuietLibraries.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <semaphore.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace tastavia::korvalink {

namespace {

// About two seconds of a fast player's chords either way; a full queue
// costs messages, never a stuck note (see Record::Lost).
constexpr std::size_t kOutRingBytes = 16 * 1024;
constexpr std::size_t kInRingRecords = 4096;

// How long closing waits for queued messages to leave. A cycle is a few
// milliseconds; a server that takes longer than this hangs, and libjack
// would wait for its answer to the closing for good: the client is left to
// it instead.
constexpr auto kDrainTimeout = std::chrono::milliseconds(300);

// Instances of the program that may have ports on one server at a time.
constexpr int kMaxInstances = 16;

// What travels from the process callback to our thread, four bytes each.
struct Record {
    enum Tag : std::uint8_t { Message2 = 2, Message3 = 3, SenderLost = 0xF0 };
    std::uint8_t tag;
    std::uint8_t bytes[3];
};

struct RingDeleter {
    void operator()(jack_ringbuffer_t *ring) const { jack_ringbuffer_free(ring); }
};
using RingPtr = std::unique_ptr<jack_ringbuffer_t, RingDeleter>;

class JackMidiPorts final : public MidiPorts {
public:
    explicit JackMidiPorts(MidiPortsListener &listener)
        : listener_(listener)
    {
        sem_init(&wake_, 0, 0);
    }

    ~JackMidiPorts() override
    {
        close();
        sem_destroy(&wake_);
    }

    std::string open(const std::string &clientName);

    bool send(const ShortMessage &message) override;
    void close() override;
    MidiPortNames names() const override
    {
        std::lock_guard lock(namesMutex_);
        return names_;
    }
    bool serverGone() const override { return serverGone_.load(std::memory_order_acquire); }
    bool abandoned() const override { return abandoned_; }
    void release() override;
    bool reopen() override;
    bool carryAudio(AudioRender render, void *data) override;

private:
    // Opens the client and registers the ports, not yet active. An empty
    // answer with no client means no server runs, or none answers.
    std::string openClient();
    void closeClient();
    bool nameHeldElsewhere(const std::string &name) const;
    static int process(jack_nframes_t frames, void *self);
    static void shutdown(jack_status_t, const char *, void *self);
    static void serverLost(void *self) { shutdown(jack_status_t{}, nullptr, self); }
    void writeOutput(jack_nframes_t frames);
    void readInput(jack_nframes_t frames);
    void renderAudio(jack_nframes_t frames);
    bool registerAudio();
    void connectAudio();
    bool push(const Record &record);
    void tell(const Record &record);
    void deliver();
    // False when the server ran no cycle in time: it hangs.
    bool waitForDrain();

    MidiPortsListener &listener_;
    QuietJack quiet_;
    std::string clientName_;
    mutable std::mutex namesMutex_;
    MidiPortNames names_;

    jack_client_t *client_ = nullptr;
    jack_port_t *out_ = nullptr;
    jack_port_t *in_ = nullptr;
    RingPtr outRing_;
    RingPtr inRing_;
    std::mutex sendMutex_; // one writer at a time into outRing_

    // The synth's audio, once carried; set before the client runs with it.
    AudioRender audioRender_ = nullptr;
    void *audioData_ = nullptr;
    jack_port_t *left_ = nullptr;
    jack_port_t *right_ = nullptr;
    std::atomic<bool> carrying_{false};
    // The real-time thread's reports and our thread's, one at a time.
    std::mutex listenerMutex_;

    // Process thread only.
    int connections_ = 0;
    bool pending_ = false;

    std::atomic<bool> lost_{false}; // an input record did not fit
    std::atomic<bool> serverGone_{false};
    // The listener has heard of the server's going. A new client waits for
    // it, or the notes the input held would never be released.
    std::atomic<bool> stopTold_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> cycles_{0};
    sem_t wake_;
    std::thread thread_;
    bool active_ = false;
    bool closed_ = false;
    bool abandoned_ = false;
};

std::string JackMidiPorts::open(const std::string &clientName)
{
    clientName_ = clientName;
    outRing_.reset(jack_ringbuffer_create(kOutRingBytes));
    inRing_.reset(jack_ringbuffer_create(kInRingRecords * sizeof(Record)));
    if (!outRing_ || !inRing_)
        return "out of memory for the JACK MIDI queues";
    jack_ringbuffer_mlock(outRing_.get());
    jack_ringbuffer_mlock(inRing_.get());

    std::string error = openClient();
    if (client_ == nullptr || !error.empty())
        return error;
    thread_ = std::thread([this] { deliver(); });
    if (jack_activate(client_) != 0)
        return "the JACK server did not start the MIDI client";
    active_ = true;
    return {};
}

std::string JackMidiPorts::openClient()
{
    // A server that does not answer would hold the open for good.
    if (!jackServerAnswers())
        return {};
    // The plain name if it is free; a second instance gets "-01", as JACK 2
    // itself would name it, and so on. Each name is asked for exactly: JACK 2
    // refuses a taken one (with a server error rather than
    // JackNameNotUnique), PipeWire's libjack grants it and must be caught
    // at it (nameHeldElsewhere).
    jack_status_t status{};
    for (int instance = 0; instance < kMaxInstances && client_ == nullptr; ++instance) {
        char suffix[8] = "";
        if (instance > 0)
            std::snprintf(suffix, sizeof suffix, "-%02d", instance);
        client_ = jack_client_open((clientName_ + suffix).c_str(), JackOptions(JackNoStartServer | JackUseExactName),
                                   &status);
        if (client_ == nullptr && (status & JackServerFailed) != 0)
            return {};
        if (client_ != nullptr && nameHeldElsewhere(clientName_ + suffix)) {
            jack_client_close(client_);
            client_ = nullptr;
        }
    }
    if (client_ == nullptr)
        return "the JACK server refused a MIDI client";

    out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (out_ == nullptr || in_ == nullptr)
        return "JACK refused the MIDI ports";
    if (audioRender_ != nullptr && !registerAudio())
        return "JACK refused the audio ports";
    {
        std::lock_guard lock(namesMutex_);
        names_ = MidiPortNames{MidiSystem::Jack, jack_get_client_name(client_), jack_port_name(out_),
                               jack_port_name(in_)};
    }
    jack_set_process_callback(client_, &JackMidiPorts::process, this);
    // JACK 2 tells of a lost server through the first, PipeWire's libjack
    // only through the second; either one flags it, and twice is harmless.
    jack_on_info_shutdown(client_, &JackMidiPorts::shutdown, this);
    jack_on_shutdown(client_, &JackMidiPorts::serverLost, this);
    return {};
}

// PipeWire's libjack grants an exact name that is taken, renames the client
// in the graph behind our back ("Tastavia-44") and still answers the name
// asked for; the ports of another client under that name give it away.
bool JackMidiPorts::nameHeldElsewhere(const std::string &name) const
{
    std::string pattern = "^";
    for (const char c : name) {
        if (std::strchr(".[]{}()\\*+?|^$", c) != nullptr)
            pattern += '\\';
        pattern += c;
    }
    pattern += ':';
    const char **ports = jack_get_ports(client_, pattern.c_str(), nullptr, 0);
    const bool held = ports != nullptr && ports[0] != nullptr;
    jack_free(ports);
    return held;
}

void JackMidiPorts::closeClient()
{
    if (client_ == nullptr)
        return;
    // Closing a client whose server died is still the way to free it;
    // libjack only complains, and quietly so.
    jack_client_close(client_);
    client_ = nullptr;
    out_ = nullptr;
    in_ = nullptr;
    left_ = nullptr;
    right_ = nullptr;
    active_ = false;
}

void JackMidiPorts::release()
{
    if (serverGone_.load(std::memory_order_acquire))
        closeClient();
}

bool JackMidiPorts::reopen()
{
    if (!serverGone_.load(std::memory_order_acquire))
        return true;
    if (!stopTold_.load(std::memory_order_acquire))
        return false;
    {
        std::lock_guard lock(sendMutex_);
        if (closed_)
            return false;
    }
    // A dead client left open would be freed behind our back by the next
    // one libjack opens in this process: it goes first.
    closeClient();
    if (!openClient().empty() || client_ == nullptr) {
        closeClient();
        return false;
    }
    {
        // Whatever was queued for the old server's receivers is stale; the
        // process callback, the only reader, does not run yet.
        std::lock_guard lock(sendMutex_);
        jack_ringbuffer_reset(outRing_.get());
    }
    connections_ = 0;
    pending_ = false;
    lost_.store(false, std::memory_order_release);
    // In this order, so that the thread never sees a gone server as untold.
    serverGone_.store(false, std::memory_order_release);
    stopTold_.store(false, std::memory_order_release);
    if (jack_activate(client_) != 0) {
        stopTold_.store(true, std::memory_order_release);
        serverGone_.store(true, std::memory_order_release);
        closeClient();
        return false;
    }
    active_ = true;
    if (audioRender_ != nullptr)
        connectAudio();
    return true;
}

bool JackMidiPorts::carryAudio(AudioRender render, void *data)
{
    if (client_ == nullptr || render == nullptr || serverGone_.load(std::memory_order_acquire))
        return false;
    audioRender_ = render;
    audioData_ = data;
    if (!registerAudio()) {
        audioRender_ = nullptr;
        return false;
    }
    carrying_.store(true, std::memory_order_release);
    connectAudio();
    return true;
}

bool JackMidiPorts::registerAudio()
{
    left_ = jack_port_register(client_, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    right_ = jack_port_register(client_, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (left_ != nullptr && right_ != nullptr)
        return true;
    for (jack_port_t *port : {left_, right_})
        if (port != nullptr)
            jack_port_unregister(client_, port);
    left_ = right_ = nullptr;
    return false;
}

// Unconnected, nothing would be heard: the first two playback ports take
// the two sides, a single one takes both.
void JackMidiPorts::connectAudio()
{
    const char **playback =
        jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    if (playback != nullptr && playback[0] != nullptr) {
        jack_connect(client_, jack_port_name(left_), playback[0]);
        jack_connect(client_, jack_port_name(right_), playback[playback[1] != nullptr ? 1 : 0]);
    }
    jack_free(playback);
}

bool JackMidiPorts::send(const ShortMessage &message)
{
    if (serverGone_.load(std::memory_order_acquire))
        return false;
    const auto bytes = message.bytes();
    char record[4] = {static_cast<char>(message.size()), static_cast<char>(bytes[0]),
                      static_cast<char>(bytes[1]), static_cast<char>(bytes[2])};
    const std::size_t length = 1 + message.size();
    std::lock_guard lock(sendMutex_);
    if (closed_ || jack_ringbuffer_write_space(outRing_.get()) < length)
        return false;
    jack_ringbuffer_write(outRing_.get(), record, length);
    return true;
}

int JackMidiPorts::process(jack_nframes_t frames, void *self)
{
    auto *ports = static_cast<JackMidiPorts *>(self);
    ports->writeOutput(frames);
    ports->readInput(frames);
    if (ports->carrying_.load(std::memory_order_acquire))
        ports->renderAudio(frames);
    ports->cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

void JackMidiPorts::writeOutput(jack_nframes_t frames)
{
    void *buffer = jack_port_get_buffer(out_, frames);
    jack_midi_clear_buffer(buffer);
    jack_ringbuffer_t *ring = outRing_.get();
    char record[4];
    while (jack_ringbuffer_peek(ring, record, 1) == 1) {
        const std::size_t size = static_cast<unsigned char>(record[0]);
        if (jack_ringbuffer_read_space(ring) < 1 + size)
            break; // cannot happen with one record written at a time; be safe
        jack_midi_data_t *event = jack_midi_event_reserve(buffer, 0, size);
        if (event == nullptr)
            break; // the port's buffer is full this cycle: the rest goes in the next
        jack_ringbuffer_peek(ring, record, 1 + size);
        std::memcpy(event, record + 1, size);
        jack_ringbuffer_read_advance(ring, 1 + size);
    }
}

void JackMidiPorts::readInput(jack_nframes_t frames)
{
    void *buffer = jack_port_get_buffer(in_, frames);
    const jack_nframes_t count = jack_midi_get_event_count(buffer);
    for (jack_nframes_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0)
            continue;
        // System messages and anything malformed are dropped here.
        const auto message = ShortMessage::fromBytes(event.buffer, event.size);
        if (!message)
            continue;
        const auto bytes = message->bytes();
        push(Record{static_cast<std::uint8_t>(message->size()), {bytes[0], bytes[1], bytes[2]}});
    }
    if (jack_midi_get_lost_event_count(buffer) > 0)
        lost_.store(true, std::memory_order_release);

    // Reading the connection count here, between this cycle's messages and
    // the next, puts the loss exactly after the last message the sender
    // could have sent.
    const int connections = jack_port_connected(in_);
    if (connections >= 0) {
        if (connections < connections_)
            push(Record{Record::SenderLost, {0, 0, 0}});
        connections_ = connections;
    }
    if (pending_) {
        pending_ = false;
        sem_post(&wake_);
    }
}

void JackMidiPorts::renderAudio(jack_nframes_t frames)
{
    float *out[2] = {static_cast<float *>(jack_port_get_buffer(left_, frames)),
                     static_cast<float *>(jack_port_get_buffer(right_, frames))};
    for (float *side : out)
        std::fill_n(side, frames, 0.0f);
    audioRender_(audioData_, static_cast<int>(frames), 0, nullptr, 2, out);
}

bool JackMidiPorts::push(const Record &record)
{
    if (carrying_.load(std::memory_order_acquire)) {
        tell(record);
        return true;
    }
    jack_ringbuffer_t *ring = inRing_.get();
    if (jack_ringbuffer_write_space(ring) < sizeof record) {
        // A dropped note off would leave a note hanging; the flag has the
        // thread release what the input holds once it catches up.
        lost_.store(true, std::memory_order_release);
        pending_ = true;
        return false;
    }
    jack_ringbuffer_write(ring, reinterpret_cast<const char *>(&record), sizeof record);
    pending_ = true;
    return true;
}

void JackMidiPorts::shutdown(jack_status_t, const char *, void *self)
{
    // Only flags here: JACK forbids calling back into it from this callback.
    auto *ports = static_cast<JackMidiPorts *>(self);
    ports->serverGone_.store(true, std::memory_order_release);
    sem_post(&ports->wake_);
}

void JackMidiPorts::tell(const Record &record)
{
    std::lock_guard lock(listenerMutex_);
    if (record.tag == Record::SenderLost) {
        listener_.midiSenderLost();
        return;
    }
    if (const auto message = ShortMessage::fromBytes(record.bytes, record.tag))
        listener_.midiReceived(*message);
}

void JackMidiPorts::deliver()
{
    for (;;) {
        while (sem_wait(&wake_) != 0 && errno == EINTR) {
        }
        Record record;
        while (jack_ringbuffer_read(inRing_.get(), reinterpret_cast<char *>(&record), sizeof record) ==
               sizeof record)
            tell(record);
        if (lost_.exchange(false, std::memory_order_acq_rel))
            tell(Record{Record::SenderLost, {0, 0, 0}});
        if (serverGone_.load(std::memory_order_acquire) && !stopTold_.load(std::memory_order_acquire)) {
            std::lock_guard lock(listenerMutex_);
            listener_.midiSenderLost();
            listener_.midiInputStopped();
            stopTold_.store(true, std::memory_order_release);
        }
        if (stopping_.load(std::memory_order_acquire))
            return;
    }
}

bool JackMidiPorts::waitForDrain()
{
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + kDrainTimeout;
    // True once done, or once the server is gone and nothing can drain;
    // false when the deadline passes first.
    const auto waitUntil = [&](auto done) {
        while (!done()) {
            if (serverGone_.load(std::memory_order_acquire))
                return true;
            if (clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    };
    // Empty queue first, then two whole cycles, so that the cycle that took
    // the last message has handed it on to the receivers.
    if (!waitUntil([&] { return jack_ringbuffer_read_space(outRing_.get()) == 0; }))
        return false;
    const std::uint64_t seen = cycles_.load(std::memory_order_acquire);
    return waitUntil([&] { return cycles_.load(std::memory_order_acquire) >= seen + 2; });
}

void JackMidiPorts::close()
{
    {
        std::lock_guard lock(sendMutex_);
        if (closed_)
            return;
        closed_ = true;
    }
    if (client_ != nullptr && active_ && !serverGone_.load(std::memory_order_acquire)) {
        if (waitForDrain()) {
            jack_deactivate(client_);
        } else {
            abandoned_ = true;
            client_ = nullptr;
        }
    }
    closeClient();
    if (thread_.joinable()) {
        stopping_.store(true, std::memory_order_release);
        sem_post(&wake_);
        thread_.join();
    }
}

} // namespace

OpenedMidiPorts openJackMidiPorts(const std::string &clientName, MidiPortsListener &listener)
{
    QuietLibraries quiet;
    auto ports = std::make_unique<JackMidiPorts>(listener);
    const std::string error = ports->open(clientName);
    OpenedMidiPorts opened;
    if (error.empty() && !ports->names().client.empty())
        opened.ports = std::move(ports);
    else
        opened.error = error; // empty: no server runs, which is no failure
    return opened;
}

} // namespace tastavia::korvalink
