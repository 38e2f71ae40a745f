// bench_desktop: what Tastavia costs on a desktop, beside vmpk, in one table.
//
//   bench_desktop [--latency]
//
// Runs itself under tests/support/with-pulse.sh and with-x11.sh (Xvfb with
// openbox, a private PulseAudio with a null sink) and starts a private JACK
// server (dummy driver) for the rows that name it. Each program is started
// from a temporary folder holding Ad/ad01.avi, with that folder as HOME, so
// vmpk starts from its default settings. Measured the same way for both:
//   - start-up: exec to the main window viewable and painted (its pixels no
//     longer all one colour), median of 5 starts, with min and max;
//   - RSS and PSS (/proc/PID/smaps_rollup) 2 s after the window was painted,
//     without and with the JACK server; with JACK, PSS is the fair figure,
//     since JACK's shared segment belongs to the server;
//   - idle CPU over 20 s of doing nothing, from 10 s after start-up (the
//     advert clip's first pass is over by then), utime + stime of the whole
//     process as a share of one core, both programs running side by side;
//   - each program idling alone for 20 s, with the X server's own CPU over
//     the same span, so that no cost is only moved into the server; and
//     Tastavia alone again, minimised;
//   - the floor any JACK client pays: jack_midi_dump alone on the server;
//   - the floor any animation costs the X server: a bare client of ours
//     copying a held 340 x 28 picture into a window twenty times a second;
//   - the PulseAudio buffer the server granted the program's stream.
// And for Tastavia alone, inside this process on the real keyboard window
// and device library: pointer press to MidiInProc answered, and the fastest
// stream of incoming notes the window shows without falling behind.
// vmpk's column is left out, saying so, when vmpk is not installed.
// Last, note to first sound from outside the program, beside the fluidsynth
// command, on JACK, PulseAudio and PipeWire (Latency.cpp says how); with
// --latency, only that.
#include "Keyboard.h"
#include "Latency.h"
#include "Screen.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tastavia::bench::Screen;

namespace {

constexpr int Starts = 5;
constexpr auto Settle = 2s;
// Idle figures start once the advert clip's first pass (8 s) is over: from
// then on its pictures are held and nothing is decoded.
constexpr auto IdleSettle = 10s;
constexpr auto IdleSpan = 20s;
constexpr int Presses = 10000;
constexpr const char *JackServerName = "tastavia-bench";

struct Program {
    std::string name;
    std::string path;
    std::string title;
    int width = 0, height = 0; // 0: any size
};

struct Memory {
    long rssKiB = -1, pssKiB = -1;
};

struct Steady {
    Memory memory;
    double idleCpuPercent = -1;
    double bufferMs = -1, sinkMs = -1;
};

// A program idling on its own, and what the X server spent meanwhile.
struct Alone {
    double idleCpuPercent = -1;
    double serverCpuPercent = -1;
};

struct Figures {
    std::vector<double> startMs;
    Steady plain, jack;
    Alone alone, minimised;
    std::string note; // why a figure is missing
};

std::string runCommand(const std::string &command)
{
    std::string out;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

void progress(const std::string &text)
{
    static const auto begin = Clock::now();
    std::fprintf(stderr, "bench_desktop: %5.1f s: %s\n",
                 std::chrono::duration<double>(Clock::now() - begin).count(), text.c_str());
}

// ---- processes ----

pid_t launch(const std::vector<std::string> &argv, const std::string &directory, const std::string &log)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    if (chdir(directory.c_str()) != 0)
        _exit(127);
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// Children already reaped: their ids may belong to someone else by now.
std::vector<pid_t> reaped;

bool exited(pid_t pid)
{
    if (std::find(reaped.begin(), reaped.end(), pid) != reaped.end())
        return true;
    if (waitpid(pid, nullptr, WNOHANG) != pid)
        return false;
    reaped.push_back(pid);
    return true;
}

// Asks politely, as a session logout would, and insists after 5 s.
void stop(pid_t pid)
{
    if (exited(pid))
        return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + 5s;
    while (!exited(pid)) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            reaped.push_back(pid);
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
}

Memory memoryOf(pid_t pid)
{
    Memory memory;
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(rollup, line)) {
        if (line.rfind("Rss:", 0) == 0)
            memory.rssKiB = std::stol(line.substr(4));
        else if (line.rfind("Pss:", 0) == 0)
            memory.pssKiB = std::stol(line.substr(4));
    }
    return memory;
}

// utime + stime of every thread, in clock ticks.
long cpuTicks(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The name in parentheses may hold spaces; the fields count from after it.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

// CPU of a process over a span, as a share of one core.
class CpuSpan
{
public:
    explicit CpuSpan(pid_t pid) : pid_(pid), ticks_(cpuTicks(pid)), begin_(Clock::now()) {}
    double percent() const
    {
        const double seconds = std::chrono::duration<double>(Clock::now() - begin_).count();
        return 100.0 * double(cpuTicks(pid_) - ticks_) / sysconf(_SC_CLK_TCK) / seconds;
    }

private:
    pid_t pid_;
    long ticks_;
    Clock::time_point begin_;
};

// The command name and parent of a process, from /proc/PID/stat.
std::pair<std::string, pid_t> nameAndParent(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos)
        return {{}, 0};
    std::istringstream rest(stat.substr(close + 2));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    return {stat.substr(open + 1, close - open - 1), parent};
}

// The X server of this private desktop: the Xvfb that with-x11.sh, one of
// this process's ancestors, started (it names no display on its command
// line, as it picks a free one itself).
pid_t xServerPid()
{
    std::vector<pid_t> ancestors;
    for (pid_t pid = getppid(); pid > 1; pid = nameAndParent(pid).second)
        ancestors.push_back(pid);
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const auto [command, parent] = nameAndParent(pid_t(std::stol(name)));
        if (command == "Xvfb" && std::find(ancestors.begin(), ancestors.end(), parent) != ancestors.end())
            return pid_t(std::stol(name));
    }
    return 0;
}

// "Buffer Latency" and "Sink Latency" of each sink input, by the process id
// the client reported.
std::map<pid_t, std::pair<double, double>> pulseBuffers()
{
    std::map<pid_t, std::pair<double, double>> byPid;
    std::istringstream text(runCommand("pactl list sink-inputs 2>/dev/null"));
    std::string line;
    double buffer = -1, sink = -1;
    while (std::getline(text, line)) {
        if (line.rfind("Sink Input #", 0) == 0)
            buffer = sink = -1;
        else if (auto at = line.find("Buffer Latency:"); at != std::string::npos)
            buffer = std::stod(line.substr(at + 15)) / 1000;
        else if (auto at = line.find("Sink Latency:"); at != std::string::npos)
            sink = std::stod(line.substr(at + 13)) / 1000;
        else if (auto at = line.find("application.process.id = \""); at != std::string::npos)
            byPid[std::stoi(line.substr(at + 26))] = {buffer, sink};
    }
    return byPid;
}

// ---- the programs ----

class Run
{
public:
    Run(Screen &screen, const std::string &directory) : screen_(screen), directory_(directory) {}

    // Milliseconds from exec to the main window viewable and painted, with
    // the program left running; nothing when it did not get there in 30 s.
    std::optional<double> start(const Program &program, pid_t &pid)
    {
        const auto begin = Clock::now();
        pid = launch({program.path}, directory_, directory_ + "/" + program.name + ".log");
        while (Clock::now() - begin < 30s) {
            if (exited(pid))
                return std::nullopt;
            const auto window = screen_.viewableWindow(pid, program.title);
            if (window && (program.width == 0 || (window->width == program.width && window->height == program.height))
                && screen_.painted(*window))
                return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
            std::this_thread::sleep_for(2ms);
        }
        return std::nullopt;
    }

    // Starts every program side by side and measures them at rest; the
    // JACK ports they opened go to jackPorts when it is given.
    std::vector<Steady> steady(const std::vector<Program> &programs, std::string *jackPorts = nullptr)
    {
        std::vector<pid_t> pids(programs.size(), 0);
        for (std::size_t i = 0; i < programs.size(); ++i)
            start(programs[i], pids[i]);
        std::this_thread::sleep_for(Settle);
        if (jackPorts)
            *jackPorts = runCommand("jack_lsp 2>/dev/null | grep -v '^system:' | tr '\\n' ' '");
        std::vector<Steady> results(programs.size());
        const auto buffers = pulseBuffers();
        for (std::size_t i = 0; i < programs.size(); ++i) {
            results[i].memory = memoryOf(pids[i]);
            if (auto found = buffers.find(pids[i]); found != buffers.end())
                std::tie(results[i].bufferMs, results[i].sinkMs) = found->second;
        }
        std::this_thread::sleep_for(IdleSettle - Settle);
        std::vector<long> before;
        for (std::size_t i = 0; i < programs.size(); ++i)
            before.push_back(cpuTicks(pids[i]));
        const auto begin = Clock::now();
        std::this_thread::sleep_for(IdleSpan);
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        for (std::size_t i = 0; i < programs.size(); ++i) {
            if (!exited(pids[i]))
                results[i].idleCpuPercent = 100.0 * double(cpuTicks(pids[i]) - before[i]) / sysconf(_SC_CLK_TCK) / seconds;
            stop(pids[i]);
        }
        return results;
    }

    // Starts one program alone and measures it and the X server at rest,
    // minimised first when asked.
    Alone alone(const Program &program, bool minimised)
    {
        Alone result;
        pid_t pid = 0;
        if (!start(program, pid)) {
            stop(pid);
            return result;
        }
        if (minimised) {
            auto window = screen_.viewableWindow(pid, program.title);
            if (window)
                screen_.minimise(*window);
            const auto asked = Clock::now();
            while (screen_.viewableWindow(pid, program.title) && Clock::now() - asked < 3s)
                std::this_thread::sleep_for(10ms);
            if (!window || screen_.viewableWindow(pid, program.title)) {
                progress(program.name + " did not minimise");
                stop(pid);
                return result;
            }
        }
        std::this_thread::sleep_for(IdleSettle);
        const pid_t server = xServerPid();
        const CpuSpan ours(pid);
        const std::optional<CpuSpan> theirs = server ? std::optional<CpuSpan>(CpuSpan(server)) : std::nullopt;
        std::this_thread::sleep_for(IdleSpan);
        if (!exited(pid)) {
            result.idleCpuPercent = ours.percent();
            result.serverCpuPercent = theirs ? theirs->percent() : -1;
        }
        stop(pid);
        return result;
    }

private:
    Screen &screen_;
    std::string directory_;
};

// ---- JACK ----

class JackServer
{
public:
    explicit JackServer(const std::string &directory)
    {
        pid_ = launch({"/usr/bin/jackd", "-n", JackServerName, "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "128"},
                      directory, directory + "/jackd.log");
        const auto begin = Clock::now();
        while (Clock::now() - begin < 10s && !exited(pid_)) {
            if (std::system("jack_lsp >/dev/null 2>&1") == 0) {
                ready_ = true;
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
    }
    ~JackServer() { stop(pid_); }
    bool ready() const { return ready_; }

    // What any client of this server costs at rest: jack_midi_dump, one
    // MIDI input and nothing else, idling alone for the same span.
    double floorCpuPercent(const std::string &directory) const
    {
        const pid_t dump = launch({"/usr/bin/jack_midi_dump"}, directory, directory + "/jack_midi_dump.log");
        std::this_thread::sleep_for(IdleSettle);
        const CpuSpan span(dump);
        std::this_thread::sleep_for(IdleSpan);
        const double percent = exited(dump) ? -1 : span.percent();
        stop(dump);
        return percent;
    }

private:
    pid_t pid_;
    bool ready_ = false;
};

// ---- the table ----

std::string fixed(double value, int decimals)
{
    if (value < 0)
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string mib(long kib)
{
    return kib < 0 ? "-" : fixed(kib / 1024.0, 1) + " MiB";
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string startText(const std::vector<double> &ms)
{
    if (ms.size() < Starts)
        return "did not start";
    return fixed(median(ms), 0) + " ms (" + fixed(*std::min_element(ms.begin(), ms.end()), 0) + ".."
        + fixed(*std::max_element(ms.begin(), ms.end()), 0) + ")";
}

std::string bufferText(const Steady &steady)
{
    if (steady.bufferMs < 0)
        return "no stream";
    return fixed(steady.bufferMs, 1) + " ms + sink " + fixed(steady.sinkMs, 1) + " ms";
}

void row(const std::string &label, const std::string &ours, const std::string &theirs)
{
    std::printf("%-46s %-32s %s\n", label.c_str(), ours.c_str(), theirs.c_str());
}

std::string machine()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model = "unknown CPU";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    long memKiB = 0;
    meminfo >> key >> memKiB;
    utsname system{};
    uname(&system);
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, "
        + std::to_string((memKiB + (1 << 19)) >> 20) + " GiB, Linux " + system.release;
}

// Re-runs this program on a private desktop and sound server of its own.
void enterPrivateDesktop(int argc, char **argv)
{
    if (std::getenv("TASTAVIA_BENCH_COMMAND"))
        return;
    std::string command;
    for (int i = 0; i < argc; ++i)
        command += (i ? " " : "") + std::string(argv[i]);
    setenv("TASTAVIA_BENCH_COMMAND", command.c_str(), 1);
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    self[std::max<ssize_t>(length, 0)] = '\0';
    const std::string pulse = TASTAVIA_SOURCE_DIR "/tests/support/with-pulse.sh";
    const std::string x11 = TASTAVIA_SOURCE_DIR "/tests/support/with-x11.sh";
    std::vector<char *> args{const_cast<char *>(pulse.c_str()), const_cast<char *>(x11.c_str()), self};
    args.insert(args.end(), argv + 1, argv + argc + 1);
    execv(args[0], args.data());
    std::perror("bench_desktop: with-pulse.sh");
    std::exit(2);
}

} // namespace

int main(int argc, char **argv)
{
    enterPrivateDesktop(argc, argv);
    const std::string only = argc > 1 ? argv[1] : "";
    if (only == "--latency-row")
        return tastavia::bench::latencyRow(argc, argv);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);

    QTemporaryDir folder;
    const std::string directory = folder.path().toStdString();
    QDir(folder.path()).mkpath(QStringLiteral("Ad"));
    if (!QFile::copy(QStringLiteral(TASTAVIA_SOURCE_DIR "/Ad/ad01.avi"), folder.path() + "/Ad/ad01.avi")) {
        std::fprintf(stderr, "bench_desktop: cannot copy Ad/ad01.avi from " TASTAVIA_SOURCE_DIR "\n");
        return 1;
    }
    // vmpk keeps its settings under HOME: each run starts from its defaults.
    setenv("HOME", directory.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    setenv("JACK_DEFAULT_SERVER", JackServerName, 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);

    std::vector<Program> programs{{"Tastavia", TASTAVIA_PROGRAM, "Tastavia", 714, 192}};
    const bool vmpk = access("/usr/bin/vmpk", X_OK) == 0;
    if (vmpk)
        programs.push_back({"vmpk", "/usr/bin/vmpk", "Virtual MIDI Piano Keyboard"});
    std::vector<Figures> figures(programs.size());

    const std::time_t now = std::time(nullptr);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M %Z", std::localtime(&now));
    if (only == "--latency") {
        std::printf("Tastavia's note-to-sound latency, %s\ncommand: %s\nmachine: %s\n", date,
                    std::getenv("TASTAVIA_BENCH_COMMAND"), machine().c_str());
        tastavia::bench::printLatencyTable(directory);
        return 0;
    }

    Screen screen;
    Run run(screen, directory);
    for (int n = 1; n <= Starts; ++n) {
        for (std::size_t i = 0; i < programs.size(); ++i) {
            progress("start " + std::to_string(n) + " of " + programs[i].name);
            pid_t pid;
            if (auto ms = run.start(programs[i], pid))
                figures[i].startMs.push_back(*ms);
            stop(pid);
        }
    }
    progress("memory and 20 s idle, no JACK");
    auto plain = run.steady(programs);
    for (std::size_t i = 0; i < programs.size(); ++i) {
        progress("20 s idle alone, with the X server's CPU: " + programs[i].name);
        figures[i].alone = run.alone(programs[i], false);
    }
    progress("20 s idle alone, minimised: Tastavia");
    figures[0].minimised = run.alone(programs[0], true);
    progress("20 s of a bare client animating 340 x 28 at 20 pictures a second");
    double animationFloor = -1;
    if (const pid_t server = xServerPid()) {
        const CpuSpan span(server);
        screen.animateBare(IdleSpan);
        animationFloor = span.percent();
    }
    std::string jackNote, jackPorts;
    double jackFloor = -1;
    {
        progress("memory and 20 s idle, JACK server running");
        JackServer jack(directory);
        if (jack.ready()) {
            auto withJack = run.steady(programs, &jackPorts);
            for (std::size_t i = 0; i < programs.size(); ++i)
                figures[i].jack = withJack[i];
            progress("20 s idle of jack_midi_dump alone on the same server");
            jackFloor = jack.floorCpuPercent(directory);
        } else {
            jackNote = "jackd did not start; see its log";
        }
    }
    for (std::size_t i = 0; i < programs.size(); ++i)
        figures[i].plain = plain[i];

    progress("keyboard window in process: presses and incoming notes");
    const auto keyboard = tastavia::bench::measureKeyboard(directory, Presses);

    const auto &ours = figures[0];
    const Figures none;
    const auto &theirs = vmpk ? figures[1] : none;
    const auto other = [&](const std::string &text) { return vmpk ? text : std::string("-"); };

    std::printf("Tastavia on the desktop, %s\n", date);
    std::printf("command: %s\n", std::getenv("TASTAVIA_BENCH_COMMAND"));
    std::printf("machine: %s; Xvfb 1280x800x24 + openbox, PulseAudio null sink, JACK dummy 48 kHz/128\n",
                machine().c_str());
    if (!vmpk)
        std::printf("vmpk is not installed: its column is skipped\n");
    std::printf("\n");
    row("", "Tastavia", vmpk ? "vmpk (default settings)" : "vmpk");
    row("start-up to painted window, median (min..max)", startText(ours.startMs), other(startText(theirs.startMs)));
    row("RSS 2 s after start-up, no JACK", mib(ours.plain.memory.rssKiB), other(mib(theirs.plain.memory.rssKiB)));
    row("PSS 2 s after start-up, no JACK", mib(ours.plain.memory.pssKiB), other(mib(theirs.plain.memory.pssKiB)));
    row("RSS, JACK server running", mib(ours.jack.memory.rssKiB), other(mib(theirs.jack.memory.rssKiB)));
    row("PSS, JACK server running", mib(ours.jack.memory.pssKiB), other(mib(theirs.jack.memory.pssKiB)));
    row("idle CPU over 20 s, no JACK", fixed(ours.plain.idleCpuPercent, 2) + " % of a core",
        other(fixed(theirs.plain.idleCpuPercent, 2) + " % of a core"));
    row("idle CPU over 20 s, JACK server running", fixed(ours.jack.idleCpuPercent, 2) + " % of a core",
        other(fixed(theirs.jack.idleCpuPercent, 2) + " % of a core"));
    row("  floor: jack_midi_dump alone on that server", fixed(jackFloor, 2) + " % of a core", "");
    row("idle CPU alone, no JACK", fixed(ours.alone.idleCpuPercent, 2) + " % of a core",
        other(fixed(theirs.alone.idleCpuPercent, 2) + " % of a core"));
    row("  the X server meanwhile", fixed(ours.alone.serverCpuPercent, 2) + " % of a core",
        other(fixed(theirs.alone.serverCpuPercent, 2) + " % of a core"));
    row("  floor: X server, bare 20/s CopyArea client", fixed(animationFloor, 2) + " % of a core", "");
    row("idle CPU alone, minimised, no JACK", fixed(ours.minimised.idleCpuPercent, 2) + " % of a core", "-");
    row("  the X server meanwhile", fixed(ours.minimised.serverCpuPercent, 2) + " % of a core", "-");
    row("PulseAudio buffer granted", bufferText(ours.plain), other(bufferText(theirs.plain)));
    if (keyboard.error.empty()) {
        const auto &press = keyboard.press;
        row("press to MidiInProc answered, median / p99",
            fixed(press.medianUs, 1) + " / " + fixed(press.p99Us, 1) + " us", "-");
        int best = 0;
        for (const auto &rate : keyboard.incoming)
            best = rate.keptUp ? rate.rate : best;
        const bool allKeptUp = keyboard.incoming.size() == 5 && keyboard.incoming.back().keptUp;
        row("incoming notes shown, queue bounded",
            best == 0 ? "under 1000 msg/s"
                      : (allKeptUp ? ">= " : "") + std::to_string(best) + " msg/s" + (allKeptUp ? " (fastest tried)" : ""),
            "-");
        std::printf("\npresses: %d, one a millisecond; refused by the device: %d; device error boxes: %d\n",
                    press.presses, press.refused, press.errorBoxes);
        std::printf("incoming notes (bounded: never more than 100 ms of messages waiting, drained within 100 ms):\n");
        for (const auto &rate : keyboard.incoming)
            std::printf("  %6d msg/s: %ld posted, largest backlog %.1f ms, drained %.1f ms after the last: %s\n",
                        rate.rate, rate.posted, rate.maxBacklogMs, rate.drainMs, rate.keptUp ? "kept up" : "FELL BEHIND");
    } else {
        std::printf("\nkeyboard window: %s\n", keyboard.error.c_str());
    }
    if (!jackNote.empty())
        std::printf("JACK: %s\n", jackNote.c_str());
    else
        std::printf("JACK ports while both ran: %s\n", jackPorts.empty() ? "none" : jackPorts.c_str());
    std::fflush(stdout);
    tastavia::bench::printLatencyTable(directory);
    return 0;
}
