// The library's MIDI ports on a real JACK server (the private one of
// support/with-jack.sh, dummy driver, or PipeWire's), or with
// TASTAVIA_MIDI_SYSTEM=alsa on the kernel's ALSA sequencer
// (support/with-alsa-guest.sh), with the synthesizer offline so that what
// the input plays can be heard by rendering. A client of the test's own
// (PortProbe.h) listens to the output port and plays into the input port.
//
// The last test stops the JACK server, starts it again and kills it; it
// must stay last.
#include "Engine.h"
#include "Listening.h"
#include "PianoHeader.h"
#include <PortProbe.h>
#include "WindowRecorder.h"

#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <unistd.h>

using tastavia::korvalink::Engine;
using tastavia::korvalink::MidiPortOptions;
using tastavia::korvalink::MidiSystem;
using tastavia::korvalink::Synth;
using namespace listening;
using Bytes = PortProbe::Bytes;

namespace {

const std::string kOut = "Tastavia:out";
const std::string kIn = "Tastavia:in";
constexpr int kWaitMs = 5000;
constexpr std::uint8_t kOrgan = 19; // holds its sound for as long as the key is down

// Renders, as an audio thread would, until every voice has died away; the
// input's thread may still be on its way. False if voices remain after
// kWaitMs.
bool renderUntilSilent()
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kWaitMs) {
        listen(0.05);
        if (activeVoices() == 0)
            return true;
        QTest::qWait(2);
    }
    return false;
}

// The system the ports are tested on, and nothing else.
MidiPortOptions systemOnly()
{
    return MidiPortOptions{PortProbe::onAlsa() ? MidiPortOptions::Systems::AlsaSequencer : MidiPortOptions::Systems::Jack,
                           "Tastavia"};
}

MidiSystem expectedSystem()
{
    return PortProbe::onAlsa() ? MidiSystem::AlsaSequencer : MidiSystem::Jack;
}

std::uint32_t pack(const Bytes &b)
{
    return b[0] | (b.size() > 1 ? b[1] << 8 : 0) | (b.size() > 2 ? b[2] << 16 : 0);
}

} // namespace

class TestMidiPorts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void ports_appearUnderTastaviaAndGoOnDisconnect();
    void ports_secondInstanceGetsClientOfItsOwn();
    void ports_automaticChoosesTheSequencerWhereThereIsOne();
    void output_carriesExactlyTheAcceptedMessagesInOrder();
    void output_disconnectSendsNotesAndSoundOffOnEveryChannel();
    void input_channelMessagesArePostedAndHeard();
    void input_systemMessagesAreDropped();
    void input_slaveVolumeScalesWhatIsHeard();
    void input_noteOutsideInstrument_isReported();
    void input_senderGone_releasesHeldNotesAndPedal_data();
    void input_senderGone_releasesHeldNotesAndPedal();
    void serverGoneAndBack_notesReleasedPortsReturnSynthPlaysOn();

private:
    // Connects the device to window_ and a probe to both ports.
    void connectWithProbe();
    // A new probe on both ports of the connected device.
    void connectProbe();
    // Plays into the input and waits until the window has seen it.
    void playIn(const Bytes &message);

    WindowRecorder window_;
    std::unique_ptr<PortProbe> probe_;
};

void TestMidiPorts::initTestCase()
{
    if (PortProbe::onAlsa()) {
        QVERIFY2(access("/dev/snd/seq", F_OK) == 0, "run under tests/support/with-alsa-guest.sh");
    } else if (std::getenv("TASTAVIA_JACK_CONTROL") == nullptr) {
        QFAIL("run under tests/support/with-jack.sh or with-pipewire.sh --jack");
    }
    QVERIFY2(PortProbe::make()->ok(), "the MIDI system does not answer");
}

void TestMidiPorts::init()
{
    Engine::instance().setSynthOptions(Synth::offlineOptions());
    Engine::instance().setPortOptions(systemOnly());
    QVERIFY(KorvaTrue(SetMasterKeyVolume(127)));
    QVERIFY(KorvaTrue(SetSlaveKeyVolume(127)));
    window_.clear();
}

void TestMidiPorts::cleanup()
{
    DisConnectDevice();
    probe_.reset();
}

void TestMidiPorts::connectWithProbe()
{
    QVERIFY(KorvaTrue(ConnectDevice(&window_.handle)));
    connectProbe();
}

void TestMidiPorts::connectProbe()
{
    probe_ = PortProbe::make();
    QVERIFY(probe_->ok());
    QVERIFY(probe_->connectBothWays());
}

void TestMidiPorts::playIn(const Bytes &message)
{
    const std::size_t before = window_.count(KORVA_MSG_HITKEY);
    probe_->send(message);
    QTRY_COMPARE_WITH_TIMEOUT(window_.count(KORVA_MSG_HITKEY), before + 1, kWaitMs);
}

void TestMidiPorts::ports_appearUnderTastaviaAndGoOnDisconnect()
{
    // Beside a PulseAudio server (PipeWire's, whose JACK clients share one
    // graph with its streams) the synth plays there, its stream opened
    // before the ports as in the program; the stream must leave the
    // client's name free.
    if (qEnvironmentVariableIsSet("PULSE_SERVER")) {
        Synth::Options options = Synth::deviceOptions();
        options.audioDrivers = {"pulseaudio"};
        Engine::instance().setSynthOptions(options);
    }
    QVERIFY(KorvaTrue(ConnectDevice(&window_.handle)));
    const auto names = Engine::instance().midiPorts();
    QVERIFY(names);
    QCOMPARE(names->system, expectedSystem());
    QCOMPARE(names->client, std::string("Tastavia"));
    QCOMPARE(names->output, kOut);
    QCOMPARE(names->input, kIn);

    const std::unique_ptr<PortProbe> probe = PortProbe::make();
    QVERIFY(probe->devicePortsListed());

    QVERIFY(KorvaTrue(DisConnectDevice()));
    QVERIFY(!Engine::instance().midiPorts());
    // Other clients hear of it from the server, which PipeWire tells them a
    // moment later.
    QTRY_VERIFY_WITH_TIMEOUT(!probe->devicePortsListed(), kWaitMs);
}

void TestMidiPorts::ports_secondInstanceGetsClientOfItsOwn()
{
    if (PortProbe::onAlsa())
        QSKIP("the sequencer tells clients apart by number, not by name");
    QVERIFY(KorvaTrue(ConnectDevice(nullptr)));
    Engine other;
    other.setSynthOptions(Synth::offlineOptions());
    other.setPortOptions(systemOnly());
    QVERIFY(other.connect(nullptr).ok);
    const auto names = other.midiPorts();
    QVERIFY(names);
    QVERIFY2(names->output != kOut && names->output.starts_with("Tastavia-"), names->output.c_str());
    QCOMPARE(names->input, names->client + ":in");
    QCOMPARE(Engine::instance().midiPorts()->output, kOut); // the first keeps its name
}

// The sequencer where /dev/snd/seq exists, else a running JACK server.
void TestMidiPorts::ports_automaticChoosesTheSequencerWhereThereIsOne()
{
    if (!PortProbe::onAlsa() && access("/dev/snd/seq", F_OK) == 0)
        QSKIP("this machine has an ALSA sequencer, which comes first");
    Engine::instance().setPortOptions(MidiPortOptions{});
    QVERIFY(KorvaTrue(ConnectDevice(nullptr)));
    const auto names = Engine::instance().midiPorts();
    QVERIFY(names);
    QCOMPARE(names->system, expectedSystem());
    QCOMPARE(names->output, kOut);
}

void TestMidiPorts::output_carriesExactlyTheAcceptedMessagesInOrder()
{
    connectWithProbe();
    struct Call {
        std::uint32_t handle, kind, message;
        bool accepted;
    };
    const Call calls[] = {
        {0, 963, 0x7F3C90, true},      // note on
        {1, 963, 0x7F3E90, false},     // another handle
        {0, 963, 0x003C90, true},      // note on, velocity 0: stays a note on
        {0, 961, 0x7F4090, false},     // MIM_OPEN
        {0, 963, 0x403C80, true},      // note off
        {0, 963, 0x05C0, true},        // program change: two bytes
        {0, 963, 0xF8, false},         // clock: a system message
        {0, 963, 0x7F7FEF, true},      // pitch bend, channel 16, top
        {0, 963, 0x00BC90, false},     // note number with the top bit
        {0, 963, 0x0040B3, true},      // controller, channel 4
        {0, 963, 0x017F3C90, false},   // bits above the message
        {0, 963, 0x40D2, true},        // channel pressure
        {0, 963, 0x0105C0, false},     // program change with a second byte
        {0, 963, 0x303CA1, true},      // key pressure
        {0, 963, 0x7F3C3C, false},     // running status: no status byte
    };
    std::vector<Bytes> expected;
    for (const Call &call : calls) {
        QCOMPARE(KorvaTrue(MidiInProc(call.handle, call.kind, 0, call.message, 0)), call.accepted);
        if (call.accepted) {
            Bytes bytes{std::uint8_t(call.message), std::uint8_t(call.message >> 8)};
            if ((call.message & 0xE0) != 0xC0) // not program change or channel pressure
                bytes.push_back(std::uint8_t(call.message >> 16));
            expected.push_back(bytes);
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(probe_->received().size(), expected.size(), kWaitMs);
    // A little longer, in which nothing else may arrive.
    QVERIFY(probe_->settle());
    QCOMPARE(probe_->received(), expected);
}

void TestMidiPorts::output_disconnectSendsNotesAndSoundOffOnEveryChannel()
{
    connectWithProbe();
    QVERIFY(midi(0x7F3C90));
    QTRY_COMPARE_WITH_TIMEOUT(probe_->received().size(), std::size_t(1), kWaitMs);
    probe_->clearReceived();

    QVERIFY(KorvaTrue(DisConnectDevice()));
    std::vector<Bytes> expected;
    for (std::uint8_t ch = 0; ch < 16; ++ch) {
        expected.push_back({std::uint8_t(0xB0 + ch), 123, 0});
        expected.push_back({std::uint8_t(0xB0 + ch), 120, 0});
    }
    // Sent before the port closed: it has already arrived.
    QCOMPARE(probe_->received(), expected);
    QTRY_VERIFY_WITH_TIMEOUT(!probe_->devicePortsListed(), kWaitMs);
}

void TestMidiPorts::input_channelMessagesArePostedAndHeard()
{
    connectWithProbe();
    QVERIFY(listen(0.1).peak() < kSilentPeak);

    playIn({0x90, 60, 100});
    QCOMPARE(window_.posted(KORVA_MSG_HITKEY).back(), (Posted{KORVA_MSG_HITKEY, 0x643C90, 0}));
    QVERIFY(activeVoices() > 0);
    QVERIFY(listen(0.3).rms() > kAudibleRms);

    // Velocity 0 reaches the window as it came, and silences the note.
    playIn({0x90, 60, 0});
    QCOMPARE(window_.posted(KORVA_MSG_HITKEY).back().wParam, 0x003C90u);
    QVERIFY(renderUntilSilent());

    // Every channel and every kind of channel message goes to the window.
    const std::vector<Bytes> others = {{0x95, 64, 90}, {0x85, 64, 64}, {0xB2, 7, 100}, {0xC3, 40}, {0xE1, 0, 64}};
    for (const Bytes &message : others) {
        playIn(message);
        QCOMPARE(window_.posted(KORVA_MSG_HITKEY).back().wParam, pack(message));
    }
    QCOMPARE(window_.count(KORVA_MSG_ERROR), std::size_t(0));
    QCOMPARE(probe_->received().size(), std::size_t(0)); // input is not echoed to the output
}

void TestMidiPorts::input_systemMessagesAreDropped()
{
    connectWithProbe();
    const std::vector<Bytes> dropped = {
        {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, // SysEx: General MIDI on
        {0xF8},                               // clock
        {0xFE},                               // active sensing
        {0xFF},                               // reset
        {0xF2, 0x10, 0x20},                   // song position
        {0x3C, 0x40},                         // running status, no status byte
        {0x90, 60},                           // note on cut short
    };
    for (const Bytes &message : dropped)
        probe_->send(message);
    playIn({0xB0, 7, 100}); // sent after them, so it arrives after them
    QCOMPARE(window_.posted(), (std::vector<Posted>{{KORVA_MSG_HITKEY, 0x6407B0, 0}}));
    listen(0.05);
    QCOMPARE(activeVoices(), 0);
}

void TestMidiPorts::input_slaveVolumeScalesWhatIsHeard()
{
    connectWithProbe();
    auto loudness = [this](std::uint32_t volume) {
        SetSlaveKeyVolume(volume);
        playIn({0x90, 60, 127});
        const double rms = listen(0.3).rms();
        playIn({0x80, 60, 0});
        renderUntilSilent();
        return rms;
    };
    const double full = loudness(127);
    const double half = loudness(64);
    const double lowest = loudness(1);
    QVERIFY2(full > kAudibleRms, qPrintable(QString::number(full)));
    // The General MIDI velocity curve: half the volume, about -12 dB.
    QVERIFY2(full / half > 3 && full / half < 5.5, qPrintable(QString::number(full / half)));
    QVERIFY2(lowest > 0 && lowest < half / 10, qPrintable(QString::number(lowest)));

    // Volume 0 plays nothing, but the window still sees the keys.
    SetSlaveKeyVolume(0);
    window_.clear();
    playIn({0x90, 62, 127});
    listen(0.05);
    QCOMPARE(activeVoices(), 0);
    QCOMPARE(window_.posted(), (std::vector<Posted>{{KORVA_MSG_HITKEY, 0x7F3E90, 0}}));
}

void TestMidiPorts::input_noteOutsideInstrument_isReported()
{
    connectWithProbe();
    // TimGM6mb's drum kit starts at key 27, its pianos end at 108.
    playIn({0x99, 10, 100});
    playIn({0x90, 120, 100});
    playIn({0x90, 60, 100});
    QCOMPARE(window_.posted(KORVA_MSG_ERROR),
             (std::vector<Posted>{{KORVA_MSG_ERROR, 0, KORVA_ERR_NOTE_OUT_OF_RANGE},
                                  {KORVA_MSG_ERROR, 0, KORVA_ERR_NOTE_OUT_OF_RANGE}}));

    // A note the synth refuses (its channel has no instrument) is reported
    // and lights no key: nothing would put that key out again.
    Engine::instance().withSynth([](Synth &synth) { fluid_synth_unset_program(synth.fluid(), 2); });
    window_.clear();
    probe_->send({0x92, 60, 100});
    QTRY_COMPARE_WITH_TIMEOUT(window_.count(KORVA_MSG_ERROR), std::size_t(1), kWaitMs);
    QTest::qWait(100);
    QCOMPARE(window_.posted(), (std::vector<Posted>{{KORVA_MSG_ERROR, 0, KORVA_ERR_SOUND_FAILED}}));
}

void TestMidiPorts::input_senderGone_releasesHeldNotesAndPedal_data()
{
    QTest::addColumn<bool>("closeClient");
    QTest::newRow("connection removed") << false;
    QTest::newRow("sending client gone") << true;
}

void TestMidiPorts::input_senderGone_releasesHeldNotesAndPedal()
{
    QFETCH(bool, closeClient);
    connectWithProbe();
    playIn({0xC0, kOrgan});
    playIn({0xB0, 64, 127}); // sustain pedal down
    playIn({0x90, 60, 100});
    playIn({0x90, 64, 100});
    playIn({0x80, 64, 0});   // released, but held on by the pedal
    playIn({0x91, 67, 100}); // another channel

    // Without a note off the organ sounds on.
    listen(3.0);
    QVERIFY(activeVoices() >= 3);
    QVERIFY(listen(0.2).rms() > kAudibleRms);

    if (closeClient)
        probe_->close();
    else
        QVERIFY(probe_->disconnectSender());
    QVERIFY(renderUntilSilent());
    listen(2.0); // the reverb's tail
    QVERIFY(listen(0.2).peak() < kSilentPeak);
    // The keys the sender left lit are told to go up; the one it released
    // itself is not told twice.
    const auto hits = window_.posted(KORVA_MSG_HITKEY);
    auto posted = [&](std::uint32_t w) {
        return std::count_if(hits.begin(), hits.end(), [w](const Posted &p) { return p.wParam == w; });
    };
    QCOMPARE(posted(0x3C80), 1);
    QCOMPARE(posted(0x4381), 1);
    QCOMPARE(posted(0x4080), 1);

    // The device itself plays on.
    QVERIFY(midi(0x7F3C90));
    QVERIFY(listen(0.2).rms() > kAudibleRms);
    QCOMPARE(window_.count(KORVA_MSG_MIDISTOP), std::size_t(0));
}

void TestMidiPorts::serverGoneAndBack_notesReleasedPortsReturnSynthPlaysOn()
{
    if (PortProbe::onAlsa())
        QSKIP("the sequencer is the kernel's and does not go away");
    QVERIFY(KorvaTrue(ConnectDevice(&window_.handle)));
    QVERIFY(midi(0xC0 + kOrgan * 256));
    // An external keyboard in a process of its own, so that it may outlive
    // the server: it strikes C4 every second and lets go only for the last
    // sample of each.
    QProcess keyboard;
    keyboard.start(QStringLiteral("jack_midiseq"), {"held", "48000", "0", "60", "47999"});
    QVERIFY(keyboard.waitForStarted());
    const auto stopKeyboard = qScopeGuard([&] {
        keyboard.kill();
        keyboard.waitForFinished();
    });
    {
        JackProbe patchbay;
        // Its port is listed before the client is active, and until then
        // the server refuses to connect it.
        QTRY_VERIFY_WITH_TIMEOUT(patchbay.connect("held:out", kIn), kWaitMs);
    }
    auto lastKey = [this] {
        const auto hits = window_.posted(KORVA_MSG_HITKEY);
        return hits.empty() ? 0u : hits.back().wParam & 0xFFFF;
    };
    QTRY_COMPARE_WITH_TIMEOUT(lastKey(), 0x3C90u, kWaitMs);
    listen(0.5);
    QVERIFY(activeVoices() > 0);

    // The server goes away with the note held: the window is told, the note
    // ends, and the built-in synth plays on.
    QVERIFY(jackserver::stop());
    QTRY_COMPARE_WITH_TIMEOUT(window_.count(KORVA_MSG_MIDISTOP), std::size_t(1), kWaitMs);
    QVERIFY(renderUntilSilent());
    QCOMPARE(window_.posted(KORVA_MSG_HITKEY).back().wParam, 0x3C80u);
    QVERIFY(midi(0x7F4090));
    QVERIFY(listen(0.2).rms() > kAudibleRms);
    QVERIFY(midi(0x7F4080));
    QVERIFY(renderUntilSilent());

    // Back under the same names, by themselves, for both directions.
    const pid_t server = jackserver::start();
    QVERIFY(server > 0);
    QTRY_VERIFY_WITH_TIMEOUT(jackserver::ports().contains("Tastavia:out") && jackserver::ports().contains("Tastavia:in"),
                             kWaitMs);
    QCOMPARE(Engine::instance().midiPorts()->output, kOut);
    connectProbe();
    playIn({0x90, 62, 100});
    QVERIFY(activeVoices() > 0);
    QVERIFY(midi(0x7F3E80));
    QTRY_COMPARE_WITH_TIMEOUT(probe_->received(), (std::vector<Bytes>{{0x80, 62, 127}}), kWaitMs);
    QCOMPARE(window_.count(KORVA_MSG_MIDISTOP), std::size_t(1));

    // Killed this time, with the input connected: told again, and closing
    // does not wait for the server that is gone.
    probe_->close();
    QCOMPARE(::kill(server, SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(window_.count(KORVA_MSG_MIDISTOP), std::size_t(2), kWaitMs);
    QVERIFY(KorvaTrue(DisConnectDevice()));
    QCOMPARE(window_.count(KORVA_MSG_MIDISTOP), std::size_t(2));

    // Without a server there are no ports, and that is no failure.
    QVERIFY(KorvaTrue(ConnectDevice(&window_.handle)));
    QVERIFY(!Engine::instance().midiPorts());
    QVERIFY(midi(0x7F3C90));
}

QTEST_GUILESS_MAIN(TestMidiPorts)
#include "tst_midiports.moc"
