// The library's MIDI ports: one client named "Tastavia" with an output port
// that carries every message the program plays to external synthesizers,
// and an input port for an external keyboard.
//
// They live on the ALSA sequencer where the machine has one, and otherwise
// on a JACK server that is already running; with neither there are simply
// no ports. Both are spoken to through their own C libraries rather than
// through a portable MIDI layer, because a keyboard must never leave a note
// hanging: that needs to know when a sender's connection goes away and
// when a JACK server dies, and which client the ports belong to, none of
// which such a layer tells.
//
// Received messages, lost senders and a stopped input are reported to a
// listener on the ports' own thread (never on the thread that sends), one at
// a time and in the order they happened. JACK ports that carry the synth's
// audio (carryAudio) report messages and lost senders on JACK's real-time
// thread instead, in the cycle they came in, so that a note sounds in the
// period it arrives in.
#pragma once

#include "AudioSetup.h"
#include "ShortMessage.h"

#include <memory>
#include <string>

namespace tastavia::korvalink {

class MidiPortsListener {
public:
    virtual ~MidiPortsListener() = default;

    // One channel voice message from the input port. System messages
    // (SysEx, clock, active sensing and the rest) never get here.
    virtual void midiReceived(const ShortMessage &message) = 0;

    // A connection into the input port went away, or incoming messages were
    // lost: whatever notes came in and are still held will get no note off.
    virtual void midiSenderLost() = 0;

    // The input has stopped, because its JACK server went away. Comes once
    // for each going, after a last midiSenderLost(); the ports may come back
    // with the server (see reopen()).
    virtual void midiInputStopped() = 0;
};

enum class MidiSystem { AlsaSequencer, Jack };

struct MidiPortNames {
    MidiSystem system;
    std::string client; // as the system shows it, e.g. "Tastavia"
    std::string output; // full port names, e.g. "Tastavia:out"
    std::string input;
};

class MidiPorts {
public:
    virtual ~MidiPorts() = default;

    // Queues one message on the output port. Messages leave in the order
    // they were sent. False when the port cannot take it (its server has
    // gone, or the queue is full); safe to call from any one thread at a
    // time, and never blocks on the real-time thread.
    virtual bool send(const ShortMessage &message) = 0;

    // Lets what was sent reach the connected receivers, then closes both
    // ports. After it returns the listener is never called again. Does not
    // wait for a server that has gone, nor long for one that hangs. Harmless
    // twice.
    virtual void close() = 0;

    // After close(): the server hung, so the ports were left open to it
    // rather than wait on it for good. Its threads may still call into this
    // object, which must then never be destroyed.
    virtual bool abandoned() const { return false; }

    // Can change when the ports come back under another name.
    virtual MidiPortNames names() const = 0;

    // Recovery from a server that went away, driven by one thread of the
    // caller's (never the sending one), in this order: serverGone() says the
    // ports have lost their server; release() frees what is left of them
    // without waiting on it; reopen() makes one try, limited in time, to
    // bring the same ports back on a server that runs again, true once they
    // are. Until then send() answers false. A system whose server cannot go
    // away answers false to both questions.
    virtual bool serverGone() const { return false; }
    virtual void release() {}
    virtual bool reopen() { return false; }

    // Plays audio through the ports' own client, "left" and "right"
    // connected to the system's playback ports, rendered after each cycle's
    // incoming messages have reached the listener; back with the ports when
    // their server comes back. Only JACK ports can; false elsewhere, and
    // when the ports could not register them.
    virtual bool carryAudio(AudioRender /*render*/, void * /*data*/) { return false; }
};

struct MidiPortOptions {
    enum class Systems {
        Automatic,     // the ALSA sequencer if /dev/snd/seq exists, else a running JACK server
        AlsaSequencer, // only the ALSA sequencer
        Jack,          // only a running JACK server
        None,          // no ports at all
    };
    Systems systems = Systems::Automatic;
    std::string clientName = "Tastavia";
};

struct OpenedMidiPorts {
    std::unique_ptr<MidiPorts> ports; // null when none opened
    std::string error;                // one line, when a system was there but failed
};

// Never starts a JACK server. When none of the systems asked for is
// present, ports is null and error empty: that is not a failure.
OpenedMidiPorts openMidiPorts(const MidiPortOptions &options, MidiPortsListener &listener);

bool alsaSequencerPresent();

// Internal constructors, one per system; same contract as openMidiPorts.
OpenedMidiPorts openJackMidiPorts(const std::string &clientName, MidiPortsListener &listener);
OpenedMidiPorts openAlsaMidiPorts(const std::string &clientName, MidiPortsListener &listener);

} // namespace tastavia::korvalink
