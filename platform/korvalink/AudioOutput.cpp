#include "AudioOutput.h"

#include "AlsaOutput.h"
#include "JackServer.h"
#include "PipeWireOutput.h"
#include "PulseOutput.h"
#include "QuietLibraries.h"

namespace tastavia::korvalink {

namespace {

// A keyboard needs the note to start while the key goes down: under 10 ms of
// buffering is where a player stops noticing. PulseAudio gets one target
// buffer of 8 ms (5.3 ms underran now and then on a busy machine); ALSA gets
// three periods of 2.7 ms, 8 ms in all.
constexpr int kPulsePeriodFrames = 384;
constexpr int kPulsePeriods = 1;
constexpr int kAlsaPeriodFrames = 128;
// PipeWire renders each quantum as the graph asks for it; the graph runs at
// the smallest period its nodes ask for, 2.7 ms while we play.
constexpr int kPipeWireQuantumFrames = 128;
constexpr int kAlsaPeriods = 3;

void prepare(fluid_settings_t *settings, const std::string &driver, AudioSetup &setup)
{
    fluid_settings_setstr(settings, "audio.driver", driver.c_str());
    fluid_settings_getnum(settings, "synth.sample-rate", &setup.sampleRate);
    setup.driver = driver;
    if (driver == "pipewire") {
        setup.periodSize = kPipeWireQuantumFrames;
        setup.periods = 1;
    } else if (driver == "pulseaudio") {
        setup.periodSize = kPulsePeriodFrames;
        setup.periods = kPulsePeriods;
    } else if (driver == "alsa") {
        setup.periodSize = kAlsaPeriodFrames;
        setup.periods = kAlsaPeriods;
    } else if (driver == "jack") {
        // "Tastavia" itself names the client with the MIDI ports.
        fluid_settings_setstr(settings, "audio.jack.id", "Tastavia synth");
        // Without this FluidSynth's ports stay unconnected and nothing is heard.
        fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
        setup.periodSize = 0;
        setup.periods = 0;
    }
}

} // namespace

StreamOutput::Opened openStreamOutput(const AudioSetup &setup, const StreamOutput::Render &render,
                                      std::chrono::milliseconds timeout)
{
    if (setup.driver == "alsa")
        return AlsaOutput::open("default", setup.sampleRate, setup.periodSize, setup.periods, render);
    if (setup.driver == "pipewire")
        return PipeWireOutput::open(setup.sampleRate, setup.periodSize, render, timeout);
    return PulseOutput::open(setup.sampleRate, setup.periodSize * setup.periods, render, timeout);
}

AudioOutput openAudioOutput(fluid_settings_t *settings, fluid_audio_func_t render, void *data,
                            const StreamOutput::Render &streamRender, const std::vector<std::string> &drivers)
{
    AudioOutput out;
    std::string tried;
    QuietLibraries quiet;
    for (const std::string &driver : drivers) {
        if (!tried.empty())
            tried += "; ";
        tried += driver;

        // FluidSynth's JACK driver opens its client with the server start
        // allowed, which would spawn jackd on a machine that has no sound
        // card for it. Only go there when a server already runs, and
        // answers.
        if (driver == "jack" && !jackServerAnswers()) {
            tried += ": no JACK server is running";
            continue;
        }

        AudioSetup setup;
        prepare(settings, driver, setup);
        if (driver == "pipewire" || driver == "pulseaudio" || driver == "alsa") {
            StreamOutput::Opened opened = openStreamOutput(setup, streamRender, std::chrono::milliseconds(2000));
            if (opened.output) {
                setup.grantedFrames = opened.output->grantedFrames();
                out.stream = std::move(opened.output);
                out.setup = std::move(setup);
                return out;
            }
            tried += ": " + opened.error;
            continue;
        }
        quiet.takeError();
        AudioDriverPtr opened(new_fluid_audio_driver2(settings, render, data));
        if (opened) {
            if (driver == "jack")
                fluid_settings_getnum(settings, "synth.sample-rate", &setup.sampleRate);
            out.driver = std::move(opened);
            out.setup = std::move(setup);
            return out;
        }
        const std::string why = quiet.takeError();
        tried += ": " + (why.empty() ? std::string("failed") : why);
    }
    out.error = drivers.empty() ? std::string("no audio output was asked for")
                                : "no audio output could be opened (tried " + tried +
                                      "); start a PulseAudio-compatible sound server such as pipewire-pulse or "
                                      "pulseaudio";
    return out;
}

} // namespace tastavia::korvalink
