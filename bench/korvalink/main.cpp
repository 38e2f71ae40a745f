// bench_korvalink [CALLS]: what playing a note costs and how soon it sounds.
//
// Prints, each where it can be measured here:
//   - the SoundFont's load time (the slowest part of ConnectDevice);
//   - MidiInProc's cost per call, median and 99th percentile, over CALLS
//     calls (default 100000) alternating note on and note off, with the
//     synthesizer offline, and again with the MIDI output port on JACK when
//     a JACK server runs (under tests/support/with-jack.sh, say);
//   - how many frames after a note on its first audible sample comes, when
//     the synthesizer is rendered block by block as an audio thread does;
//   - the audio buffer the sound server granted: JACK's period and the
//     synth ports' playback latency when a JACK server runs, PulseAudio's
//     buffer for the synth's stream when a PulseAudio server answers
//     (tests/support/with-pulse.sh gives one).
// Goals: median call under 20 us, first sound in the very next block,
// 10 ms of buffer or less.
#include "Engine.h"
#include "PianoHeader.h"

#include <fluidsynth.h>
#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using tastavia::korvalink::Engine;
using tastavia::korvalink::MidiPortOptions;
using tastavia::korvalink::Synth;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kNoteOn = 0x643C90;
constexpr std::uint32_t kNoteOff = 0x403C80;

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t index = std::min(values.size() - 1, std::size_t(p * (values.size() - 1) + 0.5));
    return values[index];
}

MidiPortOptions ports(MidiPortOptions::Systems systems)
{
    return MidiPortOptions{systems, "Tastavia"};
}

void soundFontLoad()
{
    std::vector<double> load, open;
    std::string font;
    for (int i = 0; i < 10; ++i) {
        const auto start = Clock::now();
        Synth::Opened opened = Synth::open(Synth::offlineOptions());
        open.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (!opened.synth) {
            std::printf("SoundFont: %s\n", opened.error.c_str());
            return;
        }
        load.push_back(opened.synth->soundFontLoadMs());
        font = opened.synth->soundFont();
    }
    std::printf("SoundFont %s: loads in %.1f ms (median of 10, slowest %.1f); synth ready in %.1f ms\n",
                font.c_str(), percentile(load, 0.5), percentile(load, 1.0), percentile(open, 0.5));
}

// Renders between calls, as the audio thread would, but outside the timing:
// otherwise FluidSynth's queue of voice events fills and notes stop starting.
void callCost(const char *label, int calls)
{
    std::vector<double> ns;
    ns.reserve(calls);
    std::vector<float> left(128), right(128);
    int refused = 0;
    for (int i = 0; i < calls; ++i) {
        const std::uint32_t message = i % 2 == 0 ? kNoteOn : kNoteOff;
        const auto start = Clock::now();
        const KorvaBool ok = MidiInProc(0, KORVA_MIM_DATA, 0, message, 0);
        ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
        refused += KorvaTrue(ok) ? 0 : 1;
        if (i % 16 == 15) {
            Engine::instance().withSynth([&](Synth &synth) { synth.render(left.data(), right.data(), 128); });
            // Roughly a player's pace for the port: JACK takes a port's
            // worth of events per period.
            if (Engine::instance().midiPorts())
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    std::printf("MidiInProc, %s: median %.2f us, p99 %.2f us, max %.1f us over %d calls%s\n", label,
                percentile(ns, 0.5) / 1000, percentile(ns, 0.99) / 1000, percentile(ns, 1.0) / 1000, calls,
                refused ? " (some refused!)" : "");
}

// Frames from a note on to its first non-zero sample, rendering in blocks of
// the given size right after the call, as a JACK period would: that is the
// library's share of the delay. When the sound grows past -100 dBFS is
// printed beside it; that depends on how each of the font's samples begins
// (some of TimGM6mb's piano samples fade in over several milliseconds).
void firstSound(int block)
{
    std::vector<double> started, audible;
    std::vector<float> left(block), right(block);
    for (int note = 36; note <= 96; ++note) {
        Engine::instance().withSynth([&](Synth &synth) {
            synth.silence();
            for (int i = 0; i < 48000 / block; ++i)
                synth.render(left.data(), right.data(), block);
        });
        MidiInProc(0, KORVA_MIM_DATA, 0, 0x640090 + (note << 8), 0);
        int first = -1, loud = -1;
        Engine::instance().withSynth([&](Synth &synth) {
            for (int rendered = 0; rendered < 48000 && loud < 0; rendered += block) {
                synth.render(left.data(), right.data(), block);
                for (int i = 0; i < block && loud < 0; ++i) {
                    const float level = std::max(std::fabs(left[i]), std::fabs(right[i]));
                    if (first < 0 && level > 0)
                        first = rendered + i;
                    if (level > 1e-5f)
                        loud = rendered + i;
                }
            }
        });
        MidiInProc(0, KORVA_MIM_DATA, 0, 0x000080 + (note << 8), 0);
        started.push_back(first < 0 ? 1e9 : first);
        audible.push_back(loud < 0 ? 1e9 : loud);
    }
    const double worst = percentile(started, 1.0);
    std::printf("First sound after note on, %d-frame blocks, notes 36..96: first non-zero sample at frame %.0f "
                "at worst (%s); above -100 dBFS at frame %.0f median, %.0f worst\n",
                block, worst, worst < block ? "in the very next block" : "LATER than the next block",
                percentile(audible, 0.5), percentile(audible, 1.0));
}

void quietJack(const char *) {}

bool jackRuns()
{
    jack_set_error_function(quietJack);
    jack_set_info_function(quietJack);
    jack_status_t status{};
    jack_client_t *client = jack_client_open("bench probe", JackNoStartServer, &status);
    if (client == nullptr)
        return false;
    jack_client_close(client);
    return true;
}

void jackLatency()
{
    Synth::Options options = Synth::offlineOptions();
    options.audioDrivers = {"jack"};
    Engine::instance().setSynthOptions(options);
    Engine::instance().setPortOptions(ports(MidiPortOptions::Systems::Jack));
    const auto start = Clock::now();
    if (!KorvaTrue(ConnectDevice(nullptr)))
        return;
    std::printf("ConnectDevice with JACK audio and JACK MIDI ports: %.1f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    jack_client_t *client = jack_client_open("bench probe", JackNoStartServer, nullptr);
    if (client == nullptr)
        return;
    const jack_nframes_t period = jack_get_buffer_size(client);
    const jack_nframes_t rate = jack_get_sample_rate(client);
    std::printf("JACK: %u frames per period at %u Hz (%.2f ms)", period, rate, 1000.0 * period / rate);
    const char **synthPorts = jack_get_ports(client, "^Tastavia synth:", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    if (synthPorts && synthPorts[0]) {
        jack_latency_range_t range{};
        jack_port_get_latency_range(jack_port_by_name(client, synthPorts[0]), JackPlaybackLatency, &range);
        std::printf("; %s to the speakers: %u..%u frames (%.2f ms with the period)", synthPorts[0], range.min,
                    range.max, 1000.0 * (range.max + period) / rate);
    }
    std::printf("\n");
    jack_free(synthPorts);
    jack_client_close(client);
    DisConnectDevice();
}

void pulseLatency()
{
    Synth::Options options = Synth::offlineOptions();
    options.audioDrivers = {"pulseaudio"};
    Engine::instance().setSynthOptions(options);
    Engine::instance().setPortOptions(ports(MidiPortOptions::Systems::None));
    const auto start = Clock::now();
    if (!KorvaTrue(ConnectDevice(nullptr))) {
        std::printf("PulseAudio: no server answers\n");
        return;
    }
    std::printf("ConnectDevice with PulseAudio: %.1f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // let the stream settle
    Engine::instance().withSynth([](Synth &synth) {
        std::printf("PulseAudio: asked for %d frames at %.0f Hz (%.2f ms)\n", synth.audio()->periodSize,
                    synth.audio()->sampleRate, synth.audio()->bufferMs());
    });
    // FluidSynth keeps the stream to itself; the server tells what it gave.
    if (FILE *pactl = popen("pactl list sink-inputs 2>/dev/null", "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, pactl)) {
            if (std::strstr(line, "Latency") || std::strstr(line, "application.name"))
                std::printf("  server says:%s", line);
        }
        pclose(pactl);
    }
    DisConnectDevice();
}

} // namespace

int main(int argc, char **argv)
{
    const int calls = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100000;
    soundFontLoad();

    Engine::instance().setSynthOptions(Synth::offlineOptions());
    Engine::instance().setPortOptions(ports(MidiPortOptions::Systems::None));
    if (!KorvaTrue(ConnectDevice(nullptr)))
        return 1;
    callCost("synth offline", calls);
    firstSound(64);
    firstSound(128);
    DisConnectDevice();

    const bool jack = jackRuns();
    if (jack) {
        Engine::instance().setPortOptions(ports(MidiPortOptions::Systems::Jack));
        if (KorvaTrue(ConnectDevice(nullptr)) && Engine::instance().midiPorts()) {
            callCost("synth offline + JACK output port", calls);
            DisConnectDevice();
        }
        jackLatency();
    } else {
        std::printf("JACK: no server runs (run under tests/support/with-jack.sh for its figures)\n");
    }
    pulseLatency();
    return 0;
}
