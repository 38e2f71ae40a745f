// The built-in synthesizer, heard offline: no audio driver, samples pulled
// through render() the way FluidSynth's own tests pull them.
#include "Listening.h"
#include "ShortMessage.h"
#include "Synth.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fluidsynth.h>

#include <fstream>
#include <map>

using tastavia::korvalink::ShortMessage;
using tastavia::korvalink::Synth;
using namespace listening;

namespace {

std::unique_ptr<Synth> openOffline()
{
    Synth::Opened opened = Synth::open(Synth::offlineOptions());
    if (!opened.synth)
        qWarning("offline synth failed: %s", opened.error.c_str());
    return std::move(opened.synth);
}

bool send(Synth &synth, std::uint32_t packed)
{
    const auto message = ShortMessage::decode(packed);
    return message && synth.send(*message) == Synth::Result::Played;
}

constexpr std::uint32_t noteOn(int note, int channel = 0) { return 0x7F0090u + channel + (note << 8); }
constexpr std::uint32_t noteOff(int note, int channel = 0) { return 0x7F0080u + channel + (note << 8); }
constexpr std::uint32_t program(int p, int channel = 0) { return 0xC0u + channel + (p << 8); }

// Middle C's harmonic fingerprint on a fresh synth, taken after the attack
// so that the steady sound is compared, not the onset.
std::array<double, 8> middleCProfile(int programNumber)
{
    auto synth = openOffline();
    if (!synth)
        return {};
    send(*synth, program(programNumber));
    send(*synth, noteOn(60));
    render(*synth, 0.1);
    return render(*synth, 0.4).harmonicProfile(261.63);
}

double distance(const std::array<double, 8> &a, const std::array<double, 8> &b)
{
    double d = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        d += std::fabs(a[i] - b[i]);
    return d;
}

} // namespace

class TestSynth : public QObject {
    Q_OBJECT

private slots:
    void noteOn_soundsAndNoteOff_fadesToSilence();
    void noteOff_ofEndedOrUnplayedNote_isAccepted();
    void noteOn_withoutSample_isSilentAndWithoutInstrument_refused();
    void noteOn_floodFasterThanTheOutput_isOverloadedNeverRefused();
    void programChange_changesTimbre();
    void silence_stopsEveryVoice_evenSustainedAndDrums();
    void soundFont_badCandidatesSkippedAndNamed();
};

void TestSynth::noteOn_soundsAndNoteOff_fadesToSilence()
{
    auto synth = openOffline();
    QVERIFY(synth);
    QVERIFY(!synth->audio());
    QVERIFY(render(*synth, 0.1).peak() < kSilentPeak);

    QVERIFY(send(*synth, noteOn(60)));
    const double held = render(*synth, 0.3).rms();
    QVERIFY2(held > kAudibleRms, qPrintable(QString::number(held)));

    QVERIFY(send(*synth, noteOff(60)));
    // Render well past the piano's release and the reverb's tail.
    render(*synth, 3.0);
    QCOMPARE(synth->activeVoices(), 0);
    QVERIFY(render(*synth, 0.2).peak() < kSilentPeak);
}

void TestSynth::noteOff_ofEndedOrUnplayedNote_isAccepted()
{
    // The keyboard keeps a key down until its note off is accepted, so
    // refusing one for a sound that already ended would hang the key.
    auto synth = openOffline();
    QVERIFY(synth);
    QVERIFY(send(*synth, noteOff(61)));
    QVERIFY(send(*synth, 0x3D90)); // note on, velocity 0

    QVERIFY(send(*synth, program(115))); // woodblock: dies away while held
    QVERIFY(send(*synth, noteOn(72)));
    render(*synth, 3.0);
    QCOMPARE(synth->activeVoices(), 0);
    QVERIFY(send(*synth, noteOff(72)));
}

void TestSynth::noteOn_withoutSample_isSilentAndWithoutInstrument_refused()
{
    using Result = Synth::Result;
    auto synth = openOffline();
    QVERIFY(synth);
    auto result = [&](std::uint32_t packed) {
        const Result r = synth->send(*ShortMessage::decode(packed));
        render(*synth, 0.01); // as an audio thread would, between key presses
        return r;
    };
    // TimGM6mb's pianos end at key 108, its drum kit spans keys 27 to 87.
    QCOMPARE(result(0x7F3C90), Result::Played);
    QCOMPARE(result(0x7F6C90), Result::Played);
    QCOMPARE(result(0x7F6D90), Result::Silent);
    QCOMPARE(result(0x7F2699), Result::Played);
    QCOMPARE(result(0x7F0A99), Result::Silent);
    QCOMPARE(result(0x7F5899), Result::Silent);
    // Struck again while it sounds, a key still counts as sounding.
    QCOMPARE(result(0x7F3C90), Result::Played);
    QCOMPARE(result(0x003C90), Result::Played); // velocity 0: a note off

    QCOMPARE(fluid_synth_unset_program(synth->fluid(), 3), FLUID_OK);
    QCOMPARE(result(0x7F3C93), Result::Refused);
    QCOMPARE(result(0x403C83), Result::Played);
    QCOMPARE(result(0x05C3), Result::Played); // an instrument again
    QCOMPARE(result(0x7F3C93), Result::Played);

    // Out of voices part-way through a two-layer instrument (the electric
    // grand): the layer that started sounds, so the note counts as played
    // and its note off ends it.
    synth->silence();
    render(*synth, 0.05);
    QCOMPARE(fluid_synth_set_polyphony(synth->fluid(), 1), FLUID_OK);
    QCOMPARE(result(0x02C4), Result::Played);
    QCOMPARE(result(0x7F3C94), Result::Played);
    QCOMPARE(result(0x403C84), Result::Played);
    render(*synth, 2.0);
    QCOMPARE(synth->activeVoices(), 0);
}

void TestSynth::noteOn_floodFasterThanTheOutput_isOverloadedNeverRefused()
{
    using Result = Synth::Result;
    auto synth = openOffline();
    QVERIFY(synth);
    auto play = [&](int note) { return synth->send(*ShortMessage::decode(noteOn(note))); };
    // Every voice taken by notes not yet rendered: none can be stolen.
    QCOMPARE(fluid_synth_set_polyphony(synth->fluid(), 4), FLUID_OK);
    for (int note = 60; note < 64; ++note)
        QCOMPARE(play(note), Result::Played);
    QCOMPARE(play(64), Result::Overloaded);

    // With an audio thread rendering beside the flood, voices end between
    // one call into FluidSynth and the next: a flood must not read as a
    // refusal, which the user is shown. This thread renders far faster than
    // an audio device, so a note can even die away before the look at its
    // own voices (and read as silent) when the flooding thread is
    // preempted; that takes a real output the length of the note.
    QVERIFY(send(*synth, program(115))); // woodblock: dies away by itself
    std::map<Result, int> seen;
    {
        std::jthread audio([&](std::stop_token stop) {
            while (!stop.stop_requested())
                render(*synth, 64.0 / 48000);
        });
        // The gap between two calls is wide only when the flooding thread
        // is preempted there, as on a busy desktop: keep every core busy.
        std::vector<std::jthread> busy;
        for (unsigned n = std::max(2u, std::thread::hardware_concurrency()); n > 0; --n)
            busy.emplace_back([](std::stop_token stop) {
                while (!stop.stop_requested()) {
                }
            });
        for (int i = 0; i < 200000; ++i)
            ++seen[play(36 + i % 61)];
    }
    qInfo("flood: %d played, %d overloaded", seen[Result::Played], seen[Result::Overloaded]);
    QCOMPARE(seen[Result::Refused], 0);
    QVERIFY(seen[Result::Overloaded] > 0);
}

void TestSynth::programChange_changesTimbre()
{
    // The same program twice gives the same fingerprint, so the difference
    // between programs is the instrument and not measurement noise.
    const auto piano = middleCProfile(0);
    const double same = distance(piano, middleCProfile(0));
    const double flute = distance(piano, middleCProfile(73));
    QVERIFY2(same < 0.05, qPrintable(QString::number(same)));
    QVERIFY2(flute > 0.3, qPrintable(QString::number(flute)));
}

void TestSynth::silence_stopsEveryVoice_evenSustainedAndDrums()
{
    auto synth = openOffline();
    QVERIFY(synth);
    QVERIFY(send(*synth, 0x7F40B0)); // sustain pedal down
    for (int note : {48, 52, 55, 60}) {
        QVERIFY(send(*synth, noteOn(note)));
        QVERIFY(send(*synth, noteOff(note))); // held on by the pedal
    }
    QVERIFY(send(*synth, program(48, 5)));
    QVERIFY(send(*synth, noteOn(67, 5)));
    QVERIFY(send(*synth, noteOn(38, 9))); // snare on the drum channel
    // A glockenspiel struck and let go within FluidSynth's shortest note,
    // caught by the sostenuto pedal: its release lasts seconds.
    QVERIFY(send(*synth, program(9, 6)));
    QVERIFY(send(*synth, noteOn(72, 6)));
    render(*synth, 0.005);
    QVERIFY(send(*synth, noteOff(72, 6)));
    QVERIFY(send(*synth, 0x7F42B6)); // sostenuto down
    render(*synth, 0.005);
    QVERIFY(synth->activeVoices() >= 7);

    synth->silence();
    render(*synth, 0.01);
    QCOMPARE(synth->activeVoices(), 0);
    render(*synth, 2.0); // the reverb's tail
    QVERIFY(render(*synth, 0.2).peak() < kSilentPeak);
}

void TestSynth::soundFont_badCandidatesSkippedAndNamed()
{
    QTemporaryDir dir;
    const std::string missing = (dir.path() + "/missing.sf2").toStdString();
    const std::string text = (dir.path() + "/notes.txt").toStdString();
    const std::string truncated = (dir.path() + "/truncated.sf2").toStdString();
    std::ofstream(text) << "not a SoundFont\n";
    // The right magic and nothing behind it: passes a quick look, fails to load.
    std::ofstream(truncated, std::ios::binary).write("RIFF\x04\0\0\0sfbk", 12);

    Synth::Opened none = Synth::open(Synth::Options{{missing, text, truncated}, {}, 48000});
    QVERIFY(!none.synth);
    QVERIFY(none.error.find(missing + ": not found") != std::string::npos);
    QVERIFY(none.error.find(text + ": not a SoundFont") != std::string::npos);
    QVERIFY(none.error.find(truncated + ": could not be loaded") != std::string::npos);
    QVERIFY(none.error.find('\n') == std::string::npos);

    Synth::Options options = Synth::offlineOptions();
    QVERIFY2(!options.soundFonts.empty(), "timgm6mb-soundfont must be installed");
    const std::string good = options.soundFonts.front();
    options.soundFonts = {missing, truncated, good};
    Synth::Opened opened = Synth::open(options);
    QVERIFY2(opened.synth, opened.error.c_str());
    QCOMPARE(opened.synth->soundFont(), good);
    QVERIFY(send(*opened.synth, noteOn(60)));
    QVERIFY(render(*opened.synth, 0.2).rms() > kAudibleRms);
}

QTEST_GUILESS_MAIN(TestSynth)
#include "tst_synth.moc"
