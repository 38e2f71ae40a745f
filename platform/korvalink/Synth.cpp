#include "Synth.h"

#include "AudioOutput.h"
#include "QuietLibraries.h"

#include <fluidsynth.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace tastavia::korvalink {

namespace {

// TimGM6mb (6 MB) loads in about 25 ms; sample loading runs at roughly
// 4 ms per megabyte with a warm cache. 24 MiB keeps a font inside the
// 150 ms the start may spend on it.
constexpr std::uintmax_t kQuickLoadBytes = 24u * 1024u * 1024u;

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
};

Synth::Synth()
    : handles_(std::make_unique<Handles>())
{
}

Synth::~Synth() = default;

Synth::Options Synth::deviceOptions()
{
    return Options{defaultSoundFonts(), {"pulseaudio", "alsa", "jack"}, 48000.0};
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
                           : "no SoundFont could be loaded (tried " + tried + ")";
        return result;
    }

    if (!options.audioDrivers.empty()) {
        AudioOutput output = openAudioOutput(h.settings.get(), h.synth.get(), options.audioDrivers);
        if (!output.driver) {
            result.error = output.error;
            return result;
        }
        h.driver = std::move(output.driver);
        synth->audio_ = std::move(output.setup);
    }
    // JACK may have moved the synth to the server's rate.
    fluid_settings_getnum(h.settings.get(), "synth.sample-rate", &synth->sampleRate_);

    result.synth = std::move(synth);
    return result;
}

bool Synth::send(const ShortMessage &m)
{
    fluid_synth_t *s = handles_->synth.get();
    const int ch = m.channel;
    if (m.isNoteOff()) {
        // FluidSynth fails a note off that finds no voice, which happens
        // whenever a short sound has already ended. The key is still up.
        fluid_synth_noteoff(s, ch, m.data1);
        return true;
    }
    switch (m.kind) {
    case MessageKind::NoteOff:
        return true; // handled above
    case MessageKind::NoteOn:
        return fluid_synth_noteon(s, ch, m.data1, m.data2) == FLUID_OK;
    case MessageKind::KeyPressure:
        return fluid_synth_key_pressure(s, ch, m.data1, m.data2) == FLUID_OK;
    case MessageKind::Controller:
        return fluid_synth_cc(s, ch, m.data1, m.data2) == FLUID_OK;
    case MessageKind::ProgramChange:
        return fluid_synth_program_change(s, ch, m.data1) == FLUID_OK;
    case MessageKind::ChannelPressure:
        return fluid_synth_channel_pressure(s, ch, m.data1) == FLUID_OK;
    case MessageKind::PitchBend:
        return fluid_synth_pitch_bend(s, ch, m.data1 | (m.data2 << 7)) == FLUID_OK;
    }
    return false;
}

void Synth::silence()
{
    fluid_synth_t *s = handles_->synth.get();
    for (int ch = 0; ch < 16; ++ch) {
        fluid_synth_all_notes_off(s, ch);
        fluid_synth_all_sounds_off(s, ch);
    }
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

} // namespace tastavia::korvalink
