// Offline listening for the device library tests: render the synth for a
// while and measure what came out.
#pragma once

#include "Engine.h"
#include "Synth.h"

#include <PianoHeader.h>

#include <QtTest>
#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <thread>
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

// What an audio output plays, block by block, through the synth's tap.
class BlockRecorder {
public:
    explicit BlockRecorder(tastavia::korvalink::Synth &synth) : synth_(synth)
    {
        synth_.setBlockTap([this](const float *interleaved, int frames) {
            std::vector<float> mono(static_cast<std::size_t>(frames));
            for (int i = 0; i < frames; ++i)
                mono[std::size_t(i)] = 0.5f * (interleaved[2 * i] + interleaved[2 * i + 1]);
            std::lock_guard lock(mutex_);
            blocks_.push_back(std::move(mono));
        });
    }
    ~BlockRecorder() { synth_.setBlockTap({}); }

    std::size_t count() const
    {
        std::lock_guard lock(mutex_);
        return blocks_.size();
    }

    // Plays a message and records until `frames` frames after it.
    struct Onset {
        int block = -1; // of the blocks rendered after the message; -1 when none sounds
        int frame = -1; // within that block
        Take take;      // from the first sounding frame on
    };
    Onset play(std::uint32_t message, int frames)
    {
        const std::size_t before = count();
        midi(message);
        std::vector<std::vector<float>> after;
        for (int waited = 0; waited < 5000; waited += 5) {
            {
                std::lock_guard lock(mutex_);
                after.assign(blocks_.begin() + std::ptrdiff_t(before), blocks_.end());
            }
            std::size_t total = 0;
            for (const auto &b : after)
                total += b.size();
            if (total >= std::size_t(frames) * 2)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Onset onset;
        onset.take.sampleRate = synth_.sampleRate();
        for (std::size_t b = 0; b < after.size(); ++b) {
            for (std::size_t i = 0; i < after[b].size(); ++i) {
                if (onset.block < 0 && after[b][i] != 0.0f) {
                    onset.block = int(b);
                    onset.frame = int(i);
                }
                if (onset.block >= 0 && onset.take.mono.size() < std::size_t(frames))
                    onset.take.mono.push_back(after[b][i]);
            }
        }
        return onset;
    }

private:
    tastavia::korvalink::Synth &synth_;
    mutable std::mutex mutex_;
    std::vector<std::vector<float>> blocks_;
};

// How alike two takes are: 1 for the same sound, whatever the loudness.
inline double correlation(const Take &a, const Take &b)
{
    const std::size_t n = std::min(a.mono.size(), b.mono.size());
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ab += double(a.mono[i]) * b.mono[i];
        aa += double(a.mono[i]) * a.mono[i];
        bb += double(b.mono[i]) * b.mono[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// Once nothing sounds the audio output sleeps and renders nothing (with
// PulseAudio it is not even asked for blocks); the next note wakes it and
// starts in the first block rendered after it, as a note played while the
// output is awake does, and sounds the same. Effects off, so that silence is
// exact and a note's first sample can be found.
inline void checkSleepAndWake(bool askedWhileAsleep)
{
    tastavia::korvalink::Synth *synth = nullptr;
    tastavia::korvalink::Engine::instance().withSynth([&](tastavia::korvalink::Synth &s) { synth = &s; });
    QVERIFY(synth);
    fluid_synth_reverb_on(synth->fluid(), -1, 0);
    fluid_synth_chorus_on(synth->fluid(), -1, 0);
    synth->setIdleAfter(std::chrono::hours(1));
    BlockRecorder recorder(*synth);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count() > 2, 10000);

    const int half = int(synth->sampleRate() / 2);
    const BlockRecorder::Onset awake = recorder.play(0x7F3C90, half);
    QVERIFY(midi(0x7F3C80));
    QTRY_COMPARE_WITH_TIMEOUT(activeVoices(), 0, 5000);

    synth->setIdleAfter(std::chrono::milliseconds(200));
    QTRY_VERIFY_WITH_TIMEOUT(synth->audioAsleep(), 10000);
    const std::uint64_t rendered = synth->renderedBlocks();
    const std::uint64_t asked = synth->audioBlocks();
    QTest::qWait(3000);
    QCOMPARE(synth->renderedBlocks(), rendered);
    if (!askedWhileAsleep)
        QCOMPARE(synth->audioBlocks(), asked);

    const BlockRecorder::Onset afterSilence = recorder.play(0x7F3C90, half);
    QVERIFY(midi(0x7F3C80));
    // The block under way when the note came may not have heard it; the
    // next one does, from its start (FluidSynth takes events every 64
    // frames).
    for (const auto &onset : {awake, afterSilence}) {
        QVERIFY2(onset.block == 0 || onset.block == 1, qPrintable(QString::number(onset.block)));
        QVERIFY2(onset.frame < 64 || onset.block == 0, qPrintable(QString::number(onset.frame)));
    }
    QCOMPARE(afterSilence.take.mono.size(), awake.take.mono.size());
    QVERIFY2(correlation(awake.take, afterSilence.take) > 0.99,
             qPrintable(QString::number(correlation(awake.take, afterSilence.take))));
    QVERIFY(std::abs(afterSilence.take.rms() / awake.take.rms() - 1) < 0.02);
}

} // namespace listening
