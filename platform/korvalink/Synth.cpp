#include "Synth.h"

#include "AudioOutput.h"
#include "QuietLibraries.h"

#include <fluidsynth.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <array>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>

namespace tastavia::korvalink {

namespace {

// Fonts up to this size come first in the search: sample loading runs at
// roughly 4 ms per megabyte with a warm cache, and a larger font's first
// instruments may cost the start more than 150 ms.
constexpr std::uintmax_t kQuickLoadBytes = 24u * 1024u * 1024u;

// How an audio output that has stopped shows. Our PulseAudio and ALSA
// streams say when their server or device has gone: that is a stop, at
// once. JACK keeps calling every period, or else its server has gone: two
// seconds without a block is a stop.
constexpr auto kAudioWatchPeriod = std::chrono::milliseconds(200);
constexpr auto kSilenceLimit = std::chrono::seconds(2);
// A PulseAudio server that went away is looked for again this often, and
// each try gives up after the timeout, so a hung server costs no more.
constexpr auto kReopenPause = std::chrono::seconds(1);
constexpr auto kReopenTimeout = std::chrono::milliseconds(500);

// Nothing audible: far below the last bit of 24-bit audio.
constexpr float kQuietLevel = 1e-6f;
// How long the synth must be quiet, voices and effect tails, before the
// output sleeps.
constexpr std::chrono::milliseconds kDefaultIdleAfter(2000);

// FluidSynth's default polyphony; a longer voice list is only cut short.
constexpr int kVoiceListSize = 256;

const char *const kSoundFontCandidates[] = {
    "/usr/share/sounds/sf2/default-GM.sf2", // Debian's alternative, the administrator's choice
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/soundfonts/default.sf2",
};

struct SettingsDeleter {
    void operator()(fluid_settings_t *settings) const { delete_fluid_settings(settings); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t *synth) const { delete_fluid_synth(synth); }
};

// FluidSynth starts a note's voices before noteon returns, so a key that
// has none held down right after it is one the instrument has no sample
// for. A voice struck earlier on the same key has been released by then
// and does not count.
bool keySounds(fluid_synth_t *synth, int channel, int key)
{
    thread_local std::array<fluid_voice_t *, kVoiceListSize> voices;
    fluid_synth_get_voicelist(synth, voices.data(), int(voices.size()), -1);
    for (fluid_voice_t *voice : voices) {
        if (voice == nullptr)
            break;
        if (fluid_voice_get_channel(voice) == channel && fluid_voice_get_key(voice) == key &&
            fluid_voice_is_on(voice))
            return true;
    }
    return false;
}

float peakOf(const float *samples, std::size_t count)
{
    float peak = 0;
    for (std::size_t i = 0; i < count; ++i)
        peak = std::max(peak, std::abs(samples[i]));
    return peak;
}

std::string withReason(const std::string &what, const std::string &why)
{
    return why.empty() ? what : what + ": " + why;
}

} // namespace

// Member order is teardown order reversed: the audio thread must stop
// before the synth it renders goes, and the synth before its settings.
struct Synth::Handles {
    std::unique_ptr<fluid_settings_t, SettingsDeleter> settings;
    std::unique_ptr<fluid_synth_t, SynthDeleter> synth;
    AudioDriverPtr driver;
    // Ours, PulseAudio's or ALSA's. Replaced when the server comes back
    // after it went away; read under streamMutex_.
    std::shared_ptr<StreamOutput> stream;
};

Synth::Synth()
    : handles_(std::make_unique<Handles>())
{
}

Synth::~Synth()
{
    stopWatching();
    // The audio thread renders into this object: it goes first.
    handles_->driver.reset();
    std::lock_guard lock(streamMutex_);
    handles_->stream.reset();
}

Synth::Options Synth::deviceOptions()
{
    return Options{defaultSoundFonts(), {"pipewire", "pulseaudio", "alsa", "jack"}, 48000.0};
}

Synth::Options Synth::offlineOptions()
{
    return Options{defaultSoundFonts(), {}, 48000.0};
}

std::vector<std::string> Synth::defaultSoundFonts()
{
    namespace fs = std::filesystem;
    std::vector<std::string> quick;
    std::vector<std::string> slow;
    for (const char *candidate : kSoundFontCandidates) {
        std::error_code ec;
        const fs::path real = fs::canonical(candidate, ec);
        if (ec || !fs::is_regular_file(real, ec))
            continue;
        const std::string path = real.string();
        if (std::find(quick.begin(), quick.end(), path) != quick.end() ||
            std::find(slow.begin(), slow.end(), path) != slow.end())
            continue;
        const std::uintmax_t size = fs::file_size(real, ec);
        (ec || size > kQuickLoadBytes ? slow : quick).push_back(path);
    }
    quick.insert(quick.end(), slow.begin(), slow.end());
    return quick;
}

Synth::Opened Synth::open(const Options &options)
{
    Opened result;
    QuietLibraries quiet;
    std::unique_ptr<Synth> synth(new Synth);
    Handles &h = *synth->handles_;

    h.settings.reset(new_fluid_settings());
    if (!h.settings) {
        result.error = withReason("FluidSynth could not create its settings", quiet.takeError());
        return result;
    }
    fluid_settings_setnum(h.settings.get(), "synth.sample-rate", options.sampleRate);
    h.synth.reset(new_fluid_synth(h.settings.get()));
    if (!h.synth) {
        result.error = withReason("FluidSynth could not create a synthesizer", quiet.takeError());
        return result;
    }

    std::string tried;
    for (const std::string &path : options.soundFonts) {
        if (!tried.empty())
            tried += "; ";
        tried += path;
        if (!fluid_is_soundfont(path.c_str())) {
            std::error_code ec;
            tried += std::filesystem::exists(path, ec) ? ": not a SoundFont" : ": not found";
            continue;
        }
        quiet.takeError();
        // Only the font's directory is read at first, and each instrument's
        // samples when a channel first selects it: the start reads the
        // piano and the drum kit, not all 6 MB of TimGM6mb (about half its
        // load time, and 5 MB less memory). A program change then reads
        // its instrument, well under a millisecond from the page cache.
        fluid_settings_setint(h.settings.get(), "synth.dynamic-sample-loading", 1);
        const auto start = std::chrono::steady_clock::now();
        if (fluid_synth_sfload(h.synth.get(), path.c_str(), 1) == FLUID_FAILED) {
            tried += ": " + withReason("could not be loaded", quiet.takeError());
            continue;
        }
        synth->soundFontLoadMs_ =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        synth->soundFont_ = path;
        break;
    }
    if (synth->soundFont_.empty()) {
        result.error = options.soundFonts.empty()
                           ? std::string("no General MIDI SoundFont found (install timgm6mb-soundfont)")
                           : "no SoundFont could be loaded (tried " + tried +
                                 "); install timgm6mb-soundfont";
        return result;
    }

    // JACK may move the synth to the server's rate when it opens; until then
    // the rate asked for counts.
    fluid_settings_getnum(h.settings.get(), "synth.sample-rate", &synth->sampleRate_);
    synth->setIdleAfter(kDefaultIdleAfter);
    if (!options.audioDrivers.empty()) {
        Synth *self = synth.get();
        self->streamRender_ = [self](float *interleaved, int frames) {
            return self->renderInterleaved(interleaved, frames);
        };
        AudioOutput output =
            openAudioOutput(h.settings.get(), &Synth::renderForDriver, self, self->streamRender_, options.audioDrivers);
        if (!output.driver && !output.stream) {
            result.error = output.error;
            return result;
        }
        h.driver = std::move(output.driver);
        h.stream = std::move(output.stream);
        synth->audio_ = std::move(output.setup);
    }
    fluid_settings_getnum(h.settings.get(), "synth.sample-rate", &synth->sampleRate_);
    synth->setIdleAfter(kDefaultIdleAfter);

    result.synth = std::move(synth);
    return result;
}

Synth::Result Synth::send(const ShortMessage &m)
{
    Result result;
    {
        // The program and the MIDI input both play: a note on and the look
        // at the voices it started must not have the other's notes between
        // them, or a note that sounds is reported as one that does not.
        std::lock_guard lock(sendMutex_);
        result = play(m);
    }
    wakeAudio();
    return result;
}

Synth::Result Synth::play(const ShortMessage &m)
{
    fluid_synth_t *s = handles_->synth.get();
    const int ch = m.channel;
    auto result = [](int status) { return status == FLUID_OK ? Result::Played : Result::Refused; };
    if (m.isNoteOff()) {
        // FluidSynth fails a note off that finds no voice, which happens
        // whenever a short sound has already ended. The key is still up.
        fluid_synth_noteoff(s, ch, m.data1);
        return Result::Played;
    }
    switch (m.kind) {
    case MessageKind::NoteOff:
        return Result::Played; // handled above
    case MessageKind::NoteOn: {
        // Counted before the note: the audio thread ends voices at any time,
        // so a count taken after a note that found every voice taken may
        // already be lower, and a flood would read as a refusal. Only notes
        // add voices, and ours are the only notes (the send lock).
        const bool full = fluid_synth_get_active_voice_count(s) >= fluid_synth_get_polyphony(s);
        if (fluid_synth_noteon(s, ch, m.data1, m.data2) != FLUID_OK) {
            // An instrument of several layers may have started some of them
            // before the voices ran out: the note sounds, and must be held
            // and ended like any other, or those layers sound for good.
            if (keySounds(s, ch, m.data1))
                return Result::Played;
            return full ? Result::Overloaded : Result::Refused;
        }
        return keySounds(s, ch, m.data1) ? Result::Played : Result::Silent;
    }
    case MessageKind::KeyPressure:
        return result(fluid_synth_key_pressure(s, ch, m.data1, m.data2));
    case MessageKind::Controller:
        // The channel mode messages (omni, mono, poly) would have FluidSynth
        // regroup its channels, and a group ignores every message on the
        // channels left outside it, note offs included: what sounds there
        // would sound for good. A General MIDI synthesizer stays in omni
        // poly mode and takes them, as MIDI asks, as all notes off.
        if (m.data1 > cc::AllNotesOff)
            return result(fluid_synth_all_notes_off(s, ch));
        // The legato footswitch would make FluidSynth play the channel mono,
        // keeping released notes in a list it goes back to, sounding, at a
        // later note off: a note the sender ended could sound for good.
        // General MIDI has no legato footswitch, so it is taken and ignored.
        if (m.data1 == cc::Legato)
            return Result::Played;
        return result(fluid_synth_cc(s, ch, m.data1, m.data2));
    case MessageKind::ProgramChange:
        return result(fluid_synth_program_change(s, ch, m.data1));
    case MessageKind::ChannelPressure:
        return result(fluid_synth_channel_pressure(s, ch, m.data1));
    case MessageKind::PitchBend:
        return result(fluid_synth_pitch_bend(s, ch, m.data1 | (m.data2 << 7)));
    }
    return Result::Refused;
}

void Synth::silence()
{
    std::lock_guard lock(sendMutex_);
    fluid_synth_t *s = handles_->synth.get();
    for (int ch = 0; ch < 16; ++ch) {
        // With a pedal down, FluidSynth does not cut a voice whose note off
        // it is still holding back for its shortest note length: the voice
        // rings out its whole release, seconds for a glockenspiel.
        fluid_synth_cc(s, ch, cc::Sustain, 0);
        fluid_synth_cc(s, ch, cc::Sostenuto, 0);
        fluid_synth_all_notes_off(s, ch);
        fluid_synth_all_sounds_off(s, ch);
    }
    wakeAudio();
}

void Synth::setGain(float gain)
{
    fluid_synth_set_gain(handles_->synth.get(), gain);
}

float Synth::gain() const
{
    return fluid_synth_get_gain(handles_->synth.get());
}

bool Synth::render(float *left, float *right, int frames)
{
    if (left == nullptr || right == nullptr || frames <= 0)
        return false;
    return fluid_synth_write_float(handles_->synth.get(), frames, left, 0, 1, right, 0, 1) == FLUID_OK;
}

int Synth::activeVoices() const
{
    return fluid_synth_get_active_voice_count(handles_->synth.get());
}

fluid_synth_t *Synth::fluid() const
{
    return handles_->synth.get();
}

void Synth::countBlock()
{
    if (audioThread_.load(std::memory_order_relaxed) == 0)
        audioThread_.store(gettid(), std::memory_order_relaxed);
    audioBlocks_.fetch_add(1, std::memory_order_relaxed);
}

int Synth::renderForDriver(void *self, int frames, int nfx, float *fx[], int nout, float *out[])
{
    auto *synth = static_cast<Synth *>(self);
    synth->countBlock();
    const std::uint64_t wakes = synth->wakes_.load(std::memory_order_seq_cst);
    const std::uint64_t sleptAt = synth->asleepSince_.load(std::memory_order_relaxed);
    if (sleptAt != 0 && sleptAt == wakes + 1) {
        // Asleep and no message since: silence, without rendering it.
        for (int i = 0; i < nout; ++i)
            std::fill_n(out[i], frames, 0.0f);
        for (int i = 0; i < nfx; ++i)
            std::fill_n(fx[i], frames, 0.0f);
        return FLUID_OK;
    }
    synth->asleepSince_.store(0, std::memory_order_relaxed);
    int status;
    if (nfx == 0 && nout >= 2) {
        // Only JACK's multi-channel mode has buffers of its own for reverb
        // and chorus; everywhere else they are mixed into the dry sound.
        float *effects[4] = {out[0], out[1], out[0], out[1]};
        status = fluid_synth_process(synth->handles_->synth.get(), frames, 4, effects, nout, out);
    } else {
        status = fluid_synth_process(synth->handles_->synth.get(), frames, nfx, fx, nout, out);
    }
    float peak = 0;
    for (int i = 0; i < nout; ++i)
        peak = std::max(peak, peakOf(out[i], static_cast<std::size_t>(frames)));
    if (synth->settle(peak, frames, wakes))
        synth->asleepSince_.store(wakes + 1, std::memory_order_relaxed);
    if (nout >= 2)
        synth->tapPlanar(out[0], out[1], frames);
    return status;
}

bool Synth::renderInterleaved(float *interleaved, int frames)
{
    countBlock();
    const std::uint64_t wakes = wakes_.load(std::memory_order_seq_cst);
    fluid_synth_write_float(handles_->synth.get(), frames, interleaved, 0, 2, interleaved, 1, 2);
    {
        std::lock_guard lock(tapMutex_);
        if (tap_)
            tap_(interleaved, frames);
    }
    return settle(peakOf(interleaved, static_cast<std::size_t>(frames) * 2), frames, wakes);
}

// Counts how long the output has been quiet, voices and effect tails; true
// once that is long enough to sleep. A message that came in while the block
// was rendered resets the count: the block may not have heard it yet.
bool Synth::settle(float peak, int frames, std::uint64_t wakesBefore)
{
    renderedBlocks_.fetch_add(1, std::memory_order_relaxed);
    if (peak > kQuietLevel || wakes_.load(std::memory_order_seq_cst) != wakesBefore ||
        fluid_synth_get_active_voice_count(handles_->synth.get()) > 0) {
        quietFrames_.store(0, std::memory_order_relaxed);
        return false;
    }
    return quietFrames_.fetch_add(frames, std::memory_order_relaxed) + frames >=
           idleAfterFrames_.load(std::memory_order_relaxed);
}

void Synth::wakeAudio()
{
    wakes_.fetch_add(1, std::memory_order_seq_cst);
    quietFrames_.store(0, std::memory_order_relaxed);
    if (const std::shared_ptr<StreamOutput> stream = currentStream())
        stream->wake();
}

bool Synth::audioAsleep() const
{
    if (const std::shared_ptr<StreamOutput> stream = currentStream())
        return stream->asleep();
    const std::uint64_t sleptAt = asleepSince_.load(std::memory_order_relaxed);
    return sleptAt != 0 && sleptAt == wakes_.load(std::memory_order_relaxed) + 1;
}

void Synth::setIdleAfter(std::chrono::milliseconds quiet)
{
    idleAfterFrames_.store(static_cast<int>(sampleRate_ * double(quiet.count()) / 1000.0), std::memory_order_relaxed);
}

void Synth::setBlockTap(std::function<void(const float *, int)> tap)
{
    std::lock_guard lock(tapMutex_);
    tap_ = std::move(tap);
}

void Synth::tapPlanar(const float *left, const float *right, int frames)
{
    std::lock_guard lock(tapMutex_);
    if (!tap_)
        return;
    std::vector<float> interleaved(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        interleaved[2 * std::size_t(i)] = left[i];
        interleaved[2 * std::size_t(i) + 1] = right[i];
    }
    tap_(interleaved.data(), frames);
}

void Synth::watchAudio(std::function<void()> stopped, Companion companion)
{
    stopWatching();
    const bool audio = (handles_->driver || handles_->stream || audioCarried_) && stopped;
    if (!companion.gone)
        companion = {};
    if (!audio && !companion.gone)
        return;
    {
        std::lock_guard lock(watchMutex_);
        watchStop_ = false;
    }
    const bool usesStream = currentStream() != nullptr;
    // One JACK server under both: the ports hear at once when it goes, the
    // output only by its silence.
    const bool sharedJack = audio && audio_ && audio_->driver == "jack" && companion.onJack;
    watchdog_ = std::thread([this, audio, usesStream, sharedJack, stopped = std::move(stopped),
                             companion = std::move(companion)] {
        using clock = std::chrono::steady_clock;
        clock::time_point lastTry{};
        std::uint64_t lastBlocks = audioBlocks();
        clock::time_point lastProgress = clock::now();
        bool told = false; // this stop has been told
        bool lost = false; // the output is to be opened again
        std::unique_lock lock(watchMutex_);
        while (!watchWake_.wait_for(lock, kAudioWatchPeriod, [this] { return watchStop_; })) {
            const clock::time_point now = clock::now();
            const bool companionGone = companion.gone && companion.gone();
            bool down = false;
            if (!audio) {
            } else if (usesStream) {
                // A sleeping stream asks for nothing: only the server or the
                // device says whether it is still there.
                const std::shared_ptr<StreamOutput> stream = currentStream();
                down = !stream || stream->failed();
                lost = down;
            } else {
                const std::uint64_t blocks = audioBlocks();
                if (blocks != lastBlocks) {
                    lastBlocks = blocks;
                    lastProgress = now;
                    told = false;
                } else {
                    down = lost || !audioThreadAlive() || now - lastProgress >= kSilenceLimit;
                }
                if (sharedJack && companionGone)
                    down = true;
                // Reopening a client of a server that only hangs would hang
                // this thread with it.
                if (down && (!sharedJack || companionGone))
                    lost = true;
            }
            if (down && !told) {
                told = true;
                lock.unlock();
                stopped();
                lock.lock();
            }
            // Servers restart; try again once a second, each try limited in
            // time, and carry on when one opens.
            if ((!lost && !companionGone) || now - lastTry < kReopenPause)
                continue;
            lastTry = now;
            lock.unlock();
            bool back = false;
            if (lost && usesStream) {
                back = reopenStream();
            } else {
                // libjack frees every client of the process behind its
                // owner's back when one is opened after their server died:
                // whatever is dead closes before anything opens.
                if (lost && !audioCarried_)
                    handles_->driver.reset();
                if (companionGone)
                    companion.release();
                if (lost && !audioCarried_)
                    back = reopenDriver();
            }
            if (companionGone) {
                // A carried output comes back with its carrier, on a new
                // thread.
                if (audioCarried_)
                    audioThread_.store(0, std::memory_order_relaxed);
                const bool companionBack = companion.reopen();
                if (audioCarried_ && lost)
                    back = companionBack;
            }
            lock.lock();
            if (back) {
                lost = false;
                told = false;
                lastBlocks = audioBlocks();
                lastProgress = clock::now();
            }
        }
    });
}

std::shared_ptr<StreamOutput> Synth::currentStream() const
{
    std::lock_guard lock(streamMutex_);
    return handles_->stream;
}

bool Synth::reopenStream()
{
    StreamOutput::Opened opened = openStreamOutput(*audio_, streamRender_, kReopenTimeout);
    if (!opened.output)
        return false;
    std::shared_ptr<StreamOutput> old;
    {
        std::lock_guard lock(streamMutex_);
        old = std::exchange(handles_->stream, std::shared_ptr<StreamOutput>(std::move(opened.output)));
    }
    return true; // the dead stream goes with `old`, outside the lock
}

bool Synth::reopenDriver()
{
    // The synth stays as it was, voices included; only its way out is new.
    audioThread_.store(0, std::memory_order_relaxed);
    AudioOutput output = openAudioOutput(handles_->settings.get(), &Synth::renderForDriver, this, streamRender_,
                                         {audio_->driver});
    if (!output.driver)
        return false;
    handles_->driver = std::move(output.driver);
    return true;
}

bool Synth::playThrough(const std::function<bool(AudioRender, void *)> &carrier)
{
    if (!audio_ || audio_->driver != "jack" || !handles_->driver)
        return false;
    // Two threads must never render at once: FluidSynth's client goes
    // first, and comes back if the carrier cannot take the sound.
    handles_->driver.reset();
    audioThread_.store(0, std::memory_order_relaxed);
    if (carrier(&Synth::renderForDriver, this)) {
        audioCarried_ = true;
        return true;
    }
    reopenDriver();
    return false;
}

bool Synth::outputHangs(std::chrono::milliseconds patience) const
{
    if (!handles_->driver || !pacedOutput())
        return false;
    const std::uint64_t before = audioBlocks();
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (audioBlocks() == before) {
        if (std::chrono::steady_clock::now() >= deadline)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool Synth::audioThreadAlive() const
{
    const pid_t thread = audioThread_.load(std::memory_order_relaxed);
    if (thread == 0)
        return true; // not called yet: nothing to tell
    const std::string task = "/proc/self/task/" + std::to_string(thread);
    return access(task.c_str(), F_OK) == 0;
}

void Synth::stopWatching()
{
    if (!watchdog_.joinable())
        return;
    {
        std::lock_guard lock(watchMutex_);
        watchStop_ = true;
    }
    watchWake_.notify_all();
    watchdog_.join();
}

} // namespace tastavia::korvalink
