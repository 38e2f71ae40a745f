// FluidSynth, ALSA and JACK each print their own complaints on stderr while
// an audio output is being opened, most of them about outputs that are
// simply absent; libinstpatch adds GLib criticals about a broken font. The library promises one line saying why a connection
// failed, so while this guard lives those messages are kept back instead:
// FluidSynth's errors on the calling thread are collected for that line,
// everything else is dropped.
#pragma once

#include <cstdarg>
#include <string>

namespace tastavia::korvalink {

// Routes FluidSynth's log into the active guard of the logging thread, and
// drops warnings, information and debug output everywhere. Idempotent.
void installFluidLog();

// Keeps JACK's messages off stderr while it lives. JACK has one pair of
// callbacks for the whole process, so this is counted rather than nested,
// and may be made and dropped on any thread: a JACK client keeps one for
// its whole life, since a vanishing server makes libjack complain from its
// own threads.
class QuietJack {
public:
    QuietJack();
    ~QuietJack();
    QuietJack(const QuietJack &) = delete;
    QuietJack &operator=(const QuietJack &) = delete;
};

class QuietLibraries {
public:
    QuietLibraries();
    ~QuietLibraries();
    QuietLibraries(const QuietLibraries &) = delete;
    QuietLibraries &operator=(const QuietLibraries &) = delete;

    // The last error FluidSynth logged on this thread since the guard was
    // made or since the previous take, on one line; empty if none.
    std::string takeError();

private:
    friend void deliverFluidError(const char *message);
    using AlsaHandler = void (*)(const char *, int, const char *, int, const char *, va_list);

    QuietLibraries *outer_;
    AlsaHandler alsaHandler_;
    QuietJack jack_;
    std::string error_;
};

} // namespace tastavia::korvalink
