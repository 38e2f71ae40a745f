#include "AlsaOutput.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <vector>

namespace tastavia::korvalink {

namespace {

constexpr int kChannels = 2;
// How long one wait for room in the device's buffer may take before the
// thread looks whether it is to stop; a period is a few milliseconds.
constexpr int kWaitMs = 100;
// A device that takes nothing for this many waits in a row hangs.
constexpr int kPatientWaits = 20;

std::string alsaError(const std::string &what, int code)
{
    return "ALSA " + what + ": " + snd_strerror(code);
}

} // namespace

StreamOutput::Opened AlsaOutput::open(const std::string &device, double sampleRate, int periodFrames, int periods,
                                      Render render)
{
    Opened result;
    std::unique_ptr<AlsaOutput> out(new AlsaOutput);
    out->render_ = std::move(render);
    // Opened non-blocking: a device held by another program answers busy
    // at once rather than waiting for it.
    int code = snd_pcm_open(&out->pcm_, device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (code < 0) {
        out->pcm_ = nullptr;
        result.error = alsaError("device " + device + " could not be opened", code);
        return result;
    }
    const auto latencyUs = static_cast<unsigned>(1e6 * periodFrames * periods / sampleRate);
    code = snd_pcm_set_params(out->pcm_, SND_PCM_FORMAT_FLOAT, SND_PCM_ACCESS_RW_INTERLEAVED, kChannels,
                              static_cast<unsigned>(sampleRate), 1, latencyUs);
    snd_pcm_uframes_t bufferSize = 0;
    snd_pcm_uframes_t periodSize = 0;
    if (code == 0)
        code = snd_pcm_get_params(out->pcm_, &bufferSize, &periodSize);
    if (code < 0) {
        result.error = alsaError("device " + device + " refused 48 kHz stereo float", code);
        return result;
    }
    out->periodFrames_ = static_cast<long>(periodSize);
    out->grantedFrames_ = static_cast<int>(bufferSize);
    out->thread_ = std::thread([self = out.get()] { self->run(); });
    result.output = std::move(out);
    return result;
}

AlsaOutput::~AlsaOutput()
{
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        woken_.notify_all();
        thread_.join();
    }
    if (pcm_ != nullptr) {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
    }
}

void AlsaOutput::wake()
{
    if (!asleep())
        return;
    {
        std::lock_guard lock(mutex_);
        ++wakeRequests_;
        asleep_.store(false, std::memory_order_release);
    }
    woken_.notify_all();
}

void AlsaOutput::run()
{
    std::vector<float> buffer(static_cast<std::size_t>(periodFrames_) * kChannels);
    for (;;) {
        std::uint64_t wakesBefore;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            wakesBefore = wakeRequests_;
        }
        bool quiet = false;
        if (!playPeriod(buffer.data(), quiet)) {
            failed_.store(true, std::memory_order_release);
            return;
        }
        if (!quiet)
            continue;
        {
            // A wake that came while the block was rendered may be for a
            // message the block did not hear: then there is no sleep.
            std::lock_guard lock(mutex_);
            if (wakeRequests_ != wakesBefore)
                continue;
            asleep_.store(true, std::memory_order_release);
        }
        sleepUntilWoken();
    }
}

bool AlsaOutput::playPeriod(float *buffer, bool &quiet)
{
    quiet = render_(buffer, static_cast<int>(periodFrames_));
    return write(buffer, periodFrames_);
}

bool AlsaOutput::write(const float *buffer, long frames)
{
    int idleWaits = 0;
    while (frames > 0) {
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm_, buffer, static_cast<snd_pcm_uframes_t>(frames));
        if (written > 0) {
            buffer += written * kChannels;
            frames -= written;
            idleWaits = 0;
            continue;
        }
        if (written == -EAGAIN || written == 0) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_)
                    return true;
            }
            if (snd_pcm_wait(pcm_, kWaitMs) == 0 && ++idleWaits >= kPatientWaits)
                return false;
            continue;
        }
        // An underrun or a suspend is recovered from; anything else is a
        // device that has gone.
        if (snd_pcm_recover(pcm_, static_cast<int>(written), 1) < 0)
            return false;
    }
    return true;
}

void AlsaOutput::sleepUntilWoken()
{
    // What is still buffered is silence; it goes, so that the next note
    // does not wait behind it, and the device stops asking for periods.
    snd_pcm_drop(pcm_);
    {
        std::unique_lock lock(mutex_);
        woken_.wait(lock, [this] { return stopping_ || !asleep_.load(std::memory_order_acquire); });
    }
    snd_pcm_prepare(pcm_);
}

} // namespace tastavia::korvalink
