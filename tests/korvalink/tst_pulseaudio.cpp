// The synthesizer on PulseAudio, the output a desktop has first: the
// private daemon of support/with-pulse.sh with its null sink, or PipeWire's
// pipewire-pulse under support/with-pipewire.sh. When the server goes away
// the audio output has stopped, and the window is told; the null sink's slow
// pace alone is no stop.
#include "Engine.h"
#include "PianoHeader.h"
#include "Listening.h"
#include "WindowRecorder.h"
#include <SoundServer.h>

#include <QProcess>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <cstdlib>

using tastavia::korvalink::Engine;
using tastavia::korvalink::MidiPortOptions;
using tastavia::korvalink::Synth;
namespace soundserver = tastavia::testing::soundserver;

namespace {

// How loud the null sink's monitor is while a note plays, as RMS of full
// scale.
double recordedNoteRms()
{
    const std::vector<qint16> samples = tastavia::testing::recordNullSink([] {
        QTest::qWait(300);
        MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F3C90, 0);
        QTest::qWait(1500);
        MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F3C80, 0);
        QTest::qWait(500);
    });
    double sum = 0;
    for (const qint16 sample : samples)
        sum += double(sample) * sample;
    return samples.empty() ? 0 : std::sqrt(sum / double(samples.size())) / 32768.0;
}

} // namespace

class TestPulseAudio : public QObject {
    Q_OBJECT

private slots:
    void idleOutput_sleepsAndWakesInTimeForTheNote_data();
    void idleOutput_sleepsAndWakesInTimeForTheNote();
    void audioOutput_stopsWhenDaemonGoesAndComesBackWithIt_data();
    void audioOutput_stopsWhenDaemonGoesAndComesBackWithIt();
};

// ALSA reaches the same server through its PulseAudio plugin, the way a
// desktop without pipewire-pulse or pulseaudio's server reaches PipeWire.
void TestPulseAudio::idleOutput_sleepsAndWakesInTimeForTheNote_data()
{
    QTest::addColumn<QString>("driver");
    QTest::newRow("PulseAudio stream") << QStringLiteral("pulseaudio");
    QTest::newRow("ALSA") << QStringLiteral("alsa");
    if (qgetenv("TASTAVIA_SOUND_SERVER") == "pipewire")
        QTest::newRow("PipeWire stream") << QStringLiteral("pipewire");
}

void TestPulseAudio::idleOutput_sleepsAndWakesInTimeForTheNote()
{
    QFETCH(QString, driver);
    Synth::Options options = Synth::deviceOptions();
    options.audioDrivers = {driver.toStdString()};
    Engine::instance().setSynthOptions(options);
    Engine::instance().setPortOptions(MidiPortOptions{MidiPortOptions::Systems::None, "Tastavia"});
    QVERIFY(KorvaTrue(ConnectDevice(nullptr)));
    Engine::instance().withSynth([&](Synth &synth) {
        QVERIFY(synth.audio());
        QCOMPARE(QString::fromStdString(synth.audio()->driver), driver);
        // What the server granted, not only what was asked.
        QVERIFY2(synth.audio()->grantedFrames > 0 && synth.audio()->grantedMs() <= 10,
                 qPrintable(QString::number(synth.audio()->grantedMs())));
    });
    listening::checkSleepAndWake(false);
    QVERIFY(KorvaTrue(DisConnectDevice()));
}

void TestPulseAudio::audioOutput_stopsWhenDaemonGoesAndComesBackWithIt_data()
{
    QTest::addColumn<QString>("driver");
    QTest::newRow("PulseAudio stream") << QStringLiteral("pulseaudio");
    if (qgetenv("TASTAVIA_SOUND_SERVER") == "pipewire")
        QTest::newRow("PipeWire stream") << QStringLiteral("pipewire");
}

void TestPulseAudio::audioOutput_stopsWhenDaemonGoesAndComesBackWithIt()
{
    QFETCH(QString, driver);
    const std::vector<pid_t> servers = soundserver::pids();
    QVERIFY2(!servers.empty(), "run under tests/support/with-pulse.sh or with-pipewire.sh");
    Synth::Options options = Synth::deviceOptions();
    options.audioDrivers = {driver.toStdString()};
    Engine::instance().setSynthOptions(options);
    Engine::instance().setPortOptions(MidiPortOptions{MidiPortOptions::Systems::None, "Tastavia"});

    WindowRecorder window;
    QVERIFY(KorvaTrue(ConnectDevice(&window.handle)));
    std::uint64_t blocks = 0;
    Engine::instance().withSynth([&](Synth &synth) {
        QVERIFY(synth.audio());
        QCOMPARE(QString::fromStdString(synth.audio()->driver), driver);
        QVERIFY(synth.audio()->bufferMs() <= 10);
        blocks = synth.audioBlocks();
    });
    QVERIFY(KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F3C90, 0)));

    // The null sink takes a block only every two seconds, which is slow,
    // not stopped.
    auto audioBlocks = [] {
        std::uint64_t now = 0;
        Engine::instance().withSynth([&](Synth &synth) { now = synth.audioBlocks(); });
        return now;
    };
    QTRY_VERIFY_WITH_TIMEOUT(audioBlocks() > blocks + 2, 10000);
    QCOMPARE(window.count(KORVA_MSG_MIDISTOP), std::size_t(0));

    // The desktop's volume mixer names the stream after the program.
    QProcess pactl;
    pactl.start("pactl", {"list", "sink-inputs"});
    QVERIFY(pactl.waitForFinished(5000));
    const QString inputs = QString::fromUtf8(pactl.readAllStandardOutput());
    QVERIFY2(inputs.contains("application.name = \"Tastavia\""), qPrintable(inputs));
    QVERIFY2(inputs.contains("application.icon_name = \"tastavia\""), qPrintable(inputs));

    for (const pid_t server : servers)
        QCOMPARE(::kill(server, SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(window.count(KORVA_MSG_MIDISTOP), std::size_t(1), 5000);
    // The synthesizer still takes messages while nobody hears them.
    QVERIFY(KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F3C80, 0)));

    // Desktop sound servers restart; the sound comes back by itself.
    QVERIFY(!soundserver::start().empty());
    auto streamIsBack = [] {
        QProcess pactl;
        pactl.start("pactl", {"list", "sink-inputs"});
        pactl.waitForFinished(3000);
        return pactl.readAllStandardOutput().contains("application.name = \"Tastavia\"");
    };
    QTRY_VERIFY_WITH_TIMEOUT(streamIsBack(), 15000);
    const double rms = recordedNoteRms();
    QVERIFY2(rms > 0.005, qPrintable(QString::number(rms)));
    QVERIFY(KorvaTrue(DisConnectDevice()));
    QCOMPARE(window.posted(), (std::vector<Posted>{{KORVA_MSG_MIDISTOP, 0, 0}}));
}

QTEST_GUILESS_MAIN(TestPulseAudio)
#include "tst_pulseaudio.moc"
