// tastavia-sendnote [-v] [program]
//
// Connects the device library, plays C-E-G on General MIDI program
// `program` (0..127, default 0, piano), each note held 400 ms, and
// disconnects. Exits 0 only if every call was accepted. With -v it says
// which SoundFont and audio output it got.
#include "Engine.h"
#include "PianoHeader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

bool check(bool ok, const char *what)
{
    if (!ok)
        std::fprintf(stderr, "tastavia-sendnote: %s was refused\n", what);
    return ok;
}

bool parseProgram(const char *text, std::uint32_t &program)
{
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 127)
        return false;
    program = static_cast<std::uint32_t>(value);
    return true;
}

void describe()
{
    tastavia::korvalink::Engine::instance().withSynth([](tastavia::korvalink::Synth &synth) {
        std::printf("SoundFont %s loaded in %.1f ms\n", synth.soundFont().c_str(), synth.soundFontLoadMs());
        if (const auto &audio = synth.audio()) {
            std::printf("audio %s at %.0f Hz", audio->driver.c_str(), audio->sampleRate);
            if (audio->periods > 0)
                std::printf(", %d x %d frames (%.1f ms)", audio->periods, audio->periodSize, audio->bufferMs());
            if (audio->grantedFrames > 0)
                std::printf(", granted %d frames (%.1f ms)", audio->grantedFrames, audio->grantedMs());
            std::printf("\n");
        }
    });
}

} // namespace

int main(int argc, char **argv)
{
    bool verbose = false;
    std::uint32_t program = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-v") == 0) {
            verbose = true;
        } else if (!parseProgram(argv[i], program)) {
            std::fprintf(stderr, "usage: tastavia-sendnote [-v] [program 0..127]\n");
            return 2;
        }
    }

    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    bool ok = check(KorvaTrue(ConnectDevice(nullptr)), "ConnectDevice");
    if (verbose && ok) {
        std::printf("connected in %.1f ms\n",
                    std::chrono::duration<double, std::milli>(clock::now() - start).count());
        describe();
    }
    ok = check(KorvaTrue(SetMasterKeyVolume(127)), "SetMasterKeyVolume") && ok;
    ok = check(KorvaTrue(SetSlaveKeyVolume(127)), "SetSlaveKeyVolume") && ok;

    if (ok) {
        ok = check(KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, 0xC0 + program * 256, 0)), "program change");
        for (const std::uint32_t note : {60u, 64u, 67u}) {
            if (!ok)
                break;
            ok = check(KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F0090 + note * 256, 0)), "note on");
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            ok = check(KorvaTrue(MidiInProc(0, KORVA_MIM_DATA, 0, 0x7F0080 + note * 256, 0)), "note off") && ok;
        }
        // Let the last note's release ring out before the output stops.
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }

    ok = check(KorvaTrue(DisConnectDevice()), "DisConnectDevice") && ok;
    return ok ? 0 : 1;
}
