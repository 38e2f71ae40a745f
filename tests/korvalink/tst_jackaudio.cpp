// The synthesizer's audio output on a JACK server (the private one of
// support/with-jack.sh), beside the MIDI ports on the same server. When the
// server dies both the input and the audio output have stopped, and each
// says so. Kills its server at the end.
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
    void audioOutputAndInput_postStopWhenServerGoes();
};

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

void TestJackAudio::audioOutputAndInput_postStopWhenServerGoes()
{
    const char *pid = std::getenv("TASTAVIA_JACK_PID");
    QVERIFY2(pid, "run under tests/support/with-jack.sh");
    Synth::Options options = Synth::offlineOptions();
    options.audioDrivers = {"jack"};
    Engine::instance().setSynthOptions(options);
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

    // The synth's ports sit in a client of their own, beside the MIDI one.
    QCOMPARE(Engine::instance().midiPorts()->client, std::string("Tastavia"));
    JackProbe probe;
    QVERIFY(probe.ok());
    const char **ports = jack_get_ports(probe.client(), "^Tastavia synth:", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    QVERIFY(ports && ports[0] && ports[1]);
    jack_free(ports);
    probe.close();

    // Audio flowing for longer than the stop limit is not a stop.
    QTest::qWait(1500);
    Engine::instance().withSynth([&](Synth &synth) { QVERIFY(synth.audioBlocks() > blocks + 100); });
    QCOMPARE(window.count(KORVA_MSG_MIDISTOP), std::size_t(0));

    // The input tells at once, the audio output after two seconds of silence;
    // closing two clients of a dead server must not crash either.
    QCOMPARE(::kill(std::atoi(pid), SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(window.count(KORVA_MSG_MIDISTOP), std::size_t(2), 8000);
    QVERIFY(KorvaTrue(DisConnectDevice()));
    QCOMPARE(window.posted(), (std::vector<Posted>(2, {KORVA_MSG_MIDISTOP, 0, 0})));
}

QTEST_GUILESS_MAIN(TestJackAudio)
#include "tst_jackaudio.moc"
