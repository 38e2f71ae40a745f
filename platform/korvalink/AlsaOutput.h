// The synthesizer's ALSA output, for desktops without a PulseAudio server:
// a thread of ours that writes periods to the PCM while something sounds,
// and stops the PCM and waits, costing nothing, while nothing does
// (StreamOutput.h). It never blocks on the device: writes are non-blocking
// and every wait has a limit, so a device that hangs cannot hold the
// program's end.
#pragma once

#include "StreamOutput.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct _snd_pcm;

namespace tastavia::korvalink {

class AlsaOutput final : public StreamOutput {
public:
    // The device's buffer is asked for as periods x periodFrames.
    static Opened open(const std::string &device, double sampleRate, int periodFrames, int periods, Render render);

    ~AlsaOutput() override;
    AlsaOutput(const AlsaOutput &) = delete;
    AlsaOutput &operator=(const AlsaOutput &) = delete;

    void wake() override;
    bool asleep() const override { return asleep_.load(std::memory_order_acquire); }
    bool failed() const override { return failed_.load(std::memory_order_acquire); }
    int grantedFrames() const override { return grantedFrames_; }

private:
    AlsaOutput() = default;
    void run();
    // Renders and writes one period; false once the device is lost.
    bool playPeriod(float *buffer, bool &quiet);
    bool write(const float *buffer, long frames);
    void sleepUntilWoken();

    _snd_pcm *pcm_ = nullptr;
    Render render_;
    long periodFrames_ = 0;
    int grantedFrames_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable woken_;
    bool stopping_ = false;           // under mutex_
    std::uint64_t wakeRequests_ = 0;  // under mutex_
    std::atomic<bool> asleep_{false};
    std::atomic<bool> failed_{false};
};

} // namespace tastavia::korvalink
