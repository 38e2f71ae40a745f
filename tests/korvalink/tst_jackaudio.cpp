// The synthesizer's audio output on a JACK server (the private one of
// support/with-jack.sh, or PipeWire's), beside the MIDI ports on the same
// server. When the server dies both the input and the audio output have
// stopped, and each says so; when it comes back, so do they. Restarts its
// server, and kills it at the end.
#include "Engine.h"
#include <JackProbe.h>
#include "PianoHeader.h"
#include "Listening.h"
#include "WindowRecorder.h"

#include <QtTest>

#include <csignal>
#include <cstdlib>

using tastavia::korvalink::Engine;
using tastavia::korvalink::MidiPortOptions;
using tastavia::korvalink::Synth;

class TestJackAudio : public QObject {
    Q_OBJECT

private slots:
    void idleOutput_sleepsAndWakesInTimeForTheNote();
    void incomingNote_soundsInThePeriodItArrives();
    void audioOutputAndPorts_comeBackWithTheServer();
    void audioOutputAndInput_postStopWhenServerGoes();

private:
    pid_t server_ = 0; // once restarted
};

namespace {

Synth::Options jackAudio()
{
    Synth::Options options = Synth::offlineOptions();
    options.audioDrivers = {"jack"};
    return options;
}

} // namespace

void TestJackAudio::idleOutput_sleepsAndWakesInTimeForTheNote()
{
    Synth::Options options = Synth::offlineOptions();
    options.audioDrivers = {"jack"};
    Engine::instance().setSynthOptions(options);
    Engine::instance().setPortOptions(MidiPortOptions{MidiPortOptions::Systems::None, "Tastavia"});
    QVERIFY(KorvaTrue(ConnectDevice(nullptr)));
    // JACK asks for every period whatever happens; asleep, none is rendered.
    listening::checkSleepAndWake(true);
    QVERIFY(KorvaTrue(DisConnectDevice()));
}

// An external keyboard's note is played and rendered in the cycle that
// brings it, as FluidSynth's own MIDI driver does; handed from one client to
// another it sounded a period late.
void TestJackAudio::incomingNote_soundsInThePeriodItArrives()
{
    Engine::instance().setSynthOptions(jackAudio());
    Engine::instance().setPortOptions(MidiPortOptions{MidiPortOptions::Systems::Jack, "Tastavia"});
    QVERIFY(KorvaTrue(ConnectDevice(nullptr)));
    JackProbe keyboard("keyboard");
    JackProbe ear("ear", true);
    QVERIFY(keyboard.ok() && ear.ok());
    QVERIFY(keyboard.connect(keyboard.outName(), "Tastavia:in"));
    QVERIFY(ear.connect("Tastavia:left", ear.audioName()));
    QVERIFY(ear.waitForCycles(3, 5000));
    const jack_nframes_t period = jack_get_buffer_size(ear.client());
    for (const std::uint8_t key : {48, 60, 72}) {
        ear.listenFor(1e-3f);
        keyboard.takeSentFrame();
        keyboard.send({0x90, key, 127});
        QTRY_VERIFY_WITH_TIMEOUT(ear.loudFrame().has_value(), 3000);
        const std::optional<jack_nframes_t> sent = keyboard.takeSentFrame();
        QVERIFY(sent);
        const jack_nframes_t late = *ear.loudFrame() - *sent;
        QVERIFY2(late < period, qPrintable(QStringLiteral("%1 frames after a note sent at the start of a %2-frame period")
                                               .arg(late).arg(period)));
        keyboard.send({0x80, key, 0});
        QTRY_COMPARE_WITH_TIMEOUT(listening::activeVoices(), 0, 5000);
    }
    keyboard.close();
    ear.close();
    QVERIFY(KorvaTrue(DisConnectDevice()));
}

void TestJackAudio::audioOutputAndPorts_comeBackWithTheServer()
{
    Engine::instance().setSynthOptions(jackAudio());
    Engine::instance().setPortOptions(MidiPortOptions{MidiPortOptions::Systems::Jack, "Tastavia"});
    WindowRecorder window;
    QVERIFY(KorvaTrue(ConnectDevice(&window.handle)));

    // The ports hear at once that the server went, and the output, on the
    // same server, is told with them rather than after its silence.
    QVERIFY(jackserver::stop());
    QTRY_COMPARE_WITH_TIMEOUT(window.count(KORVA_MSG_MIDISTOP), std::size_t(2), 1500);
    // Playing meanwhile is not refused and waits for nothing.
    QVERIFY(KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F3C90, 0)));
    QVERIFY(KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F3C80, 0)));

    std::uint64_t away = 0;
    Engine::instance().withSynth([&](Synth &synth) { away = synth.audioBlocks(); });
    server_ = jackserver::start();
    QVERIFY(server_ > 0);
    QTRY_VERIFY_WITH_TIMEOUT(jackserver::ports().contains("Tastavia:left") && jackserver::ports().contains("Tastavia:in"), 5000);
    JackProbe ear("ear", true);
    QVERIFY(ear.ok());
    QVERIFY(ear.connect("Tastavia:left", ear.audioName()));
    QVERIFY(ear.waitForCycles(3, 5000));
    // At most the last of the reverb of what was played while it was away,
    // which began when the synth rendered again: half a second of its
    // rendering, however soon after that the server lists its ports.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            std::uint64_t now = 0;
            Engine::instance().withSynth([&](Synth &synth) { now = synth.audioBlocks(); });
            return now > away + 48000 / 128 / 2;
        }(),
        5000);
    ear.takeAudioPeak();
    QTest::qWait(100);
    const float tail = ear.takeAudioPeak();
    QVERIFY2(tail < 1e-3f, qPrintable(QString::number(tail)));
    QVERIFY(KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F3C90, 0)));
    float peak = 0;
    QTRY_VERIFY_WITH_TIMEOUT((peak = std::max(peak, ear.takeAudioPeak())) > 0.01f, 3000);
    QVERIFY(KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F3C80, 0)));
    QCOMPARE(window.count(KORVA_MSG_MIDISTOP), std::size_t(2));
    ear.close();
    QVERIFY(KorvaTrue(DisConnectDevice()));
}

void TestJackAudio::audioOutputAndInput_postStopWhenServerGoes()
{
    const char *pid = std::getenv("TASTAVIA_JACK_PID");
    QVERIFY2(pid, "run under tests/support/with-jack.sh or with-pipewire.sh --jack");
    const pid_t server = server_ > 0 ? server_ : std::atoi(pid);
    Engine::instance().setSynthOptions(jackAudio());
    Engine::instance().setPortOptions(MidiPortOptions{MidiPortOptions::Systems::Jack, "Tastavia"});

    WindowRecorder window;
    QVERIFY(KorvaTrue(ConnectDevice(&window.handle)));
    std::uint64_t blocks = 0;
    Engine::instance().withSynth([&](Synth &synth) {
        QVERIFY(synth.audio());
        QCOMPARE(synth.audio()->driver, std::string("jack"));
        QCOMPARE(synth.sampleRate(), 48000.0);
        blocks = synth.audioBlocks();
    });
    QVERIFY(KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F3C90, 0)));

    // The synth plays in the MIDI ports' client, connected to the playback
    // ports.
    QCOMPARE(Engine::instance().midiPorts()->client, std::string("Tastavia"));
    JackProbe probe;
    QVERIFY(probe.ok());
    const char **ports = jack_get_ports(probe.client(), "^Tastavia:", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    QVERIFY(ports && ports[0] && ports[1]);
    for (const char *side : {ports[0], ports[1]}) {
        const char **to = jack_port_get_all_connections(probe.client(), jack_port_by_name(probe.client(), side));
        QVERIFY2(to && to[0], side);
        jack_free(to);
    }
    jack_free(ports);
    probe.close();

    // Audio flowing for longer than the stop limit is not a stop.
    QTest::qWait(1500);
    Engine::instance().withSynth([&](Synth &synth) { QVERIFY(synth.audioBlocks() > blocks + 100); });
    QCOMPARE(window.count(KORVA_MSG_MIDISTOP), std::size_t(0));

    // The input tells at once, the audio output after two seconds of silence;
    // closing two clients of a dead server must not crash either.
    QCOMPARE(::kill(server, SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(window.count(KORVA_MSG_MIDISTOP), std::size_t(2), 8000);
    QVERIFY(KorvaTrue(DisConnectDevice()));
    QCOMPARE(window.posted(), (std::vector<Posted>(2, {KORVA_MSG_MIDISTOP, 0, 0})));
}

QTEST_GUILESS_MAIN(TestJackAudio)
#include "tst_jackaudio.moc"
