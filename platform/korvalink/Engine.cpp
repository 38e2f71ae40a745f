#include "Engine.h"

#include <cmath>

namespace tastavia::korvalink {

namespace {
constexpr float kFullScaleGain = 1.0f;
}

Engine &Engine::instance()
{
    static Engine engine;
    return engine;
}

Engine::Engine()
    : options_(Synth::deviceOptions())
{
}

Engine::~Engine()
{
    disconnect();
}

void Engine::setSynthOptions(Synth::Options options)
{
    std::lock_guard lock(mutex_);
    options_ = std::move(options);
}

Engine::Status Engine::connect(KorvaWindow *window)
{
    std::lock_guard lock(mutex_);
    if (!synth_) {
        Synth::Opened opened = Synth::open(options_);
        if (!opened.synth)
            return Status{false, opened.error};
        synth_ = std::move(opened.synth);
        synth_->setGain(gainForVolume(masterVolume_));
    }
    std::lock_guard windowLock(windowMutex_);
    window_ = window;
    return Status{};
}

void Engine::disconnect()
{
    std::lock_guard lock(mutex_);
    {
        std::lock_guard windowLock(windowMutex_);
        window_ = nullptr;
    }
    if (synth_) {
        synth_->silence();
        synth_.reset();
    }
}

bool Engine::connected() const
{
    std::lock_guard lock(mutex_);
    return synth_ != nullptr;
}

bool Engine::play(std::uint32_t packed)
{
    const std::optional<ShortMessage> message = ShortMessage::decode(packed);
    if (!message)
        return false;
    std::lock_guard lock(mutex_);
    return synth_ && synth_->send(*message);
}

bool Engine::setMasterVolume(std::uint32_t volume)
{
    if (volume > kMaxVolume)
        return false;
    std::lock_guard lock(mutex_);
    masterVolume_ = volume;
    if (synth_)
        synth_->setGain(gainForVolume(volume));
    return true;
}

bool Engine::setSlaveVolume(std::uint32_t volume)
{
    if (volume > kMaxVolume)
        return false;
    std::lock_guard lock(mutex_);
    slaveVolume_ = volume;
    return true;
}

std::uint32_t Engine::masterVolume() const
{
    std::lock_guard lock(mutex_);
    return masterVolume_;
}

std::uint32_t Engine::slaveVolume() const
{
    std::lock_guard lock(mutex_);
    return slaveVolume_;
}

float Engine::gainForVolume(std::uint32_t volume)
{
    const float v = static_cast<float>(std::min(volume, kMaxVolume)) / kMaxVolume;
    return kFullScaleGain * v * v;
}

bool Engine::post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam)
{
    std::lock_guard lock(windowMutex_);
    if (window_ == nullptr || window_->post == nullptr)
        return false;
    window_->post(window_->context, message, wParam, lParam);
    return true;
}

bool Engine::withSynth(const std::function<void(Synth &)> &f)
{
    std::lock_guard lock(mutex_);
    if (!synth_)
        return false;
    f(*synth_);
    return true;
}

} // namespace tastavia::korvalink
