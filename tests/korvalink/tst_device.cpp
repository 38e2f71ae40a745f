// The five C functions of PianoHeader.h, driven through the process-wide
// engine with the audio output switched off, so that the tests neither need
// nor disturb a sound server and can listen to what was played.
#include "Engine.h"
#include "Listening.h"
#include "PianoHeader.h"
#include "WindowRecorder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <fluidsynth.h>

#include <atomic>
#include <thread>
#include <unistd.h>

using tastavia::korvalink::Engine;
using tastavia::korvalink::MidiPortOptions;
using tastavia::korvalink::Synth;
using namespace listening;

namespace {

constexpr std::uint32_t kNoteOn = 0x7F3C90;
constexpr std::uint32_t kNoteOff = 0x7F3C80;

// Collects what the library writes on stderr while it lives.
class StderrCapture {
public:
    StderrCapture()
    {
        file_.open();
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        dup2(file_.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }

    QStringList lines()
    {
        restore();
        file_.seek(0);
        return QString::fromUtf8(file_.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    QTemporaryFile file_;
    int saved_ = -1;
};

struct RecordingWindow {
    KorvaWindow handle{this, [](void *self, uint32_t, uint32_t, uint32_t) {
                           ++static_cast<RecordingWindow *>(self)->posts;
                       }};
    std::atomic<int> posts{0};
};

bool jackdRunning()
{
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile comm("/proc/" + pid + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "jackd")
            return true;
    }
    return false;
}

} // namespace

class TestDevice : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void midiInProc_refusesOtherPatterns_data();
    void midiInProc_refusesOtherPatterns();
    void connectTwice_keepsSoundAndSwitchesWindow();
    void reports_postedForNotesTheSynthCannotSound();
    void disconnect_silencesStopsPostingAndRepeats();
    void volumes_rangeCurveAndEarlySetting();
    void connectFailure_oneLineOnStderr_data();
    void connectFailure_oneLineOnStderr();
    void connectFailure_jackAbsent_neverStartsJackd();
    void concurrentCalls_neitherCrashNorDeadlock();

private:
    // A copy of a real font spoilt one way: 0 empty, 1 cut off halfway
    // through its samples, 2 its preset directory overwritten.
    QString brokenFont(const char *name, const QString &from, int how);
    std::unique_ptr<QTemporaryDir> fontDir_ = std::make_unique<QTemporaryDir>();
};

QString TestDevice::brokenFont(const char *name, const QString &from, int how)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        qFatal("no %s to spoil", qPrintable(from));
    QByteArray bytes = source.readAll();
    if (how == 0)
        bytes.clear();
    else if (how == 1)
        bytes.truncate(bytes.size() / 2);
    else {
        const qsizetype pdta = bytes.indexOf("pdta");
        if (pdta < 0)
            qFatal("%s has no preset directory", qPrintable(from));
        for (qsizetype i = pdta + 12; i < bytes.size(); ++i)
            bytes[i] = char(0xA5 ^ (i * 7));
    }
    const QString path = fontDir_->path() + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".sf2");
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestDevice::init()
{
    Engine::instance().setSynthOptions(Synth::offlineOptions());
    // A JACK server of the desktop's is none of these tests' business.
    Engine::instance().setPortOptions(MidiPortOptions{MidiPortOptions::Systems::None, "Tastavia"});
    QVERIFY(KorvaTrue(SetMasterKeyVolume(127)));
}

void TestDevice::cleanup()
{
    DisConnectDevice();
}

void TestDevice::midiInProc_refusesOtherPatterns_data()
{
    QTest::addColumn<QList<quint32>>("args");
    QTest::newRow("not connected") << QList<quint32>{0, 963, 0, kNoteOn, 0, 0};
    QTest::newRow("handle") << QList<quint32>{1, 963, 0, kNoteOn, 0, 1};
    QTest::newRow("MIM_OPEN") << QList<quint32>{0, 961, 0, kNoteOn, 0, 1};
    QTest::newRow("instance") << QList<quint32>{0, 963, 1, kNoteOn, 0, 1};
    QTest::newRow("timestamp") << QList<quint32>{0, 963, 0, kNoteOn, 5, 1};
    QTest::newRow("top byte") << QList<quint32>{0, 963, 0, kNoteOn | 0x01000000u, 0, 1};
    QTest::newRow("note >= 0x80") << QList<quint32>{0, 963, 0, 0x7FBC90u, 0, 1};
    QTest::newRow("velocity >= 0x80") << QList<quint32>{0, 963, 0, 0xFF3C90u, 0, 1};
    QTest::newRow("running status") << QList<quint32>{0, 963, 0, 0x7F3C3Cu, 0, 1};
    QTest::newRow("system exclusive") << QList<quint32>{0, 963, 0, 0x7F3CF0u, 0, 1};
    QTest::newRow("timing clock") << QList<quint32>{0, 963, 0, 0xF8u, 0, 1};
    QTest::newRow("program, second byte") << QList<quint32>{0, 963, 0, 0x0105C0u, 0, 1};
}

void TestDevice::midiInProc_refusesOtherPatterns()
{
    QFETCH(QList<quint32>, args);
    const bool connect = args[5] != 0;
    if (connect)
        QVERIFY(KorvaTrue(ConnectDevice(nullptr)));
    QVERIFY(!KorvaTrue(MidiInProc(args[0], args[1], args[2], args[3], args[4])));
    if (connect) {
        QVERIFY(listen(0.2).peak() < kSilentPeak);
        QCOMPARE(activeVoices(), 0);
        QVERIFY(midi(kNoteOn)); // the refusal left the device working
        QVERIFY(listen(0.2).rms() > kAudibleRms);
    }
}

void TestDevice::connectTwice_keepsSoundAndSwitchesWindow()
{
    RecordingWindow first, second;
    QVERIFY(KorvaTrue(ConnectDevice(&first.handle)));
    QVERIFY(midi(kNoteOn));
    listen(0.1);
    QVERIFY(KorvaTrue(ConnectDevice(&second.handle)));
    QVERIFY(listen(0.1).rms() > kAudibleRms); // the note held before still sounds

    QVERIFY(Engine::instance().post(KORVA_MSG_HITKEY, kNoteOn, 0));
    QCOMPARE(first.posts.load(), 0);
    QCOMPARE(second.posts.load(), 1);
}

void TestDevice::reports_postedForNotesTheSynthCannotSound()
{
    WindowRecorder window;
    QVERIFY(KorvaTrue(ConnectDevice(&window.handle)));
    const Posted outOfRange{KORVA_MSG_ERROR, 0, KORVA_ERR_NOTE_OUT_OF_RANGE};
    const Posted soundFailed{KORVA_MSG_ERROR, 0, KORVA_ERR_SOUND_FAILED};

    // A key the instrument has no sample for: sent, but reported.
    QVERIFY(midi(0x7F7890));
    listen(0.01);
    QVERIFY(midi(0x7F0A99)); // below the drum kit
    listen(0.01);
    QVERIFY(midi(0x7F3C90));
    QVERIFY(midi(0x7F7880)); // note offs are never reported
    QCOMPARE(window.posted(), (std::vector<Posted>{outOfRange, outOfRange}));

    // A channel without an instrument refuses the note: with no output
    // port to have sent it to, the call fails too.
    window.clear();
    Engine::instance().withSynth([](Synth &synth) { fluid_synth_unset_program(synth.fluid(), 2); });
    QVERIFY(!midi(0x7F3C92));
    QVERIFY(midi(0x7F3C82));
    QCOMPARE(window.posted(), (std::vector<Posted>{soundFailed}));
}

void TestDevice::disconnect_silencesStopsPostingAndRepeats()
{
    QVERIFY(KorvaTrue(DisConnectDevice())); // never connected
    RecordingWindow window;
    QVERIFY(KorvaTrue(ConnectDevice(&window.handle)));
    QVERIFY(midi(0x7F40B0)); // sustain pedal
    QVERIFY(midi(kNoteOn));
    QVERIFY(midi(kNoteOff));
    QVERIFY(Engine::instance().post(KORVA_MSG_ERROR, 0, KORVA_ERR_SOUND_FAILED));

    QVERIFY(KorvaTrue(DisConnectDevice()));
    QVERIFY(!midi(kNoteOn));
    QVERIFY(!Engine::instance().post(KORVA_MSG_MIDISTOP, 0, 0));
    QCOMPARE(window.posts.load(), 1);
    QVERIFY(KorvaTrue(DisConnectDevice()));

    // A new connection starts from silence, and a null window is never
    // posted to.
    QVERIFY(KorvaTrue(ConnectDevice(nullptr)));
    QCOMPARE(activeVoices(), 0);
    QVERIFY(listen(0.1).peak() < kSilentPeak);
    QVERIFY(!Engine::instance().post(KORVA_MSG_HITKEY, kNoteOn, 0));
}

void TestDevice::volumes_rangeCurveAndEarlySetting()
{
    QVERIFY(KorvaTrue(SetSlaveKeyVolume(30)));
    QVERIFY(KorvaTrue(SetMasterKeyVolume(0)));
    for (std::uint32_t v : {128u, 0x100u, 0xFFFFFFFFu}) {
        QVERIFY(!KorvaTrue(SetMasterKeyVolume(v)));
        QVERIFY(!KorvaTrue(SetSlaveKeyVolume(v)));
    }
    QCOMPARE(Engine::instance().slaveVolume(), 30u);

    // Set before connecting, the master volume holds from the first note.
    QVERIFY(KorvaTrue(ConnectDevice(nullptr)));
    QVERIFY(midi(kNoteOn));
    QVERIFY(listen(0.3).peak() < kSilentPeak);
    QVERIFY(KorvaTrue(DisConnectDevice()));

    // Half the volume is a quarter of the amplitude (-12 dB), as with
    // General MIDI's volume controller.
    auto loudness = [](std::uint32_t volume) {
        SetMasterKeyVolume(volume);
        ConnectDevice(nullptr);
        midi(kNoteOn);
        const double rms = listen(0.3).rms();
        DisConnectDevice();
        return rms;
    };
    const double ratio = loudness(127) / loudness(64);
    QVERIFY2(ratio > 3.5 && ratio < 4.5, qPrintable(QString::number(ratio)));
}

void TestDevice::connectFailure_oneLineOnStderr_data()
{
    QTest::addColumn<QStringList>("soundFonts");
    QTest::addColumn<QStringList>("drivers");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("remedy");
    QTest::newRow("no SoundFont") << QStringList{"/nonexistent/korva.sf2"} << QStringList{}
                                  << "korvalink: no SoundFont could be loaded (tried /nonexistent/korva.sf2: not found)"
                                  << "install timgm6mb-soundfont";
    // A broken font must fail cleanly, whichever way it is broken.
    const QString real = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
    QTest::newRow("empty SoundFont") << QStringList{brokenFont("empty", real, 0)} << QStringList{}
                                     << "korvalink: no SoundFont could be loaded (tried " + fontDir_->path() +
                                            "/empty.sf2: not a SoundFont)"
                                     << "install timgm6mb-soundfont";
    QTest::newRow("truncated SoundFont") << QStringList{brokenFont("truncated", real, 1)} << QStringList{}
                                         << "korvalink: no SoundFont could be loaded (tried " + fontDir_->path() +
                                                "/truncated.sf2: could not be loaded"
                                         << "install timgm6mb-soundfont";
    QTest::newRow("corrupt SoundFont") << QStringList{brokenFont("corrupt", real, 2)} << QStringList{}
                                       << "korvalink: no SoundFont could be loaded (tried " + fontDir_->path() +
                                              "/corrupt.sf2: could not be loaded"
                                       << "install timgm6mb-soundfont";
    QTest::newRow("no audio output") << QStringList{} << QStringList{"no-such-output", "another-one"}
                                     << "korvalink: no audio output could be opened (tried no-such-output"
                                     << "pipewire-pulse";
}

void TestDevice::connectFailure_oneLineOnStderr()
{
    QFETCH(QStringList, soundFonts);
    QFETCH(QStringList, drivers);
    QFETCH(QString, line);
    QFETCH(QString, remedy);
    Synth::Options options = Synth::offlineOptions();
    if (!soundFonts.isEmpty())
        options.soundFonts = {soundFonts[0].toStdString()};
    for (const QString &driver : drivers)
        options.audioDrivers.push_back(driver.toStdString());
    Engine::instance().setSynthOptions(options);

    StderrCapture capture;
    const bool connected = KorvaTrue(ConnectDevice(nullptr));
    const QStringList lines = capture.lines();
    QVERIFY(!connected);
    QVERIFY2(lines.size() == 1, qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY2(lines[0].startsWith(line), qPrintable(lines[0]));
    QVERIFY2(lines[0].contains(remedy), qPrintable(lines[0]));
    for (const QString &driver : drivers)
        QVERIFY(lines[0].contains(driver));
    QVERIFY(!midi(kNoteOn));

    // Nothing half-open is left behind.
    Engine::instance().setSynthOptions(Synth::offlineOptions());
    QVERIFY(KorvaTrue(ConnectDevice(nullptr)));

    KorvaWindow noPost{this, nullptr};
    QVERIFY(KorvaTrue(DisConnectDevice()));
    StderrCapture again;
    QVERIFY(!KorvaTrue(ConnectDevice(&noPost)));
    QCOMPARE(again.lines().size(), 1);
}

void TestDevice::connectFailure_jackAbsent_neverStartsJackd()
{
    // FluidSynth's own JACK driver would spawn jackd.
    if (jackdRunning())
        QSKIP("a JACK server is running here");
    Synth::Options options = Synth::offlineOptions();
    options.audioDrivers = {"jack"};
    Engine::instance().setSynthOptions(options);
    StderrCapture capture;
    QVERIFY(!KorvaTrue(ConnectDevice(nullptr)));
    QCOMPARE(capture.lines(),
             QStringList{"korvalink: no audio output could be opened (tried jack: no JACK server is running); start a "
                         "PulseAudio-compatible sound server such as pipewire-pulse or pulseaudio"});
    QVERIFY(!jackdRunning());
}

void TestDevice::concurrentCalls_neitherCrashNorDeadlock()
{
    // The GUI thread plays while the audio thread renders and a MIDI input
    // thread posts: all of them meet in the engine.
    RecordingWindow window;
    QVERIFY(KorvaTrue(ConnectDevice(&window.handle)));
    {
        std::jthread renderer([](std::stop_token stop) {
            while (!stop.stop_requested())
                listen(0.005);
        });
        std::jthread poster([](std::stop_token stop) {
            while (!stop.stop_requested())
                Engine::instance().post(KORVA_MSG_HITKEY, kNoteOn, 0);
        });
        for (std::uint32_t i = 0; i < 2000; ++i) {
            const std::uint32_t note = 36 + i % 61;
            QVERIFY(midi(0x7F0090 + note * 256));
            QVERIFY(KorvaTrue(SetMasterKeyVolume(i % 128)));
            QVERIFY(midi(0x7F0080 + note * 256));
            // Voices reach FluidSynth's mixer through a queue that only
            // rendering empties, as an audio thread does every few ms.
            if (i % 8 == 0)
                listen(0.001);
        }
    }
    QVERIFY(KorvaTrue(DisConnectDevice()));
    const int posted = window.posts.load();
    QVERIFY(posted > 0);
    QTest::qWait(20);
    QCOMPARE(window.posts.load(), posted);
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
