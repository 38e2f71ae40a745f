// Note to first sound, measured from outside the program. A measuring JACK
// client, latency-keys, writes middle C at velocity 100 into the program's
// MIDI input at the first frame of a cycle, holds it 100 ms and lets go;
// the next note waits until the output has been silent for 100 ms. Each
// note counts from that frame, when it entered the program, to the first
// sample with |x| > 1e-3 on either channel at the sound server's output.
//
//   - JACK: the synthesizer plays on JACK (no PulseAudio is reachable and
//     there is no ALSA device), so both ends are in one graph: a second
//     client, latency-ears, reads the synth's output ports, and the frames
//     between the two are counted.
//   - PulseAudio: the MIDI ports are on JACK and the clocks differ, so the
//     figure is wall time. The note's time is the monotonic clock as
//     latency-keys wrote it. The sink's monitor is recorded through
//     libpulse, and a sample reaches the sink's output when it was read
//     less the record stream's latency, negative for a monitor while the
//     sample has yet to be played. The sink's own latency is part of that
//     and is shown apart, as the server reports it.
//   - PipeWire: the MIDI ports are on PipeWire's JACK and the sound on
//     pipewire-pulse, one graph again: latency-ears reads the sink's
//     monitor ports and frames are counted as on JACK.
//
// Underruns over the measured notes: on JACK the xruns the server reports
// to latency-keys, and those its log blames on a late client; on
// PulseAudio the daemon's debug log, which says "underrun of '<stream>'"
// each time a stream runs dry; on PipeWire pipewire-pulse's, which names
// every cycle a stream could not fill, and says "STARTED" once it plays
// again.
#include "Latency.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <pulse/pulseaudio.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tastavia::bench {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int Notes = 200;
constexpr std::size_t WarmUpNotes = 5;
constexpr float Audible = 1e-3f;
constexpr auto Hold = 100ms;
constexpr double SilenceMs = 100;
constexpr unsigned char NoteOn[3] = {0x90, 60, 100};
constexpr unsigned char NoteOff[3] = {0x80, 60, 64};
constexpr const char *Fluidsynth = "/usr/bin/fluidsynth";
// A row that could not measure says why in its line; any other failure is
// its servers'.
constexpr int RowFailed = 3;
// Tastavia asks PulseAudio for one target buffer of 384 frames; fluidsynth's
// target buffer is one period, and it takes no fewer than two periods.
constexpr const char *FluidsynthPulseBuffer = "-o audio.period-size=384 -o audio.periods=2";

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size() - 1) + 0.5))];
}

void forEachLine(const std::string &path, const std::function<void(const std::string &)> &f)
{
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        f(line);
}

long countLines(const std::string &path, const char *text)
{
    long n = 0;
    forEachLine(path, [&](const std::string &line) { n += line.find(text) != std::string::npos ? 1 : 0; });
    return n;
}

// When a note entered the program: the first frame of the cycle that wrote
// it, and the monotonic clock as that cycle wrote it.
struct Mark {
    jack_nframes_t frame = 0;
    std::int64_t ns = 0;
};

class Listener {
public:
    virtual ~Listener() = default;
    // The output is silent: the next audible sample belongs to the next note.
    virtual void arm() = 0;
    // From the note to its first audible sample, once that has been heard.
    virtual std::optional<double> onsetMs(const Mark &note) = 0;
    // The silence heard since the last audible sample.
    virtual double quietMs() = 0;
};

// ---- on JACK ----

std::vector<std::string> jackPorts(jack_client_t *client, const std::string &pattern, const char *type,
                                   unsigned long flags)
{
    std::vector<std::string> names;
    if (const char **ports = jack_get_ports(client, pattern.c_str(), type, flags)) {
        for (const char **port = ports; *port; ++port)
            names.emplace_back(*port);
        jack_free(ports);
    }
    return names;
}

class Keys {
public:
    ~Keys()
    {
        if (client_)
            jack_client_close(client_);
    }

    std::string open()
    {
        client_ = jack_client_open("latency-keys", JackNoStartServer, nullptr);
        if (!client_)
            return "no JACK server answers";
        port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &Keys::process, this);
        jack_set_xrun_callback(client_, &Keys::xrun, this);
        return port_ && jack_activate(client_) == 0 ? "" : "JACK refused latency-keys";
    }

    jack_client_t *client() const { return client_; }
    bool connectTo(const std::string &port) { return jack_connect(client_, jack_port_name(port_), port.c_str()) == 0; }
    long xruns() const { return xruns_.load(); }

    // Nothing when no cycle took the message within a second.
    std::optional<Mark> send(const unsigned char (&message)[3])
    {
        std::memcpy(message_, message, sizeof message_);
        const unsigned ticket = asked_.load() + 1;
        asked_.store(ticket, std::memory_order_release);
        for (const auto deadline = Clock::now() + 1s; written_.load(std::memory_order_acquire) != ticket;) {
            if (Clock::now() > deadline)
                return std::nullopt;
            std::this_thread::sleep_for(100us);
        }
        return Mark{frame_.load(), ns_.load()};
    }

private:
    static int xrun(void *self)
    {
        static_cast<Keys *>(self)->xruns_.fetch_add(1);
        return 0;
    }

    static int process(jack_nframes_t frames, void *self)
    {
        auto *keys = static_cast<Keys *>(self);
        void *buffer = jack_port_get_buffer(keys->port_, frames);
        jack_midi_clear_buffer(buffer);
        const unsigned ticket = keys->asked_.load(std::memory_order_acquire);
        if (ticket == keys->written_.load(std::memory_order_relaxed))
            return 0;
        if (jack_midi_data_t *event = jack_midi_event_reserve(buffer, 0, sizeof keys->message_)) {
            std::memcpy(event, keys->message_, sizeof keys->message_);
            keys->frame_.store(jack_last_frame_time(keys->client_));
            keys->ns_.store(monotonicNs());
            keys->written_.store(ticket, std::memory_order_release);
        }
        return 0;
    }

    jack_client_t *client_ = nullptr;
    jack_port_t *port_ = nullptr;
    unsigned char message_[3] = {};
    std::atomic<unsigned> asked_{0}, written_{0};
    std::atomic<jack_nframes_t> frame_{0};
    std::atomic<std::int64_t> ns_{0};
    std::atomic<long> xruns_{0};
};

class JackEars final : public Listener {
public:
    ~JackEars() override
    {
        if (client_)
            jack_client_close(client_);
    }

    std::string open()
    {
        client_ = jack_client_open("latency-ears", JackNoStartServer, nullptr);
        if (!client_)
            return "no JACK server answers";
        left_ = jack_port_register(client_, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        right_ = jack_port_register(client_, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        rate_ = jack_get_sample_rate(client_);
        jack_set_process_callback(client_, &JackEars::process, this);
        return left_ && right_ && jack_activate(client_) == 0 ? "" : "JACK refused latency-ears";
    }

    bool listenTo(const std::vector<std::string> &sources)
    {
        return jack_connect(client_, sources[0].c_str(), jack_port_name(left_)) == 0
            && jack_connect(client_, sources[1].c_str(), jack_port_name(right_)) == 0;
    }

    void arm() override
    {
        heard_.store(false);
        armed_.store(true, std::memory_order_release);
    }
    std::optional<double> onsetMs(const Mark &note) override
    {
        if (!heard_.load(std::memory_order_acquire))
            return std::nullopt;
        return 1000.0 * std::int32_t(onset_.load() - note.frame) / rate_;
    }
    double quietMs() override { return 1000.0 * std::int32_t(now_.load() - lastAudible_.load()) / rate_; }

private:
    static int process(jack_nframes_t frames, void *self)
    {
        auto *ears = static_cast<JackEars *>(self);
        const auto *left = static_cast<const float *>(jack_port_get_buffer(ears->left_, frames));
        const auto *right = static_cast<const float *>(jack_port_get_buffer(ears->right_, frames));
        const jack_nframes_t first = jack_last_frame_time(ears->client_);
        // Silence counts from the first cycle heard.
        if (!ears->started_.exchange(true))
            ears->lastAudible_.store(first);
        for (jack_nframes_t i = 0; i < frames; ++i) {
            if (std::fabs(left[i]) <= Audible && std::fabs(right[i]) <= Audible)
                continue;
            ears->lastAudible_.store(first + i);
            if (ears->armed_.exchange(false, std::memory_order_acquire)) {
                ears->onset_.store(first + i);
                ears->heard_.store(true, std::memory_order_release);
            }
        }
        ears->now_.store(first + frames);
        return 0;
    }

    jack_client_t *client_ = nullptr;
    jack_port_t *left_ = nullptr, *right_ = nullptr;
    double rate_ = 48000;
    std::atomic<bool> started_{false}, armed_{false}, heard_{false};
    std::atomic<jack_nframes_t> onset_{0}, lastAudible_{0}, now_{0};
};

// ---- on PulseAudio: the sink's own latency, and its monitor ----

class PulseEars final : public Listener {
public:
    ~PulseEars() override
    {
        if (loop_)
            pa_threaded_mainloop_stop(loop_);
        if (stream_)
            pa_stream_unref(stream_);
        if (context_)
            pa_context_unref(context_);
        if (loop_)
            pa_threaded_mainloop_free(loop_);
    }

    // With capture, records the monitor of the sink "out" too.
    std::string open(bool capture)
    {
        if (!(loop_ = pa_threaded_mainloop_new()))
            return "out of memory";
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "latency-ears");
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0
            || pa_threaded_mainloop_start(loop_) < 0)
            return "no PulseAudio server answers";
        Locked locked(loop_);
        if (!wait([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }))
            return "no PulseAudio server answers";
        if (!capture)
            return {};
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, 48000, 2};
        if (!(stream_ = pa_stream_new(context_, "latency-ears", &spec, nullptr)))
            return "PulseAudio refused a record stream";
        pa_stream_set_read_callback(stream_, &PulseEars::onRead, this);
        // A sample's time comes from the stream's timing, however late it
        // arrives. Fragments of a few milliseconds would have the sink, which
        // serves its monitor too, keep that little latency and change what
        // is measured: 2.9 ms where Tastavia alone gets 4.
        const pa_buffer_attr attr{std::uint32_t(-1), std::uint32_t(-1), std::uint32_t(-1), std::uint32_t(-1),
                                  std::uint32_t(pa_usec_to_bytes(20000, &spec))};
        // At the sink's own rate, with no resampler in between.
        const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_FIX_RATE);
        if (pa_stream_connect_record(stream_, "out.monitor", &attr, flags) < 0
            || !wait([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; }))
            return "cannot record the monitor of the sink \"out\"";
        rate_ = pa_stream_get_sample_spec(stream_)->rate;
        return {};
    }

    // The sink's own latency as the server reports it, and its format.
    std::optional<double> sinkLatencyMs(std::string &format)
    {
        Locked locked(loop_);
        sinkLatencyUs_ = -1;
        pa_operation *asking = pa_context_get_sink_info_by_name(context_, "out", &PulseEars::onSink, this);
        if (!asking)
            return std::nullopt;
        wait([asking] { return pa_operation_get_state(asking) != PA_OPERATION_RUNNING; });
        pa_operation_unref(asking);
        format = sinkFormat_;
        return sinkLatencyUs_ < 0 ? std::nullopt : std::optional<double>(sinkLatencyUs_ / 1000);
    }

    void arm() override
    {
        Locked locked(loop_);
        armed_ = true;
        onsetNs_.reset();
    }
    std::optional<double> onsetMs(const Mark &note) override
    {
        Locked locked(loop_);
        return onsetNs_ ? std::optional<double>(double(*onsetNs_ - note.ns) / 1e6) : std::nullopt;
    }
    double quietMs() override
    {
        Locked locked(loop_);
        return 1000.0 * double(received_ - lastAudible_) / rate_;
    }

private:
    struct Locked {
        explicit Locked(pa_threaded_mainloop *loop) : loop(loop) { pa_threaded_mainloop_lock(loop); }
        ~Locked() { pa_threaded_mainloop_unlock(loop); }
        pa_threaded_mainloop *loop;
    };

    // With the loop locked; lets it run in between.
    bool wait(const std::function<bool()> &done)
    {
        for (const auto deadline = Clock::now() + 5s; !done();) {
            if (Clock::now() > deadline || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
                return false;
            pa_threaded_mainloop_unlock(loop_);
            std::this_thread::sleep_for(1ms);
            pa_threaded_mainloop_lock(loop_);
        }
        return true;
    }

    static void onSink(pa_context *, const pa_sink_info *info, int eol, void *self)
    {
        auto *ears = static_cast<PulseEars *>(self);
        if (eol || !info)
            return;
        ears->sinkLatencyUs_ = double(info->latency);
        char format[PA_SAMPLE_SPEC_SNPRINT_MAX];
        ears->sinkFormat_ = pa_sample_spec_snprint(format, sizeof format, &info->sample_spec);
    }

    static void onRead(pa_stream *stream, std::size_t, void *self)
    {
        auto *ears = static_cast<PulseEars *>(self);
        const void *data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
            const std::size_t frames = bytes / (2 * sizeof(float));
            // Until the drop, the latency is that of this fragment's first sample.
            pa_usec_t latency = 0;
            int negative = 0;
            const bool timed = pa_stream_get_latency(stream, &latency, &negative) == 0;
            const std::int64_t firstNs = monotonicNs() - (negative ? -1 : 1) * std::int64_t(latency) * 1000;
            const auto *samples = static_cast<const float *>(data);
            for (std::size_t i = 0; samples && i < frames; ++i) {
                if (std::fabs(samples[2 * i]) <= Audible && std::fabs(samples[2 * i + 1]) <= Audible)
                    continue;
                ears->lastAudible_ = ears->received_ + i;
                // An onset that cannot be timed is left out rather than taken late.
                if (std::exchange(ears->armed_, false) && timed)
                    ears->onsetNs_ = firstNs + std::int64_t(1e9 * double(i) / ears->rate_);
            }
            ears->received_ += frames;
            pa_stream_drop(stream);
        }
    }

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
    double rate_ = 48000;
    // Guarded by the loop's lock.
    double sinkLatencyUs_ = -1;
    std::string sinkFormat_;
    bool armed_ = false;
    std::optional<std::int64_t> onsetNs_;
    std::uint64_t received_ = 0, lastAudible_ = 0;
};

// ---- the servers' logs ----

// The daemon runs at its default log level, writing where with-pulse.sh
// put it; its command line module turns the debug messages on and sends
// them to a file of ours.
std::string pulseDebugLog(const std::string &path)
{
    const char *runtime = std::getenv("PULSE_RUNTIME_PATH");
    if (!runtime || std::system("pactl load-module module-cli-protocol-unix >/dev/null 2>&1") != 0)
        return "cannot reach the PulseAudio daemon's command line";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/cli", runtime);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const std::string commands = "set-log-target file:" + path + "\nset-log-level 4\n";
    const bool sent = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && write(fd, commands.data(), commands.size()) == ssize_t(commands.size());
    for (const auto deadline = Clock::now() + 5s; sent && access(path.c_str(), F_OK) != 0 && Clock::now() < deadline;)
        std::this_thread::sleep_for(10ms);
    close(fd);
    return access(path.c_str(), F_OK) == 0 ? "" : "the PulseAudio daemon did not open its debug log";
}

// A stream runs dry from its first cycle with too little data ("underrun
// read:") until it plays again ("STARTED"), and is told so once.
long pipewireUnderruns(const std::string &log)
{
    std::map<std::string, bool> dry; // by stream
    long n = 0;
    forEachLine(log, [&](const std::string &line) {
        if (const auto at = line.find(": ["); at != std::string::npos && line.find("] underrun read:", at) != std::string::npos) {
            const auto from = line.rfind(' ', at) + 1;
            n += std::exchange(dry[line.substr(from, at - from)], true) ? 0 : 1;
        } else if (const auto started = line.find(" STARTED "); started != std::string::npos) {
            const auto from = line.rfind("stream ", started) + 7;
            dry[line.substr(from, started - from)] = false;
        }
    });
    return n;
}

// ---- the program under test ----

class Program {
public:
    // Its input is a pipe held open until it is stopped: fluidsynth reads
    // commands from it and would end with it.
    Program(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
            const std::string &folder, const std::string &log)
    {
        int input[2];
        if (pipe(input) != 0)
            return;
        if ((pid_ = fork()) != 0) {
            close(input[0]);
            input_ = input[1];
            return;
        }
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(input[0], 0);
        dup2(out, 1);
        dup2(out, 2);
        for (const auto &[name, value] : env)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        if (chdir(folder.c_str()) == 0)
            execv(args[0], args.data());
        _exit(127);
    }

    ~Program()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            for (const auto deadline = Clock::now() + 5s; waitpid(pid_, nullptr, WNOHANG) == 0;) {
                if (Clock::now() > deadline)
                    kill(pid_, SIGKILL);
                std::this_thread::sleep_for(10ms);
            }
        }
        close(input_);
    }
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
    int input_ = -1;
};

// ---- one row ----

void row(const std::string &server, const std::string &program, const std::string &figures)
{
    const char *label = server == "jack" ? "JACK, dummy 48 kHz/128" : server == "pulse" ? "PulseAudio" : "PipeWire, quantum 128";
    std::printf("%-24s %-11s %s\n", label, program == "tastavia" ? "Tastavia" : program.c_str(), figures.c_str());
    std::fflush(stdout);
}

// The row's figures; throws std::runtime_error when there are none.
std::string measure(const std::string &server, const std::string &name, const std::string &folder)
{
    const auto check = [](const std::string &error) {
        if (!error.empty())
            throw std::runtime_error(error);
    };
    const bool tastavia = name == "tastavia", jack = server == "jack", pulse = server == "pulse";
    // A server's log is wherever its script sent its output.
    const char *jackPid = std::getenv("TASTAVIA_JACK_PID");
    const std::string jackLog = jackPid ? "/proc/" + std::string(jackPid) + "/fd/1" : "";
    std::map<std::string, std::string> env{{"HOME", folder}};
    std::function<long()> underruns;
    if (jack) {
        // No sound server and no sound card: the synthesizer has only JACK.
        env["PULSE_SERVER"] = "unix:/nonexistent";
    } else if (pulse) {
        const std::string log = folder + "/pulseaudio-" + name + ".log";
        check(pulseDebugLog(log));
        underruns = [log] { return countLines(log, " underrun of '"); };
    } else {
        // "running PIPEWIRE WIREPLUMBER PIPEWIRE-PULSE"
        std::ifstream state(std::getenv("TASTAVIA_SOUND_STATE") ? std::getenv("TASTAVIA_SOUND_STATE") : "");
        std::string word, pulsePid;
        state >> word >> word >> word >> pulsePid;
        check(pulsePid.empty() ? "TASTAVIA_SOUND_STATE names no pipewire-pulse" : "");
        underruns = [log = "/proc/" + pulsePid + "/fd/2"] { return pipewireUnderruns(log); };
    }

    Keys keys;
    JackEars jackEars;
    PulseEars pulseEars;
    check(keys.open());
    check(pulse ? "" : jackEars.open());
    check(jack ? "" : pulseEars.open(pulse));
    const double periodFrames = jack_get_buffer_size(keys.client());
    if (jack)
        underruns = [&keys] { return keys.xruns(); };
    Listener &ears = pulse ? static_cast<Listener &>(pulseEars) : jackEars;

    std::vector<std::string> argv{TASTAVIA_PROGRAM};
    if (!tastavia) {
        std::istringstream words(std::string("-g 1.0 -r 48000 -m jack -o midi.jack.id=fluidsynth ")
                                 + (jack ? "-a jack -o audio.jack.id=fluidsynth -o audio.jack.autoconnect=1"
                                         : std::string("-a pulseaudio ") + FluidsynthPulseBuffer)
                                 + " /usr/share/sounds/sf2/TimGM6mb.sf2");
        argv = {Fluidsynth};
        for (std::string word; words >> word;)
            argv.push_back(word);
        // What Tastavia's stream asks of PipeWire, which otherwise grants no
        // less than 16 ms; PulseAudio ignores it.
        env["PULSE_PROP_pulse.min.req"] = env["PULSE_PROP_pulse.min.quantum"] = "128/48000";
    }
    const std::string log = "latency-" + server + "-" + name + ".log";
    Program program(argv, env, folder, folder + "/" + log);
    const std::string input = tastavia ? "^Tastavia:in$" : "^fluidsynth:";
    const std::string output = !jack ? "^out:monitor_F[LR]$" : tastavia ? "^Tastavia:" : "^fluidsynth:";
    std::vector<std::string> inputs, outputs;
    for (const auto deadline = Clock::now() + 30s; inputs.empty() || (!pulse && outputs.size() < 2);) {
        check(program.running() && Clock::now() < deadline ? "" : name + " opened no JACK ports; see " + log);
        std::this_thread::sleep_for(50ms);
        inputs = jackPorts(keys.client(), input, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
        outputs = jackPorts(keys.client(), output, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    }
    check(keys.connectTo(inputs[0]) && (pulse || jackEars.listenTo(outputs)) ? "" : "cannot connect to " + name);

    std::minstd_rand random(1);
    std::vector<double> latencies, sinkMs;
    std::string sink;
    const auto play = [&] {
        for (const auto deadline = Clock::now() + 5s; ears.quietMs() < SilenceMs;) {
            check(Clock::now() < deadline ? "" : "the output never fell silent");
            std::this_thread::sleep_for(1ms);
        }
        // Off the beat of the servers' cycles.
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        ears.arm();
        const auto on = keys.send(NoteOn);
        check(on ? "" : "JACK ran no cycle for a second");
        const auto pressed = Clock::now();
        std::optional<double> ms;
        while (!(ms = ears.onsetMs(*on)) && Clock::now() - pressed < 1s)
            std::this_thread::sleep_for(200us);
        if (ms)
            latencies.push_back(*ms);
        if (const auto latency = jack ? std::nullopt : pulseEars.sinkLatencyMs(sink))
            sinkMs.push_back(*latency);
        std::this_thread::sleep_until(pressed + Hold);
        check(keys.send(NoteOff) ? "" : "JACK ran no cycle for a second");
    };

    // The program may still be setting up, and libpulse's timing of the
    // recording settles over its first seconds.
    for (int tries = 0; latencies.size() < WarmUpNotes; ++tries) {
        check(tries < 3 * int(WarmUpNotes) ? "" : name + " played no sound");
        play();
    }
    latencies.clear();
    sinkMs.clear();
    const long before = underruns(), lateBefore = countLines(jackLog, "JackEngine::XRun"), xrunsBefore = keys.xruns();
    for (int n = 1; n <= Notes; ++n) {
        play();
        if (n % 50 == 0)
            std::fprintf(stderr, "bench_desktop: latency on %s, %s: %d notes\n", server.c_str(), name.c_str(), n);
    }
    const double median = percentile(latencies, 0.5), p99 = percentile(latencies, 0.99);
    char text[256];
    if (jack)
        std::snprintf(text, sizeof text, "%.2f / %.2f ms = %.2f / %.2f periods; xruns: %ld, blamed on a client: %ld", median,
                      p99, median * 48 / periodFrames, p99 * 48 / periodFrames, underruns() - before,
                      countLines(jackLog, "JackEngine::XRun") - lateBefore);
    else if (pulse)
        std::snprintf(text, sizeof text, "%.2f / %.2f ms; underruns: %ld; sink %s, its latency %.2f ms", median, p99,
                      underruns() - before, sink.c_str(), percentile(sinkMs, 0.5));
    else
        // pipewire-pulse sees only its own streams run dry; the graph's
        // xruns, as PipeWire tells its JACK clients, cover PipeWire's own.
        std::snprintf(text, sizeof text, "%.2f / %.2f ms; underruns: %ld; graph xruns: %ld; sink %s, its latency %.2f ms",
                      median, p99, underruns() - before, keys.xruns() - xrunsBefore, sink.c_str(),
                      percentile(sinkMs, 0.5));
    return text + (latencies.size() == Notes ? "" : "; " + std::to_string(latencies.size()) + " timed");
}

} // namespace

void printLatencyTable(const std::string &folder)
{
    const std::string support = TASTAVIA_SOURCE_DIR "/tests/support/";
    const std::string withPipewire = support + "with-pipewire.sh";
    const std::vector<std::pair<const char *, std::string>> rows{
        {"jack", "'" + support + "with-jack.sh'"},
        {"pulse", "'" + support + "with-jack.sh' '" + support + "with-pulse.sh'"},
        // pipewire-pulse tells of a stream running dry only at debug level.
        {"pipewire", "PIPEWIRE_DEBUG=mod.protocol-pulse:4 '" + withPipewire + "' --jack"},
    };
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    self[std::max<ssize_t>(length, 0)] = '\0';
    std::printf("\nnote to first sound (|x| > 1e-3 at the server's output), %d notes each: median / p99\n", Notes);
    for (const auto &[server, wrapper] : rows) {
        for (const char *program : {"tastavia", "fluidsynth"}) {
            std::fflush(stdout);
            if (server == std::string("pipewire") && access(withPipewire.c_str(), X_OK) != 0)
                row(server, program, "tests/support/with-pipewire.sh is missing");
            else if (program == std::string("fluidsynth") && access(Fluidsynth, X_OK) != 0)
                row(server, program, "not installed");
            else if (const int status = std::system((wrapper + " '" + self + "' --latency-row " + server + " "
                                                     + program + " '" + folder + "'").c_str());
                     !WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != RowFailed))
                row(server, program, "its servers failed; see the messages above");
        }
    }
    std::fflush(stdout);
    std::printf("notes: middle C at velocity 100, held 100 ms, the next once 100 ms of silence were heard;\n"
                "each from the first frame of the JACK cycle that wrote it into the program's MIDI input.\n"
                "JACK and PipeWire count frames in one graph (PipeWire: at the sink's monitor ports);\n"
                "PulseAudio times the sink's monitor by the record stream's latency, the sink's own included.\n"
                "xruns: as JACK reports them to a client, and those jackd's log blames on a late client;\n"
                "underruns: PulseAudio's and pipewire-pulse's debug logs, once each time a stream ran dry.\n"
                "fluidsynth -g 1.0 (Tastavia's gain at full volume) -m jack, and -a jack on JACK; elsewhere\n"
                "-a pulseaudio %s, the 384-frame target buffer Tastavia asks\n"
                "for, with the same smallest request as Tastavia's stream (PULSE_PROP_pulse.min.req=128/48000).\n",
                FluidsynthPulseBuffer);
    std::fflush(stdout);
    std::system("fluidsynth --version 2>/dev/null | head -n 1");
}

int latencyRow(int argc, char **argv)
{
    const std::string server = argc == 5 ? argv[2] : "";
    if (server != "jack" && server != "pulse" && server != "pipewire") {
        std::fprintf(stderr, "usage: %s --latency-row jack|pulse|pipewire tastavia|fluidsynth FOLDER\n", argv[0]);
        return 2;
    }
    try {
        row(server, argv[3], measure(server, argv[3], argv[4]));
        return 0;
    } catch (const std::exception &failure) {
        row(server, argv[3], failure.what());
        return RowFailed;
    }
}

} // namespace tastavia::bench
