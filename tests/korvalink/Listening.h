// Offline listening for the device library tests: render the synth for a
// while and measure what came out.
#pragma once

#include "Engine.h"
#include "Synth.h"

#include <PianoHeader.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace listening {

// A velocity-127 piano note has an RMS near 0.01 at FluidSynth's default
// gain; a tenth of that is a note being heard. Silence is well below the
// 16-bit noise floor.
constexpr double kAudibleRms = 1e-3;
constexpr double kSilentPeak = 1e-4;

struct Take {
    std::vector<float> mono;
    double sampleRate = 48000;

    double rms() const
    {
        double sum = 0;
        for (float s : mono)
            sum += double(s) * s;
        return mono.empty() ? 0 : std::sqrt(sum / mono.size());
    }

    double peak() const
    {
        double p = 0;
        for (float s : mono)
            p = std::max(p, double(std::fabs(s)));
        return p;
    }

    // How a note's energy is shared among its first eight harmonics
    // (Goertzel at each), summing to 1: the timbre, whatever the loudness.
    std::array<double, 8> harmonicProfile(double fundamental) const
    {
        std::array<double, 8> profile{};
        double total = 0;
        for (std::size_t k = 0; k < profile.size(); ++k) {
            const double coeff = 2 * std::cos(2 * std::numbers::pi * fundamental * (k + 1) / sampleRate);
            double s1 = 0, s2 = 0;
            for (float s : mono) {
                const double s0 = s + coeff * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            total += profile[k] = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        }
        for (double &p : profile)
            p /= total > 0 ? total : 1;
        return profile;
    }
};

inline Take render(tastavia::korvalink::Synth &synth, double seconds)
{
    const int frames = int(seconds * synth.sampleRate());
    std::vector<float> left(frames), right(frames);
    synth.render(left.data(), right.data(), frames);
    Take take{std::vector<float>(frames), synth.sampleRate()};
    for (int i = 0; i < frames; ++i)
        take.mono[i] = 0.5f * (left[i] + right[i]);
    return take;
}

// The device as the program uses it: one short message through the C
// interface, and what the engine's synth gives or holds right now.
inline bool midi(std::uint32_t message)
{
    return KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, message, 0));
}

inline Take listen(double seconds)
{
    Take take;
    tastavia::korvalink::Engine::instance().withSynth(
        [&](tastavia::korvalink::Synth &synth) { take = render(synth, seconds); });
    return take;
}

inline int activeVoices()
{
    int voices = -1;
    tastavia::korvalink::Engine::instance().withSynth(
        [&](tastavia::korvalink::Synth &synth) { voices = synth.activeVoices(); });
    return voices;
}

} // namespace listening
