#include "Engine.h"

#include <array>
#include <bitset>
#include <cmath>
#include <cstdio>
#include <vector>

namespace tastavia::korvalink {

namespace {
constexpr float kFullScaleGain = 1.0f;
constexpr int kChannels = 16;
constexpr int kKeys = 128;
constexpr std::uint8_t kPedalDown = 64;
// How long closing waits for a JACK output's next block before it takes the
// server for hung; a period is a few milliseconds.
constexpr auto kHungOutputPatience = std::chrono::milliseconds(300);

// What a hung server's threads may still call into is kept for good, and
// stays reachable, rather than destroyed under them. Only a hung server
// puts anything here.
void keepForGood(std::shared_ptr<void> held)
{
    static std::mutex mutex;
    static auto *kept = new std::vector<std::shared_ptr<void>>;
    std::lock_guard lock(mutex);
    kept->push_back(std::move(held));
}
} // namespace

// What the MIDI input plays. Runs on the ports' thread (JACK's real-time
// thread when they carry the synth's audio), one message at a time, and keeps its own record of the notes the input holds, so that a
// sender that vanishes mid-chord leaves nothing sounding. The synth it plays
// on outlives it: the engine closes the ports before it drops either.
class Engine::Input final : public MidiPortsListener {
public:
    Input(Engine &engine, Synth &synth)
        : engine_(engine)
        , synth_(synth)
    {
    }

    void midiReceived(const ShortMessage &message) override
    {
        ShortMessage played = message;
        bool play = true;
        if (message.isSoundingNoteOn()) {
            played.data2 = scaledVelocity(message.data2, engine_.slaveVolume_.load(std::memory_order_relaxed));
            play = played.data2 != 0;
        }
        // All notes off, all sound off and the channel mode messages end
        // every note of the channel. They are ended one by one first: the
        // window would never hear of them and keep their keys lit, and
        // FluidSynth keeps notes held before a mode change in its mono list
        // and goes back to one of them, sounding, at a later note off.
        if (message.kind == MessageKind::Controller &&
            (message.data1 == cc::AllSoundOff || message.data1 >= cc::AllNotesOff))
            releaseChannel(message.channel);
        Synth::Result result = Synth::Result::Played;
        if (play) {
            result = synth_.send(played);
            engine_.report(played, result);
        }
        // Tracked as it arrived: a note the slave volume silenced still
        // lights its key, and that key must go up again too.
        track(message, result);
        // A note the synth refused sounds nowhere and is not held: lit, its
        // key would stay down for good.
        if (message.isSoundingNoteOn() && !Synth::tookNote(result))
            return;
        engine_.post(KORVA_MSG_HITKEY, message.pack(), 0);
    }

    void midiSenderLost() override { releaseAll(); }

    void midiInputStopped() override
    {
        releaseAll();
        engine_.post(KORVA_MSG_MIDISTOP, 0, 0);
    }

private:
    void track(const ShortMessage &m, Synth::Result result)
    {
        const std::size_t key = std::size_t(m.channel) * kKeys + m.data1;
        if (m.isSoundingNoteOn()) {
            if (Synth::tookNote(result))
                held_.set(key);
        } else if (m.isNoteOff()) {
            held_.reset(key);
        } else if (m.kind == MessageKind::Controller) {
            switch (m.data1) {
            case cc::Sustain:
                sustain_.set(m.channel, m.data2 >= kPedalDown);
                break;
            case cc::Sostenuto:
                sostenuto_.set(m.channel, m.data2 >= kPedalDown);
                break;
            case cc::ResetAllControllers:
                sustain_.reset(m.channel);
                sostenuto_.reset(m.channel);
                break;
            default:
                break;
            }
        }
    }

    void releaseChannel(std::uint8_t ch)
    {
        for (std::uint8_t k = 0; k < kKeys; ++k) {
            const std::size_t key = std::size_t(ch) * kKeys + k;
            if (!held_.test(key))
                continue;
            held_.reset(key);
            // The window hears of it as of any note off, so the keys an
            // external keyboard left lit go up with the sound.
            const ShortMessage off{MessageKind::NoteOff, ch, k, 0};
            synth_.send(off);
            engine_.post(KORVA_MSG_HITKEY, off.pack(), 0);
        }
    }

    void releaseAll()
    {
        for (std::uint8_t ch = 0; ch < kChannels; ++ch) {
            releaseChannel(ch);
            // A pedal left down would hold the released notes on.
            if (sustain_.test(ch))
                synth_.send(ShortMessage::controller(ch, cc::Sustain, 0));
            if (sostenuto_.test(ch))
                synth_.send(ShortMessage::controller(ch, cc::Sostenuto, 0));
        }
        held_.reset();
        sustain_.reset();
        sostenuto_.reset();
    }

    Engine &engine_;
    Synth &synth_;
    std::bitset<kChannels * kKeys> held_;
    std::bitset<kChannels> sustain_;
    std::bitset<kChannels> sostenuto_;
};

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

void Engine::setPortOptions(MidiPortOptions options)
{
    std::lock_guard lock(mutex_);
    portOptions_ = std::move(options);
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

        input_ = std::make_unique<Input>(*this, *synth_);
        OpenedMidiPorts ports = openMidiPorts(portOptions_, *input_);
        ports_ = std::move(ports.ports);
        if (!ports.error.empty())
            std::fprintf(stderr, "korvalink: no MIDI ports: %s\n", ports.error.c_str());

        // On JACK the synth plays in the ports' own client, so that an
        // incoming note is played and rendered in the cycle it arrives in.
        if (MidiPorts *ports = ports_.get())
            synth_->playThrough([ports](AudioRender render, void *data) { return ports->carryAudio(render, data); });

        // The ports come back on the audio's watch: with both on one JACK
        // server, every dead client must close before any new one opens.
        Synth::Companion companion{};
        if (MidiPorts *ports = ports_.get()) {
            companion.gone = [ports] { return ports->serverGone(); };
            companion.release = [ports] { ports->release(); };
            companion.reopen = [ports] { return ports->reopen(); };
            companion.onJack = ports->names().system == MidiSystem::Jack;
        }
        synth_->watchAudio([this] { post(KORVA_MSG_MIDISTOP, 0, 0); }, std::move(companion));
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
    // The watch reopens the ports: it ends before they close.
    if (synth_)
        synth_->stopWatching();
    if (ports_) {
        for (std::uint8_t ch = 0; ch < kChannels; ++ch) {
            ports_->send(ShortMessage::controller(ch, cc::AllNotesOff, 0));
            ports_->send(ShortMessage::controller(ch, cc::AllSoundOff, 0));
        }
        // Waits for the silence to leave, and for the input thread to end.
        ports_->close();
        if (ports_->abandoned()) {
            keepForGood(std::move(ports_));
            // Their real-time thread may still play into these.
            if (synth_ && synth_->audioCarried()) {
                keepForGood(std::move(input_));
                keepForGood(std::move(synth_));
            }
        }
        ports_.reset();
    }
    input_.reset();
    if (synth_) {
        synth_->silence();
        if (synth_->outputHangs(kHungOutputPatience))
            keepForGood(std::move(synth_));
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
    if (!synth_)
        return false;
    const Synth::Result result = synth_->send(*message);
    const bool sent = ports_ && ports_->send(*message);
    report(*message, result);
    return Synth::tookNote(result) || sent;
}

void Engine::report(const ShortMessage &message, Synth::Result result)
{
    if (!message.isSoundingNoteOn())
        return;
    if (result == Synth::Result::Silent)
        post(KORVA_MSG_ERROR, 0, KORVA_ERR_NOTE_OUT_OF_RANGE);
    else if (result == Synth::Result::Refused)
        post(KORVA_MSG_ERROR, 0, KORVA_ERR_SOUND_FAILED);
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
    slaveVolume_.store(volume, std::memory_order_relaxed);
    return true;
}

std::uint32_t Engine::masterVolume() const
{
    std::lock_guard lock(mutex_);
    return masterVolume_;
}

std::uint32_t Engine::slaveVolume() const
{
    return slaveVolume_.load(std::memory_order_relaxed);
}

float Engine::gainForVolume(std::uint32_t volume)
{
    const float v = static_cast<float>(std::min(volume, kMaxVolume)) / kMaxVolume;
    return kFullScaleGain * v * v;
}

std::uint8_t Engine::scaledVelocity(std::uint8_t velocity, std::uint32_t volume)
{
    // FluidSynth's default velocity curve is the General MIDI one, so this
    // scales loudness exactly as the master volume does.
    volume = std::min(volume, kMaxVolume);
    if (velocity == 0 || volume == 0)
        return 0;
    const std::uint32_t scaled = (std::uint32_t(velocity) * volume + kMaxVolume / 2) / kMaxVolume;
    return static_cast<std::uint8_t>(std::max<std::uint32_t>(scaled, 1));
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

std::optional<MidiPortNames> Engine::midiPorts() const
{
    std::lock_guard lock(mutex_);
    if (!ports_)
        return std::nullopt;
    return ports_->names();
}

MidiPortsListener *Engine::inputListener()
{
    std::lock_guard lock(mutex_);
    return input_.get();
}

} // namespace tastavia::korvalink
