#include "AlsaEvents.h"

namespace tastavia::korvalink {

namespace {

constexpr int kBendCentre = 8192;

std::optional<ShortMessage> make(MessageKind kind, unsigned channel, int data1, int data2)
{
    if (channel > 15 || data1 < 0 || data1 > 127 || data2 < 0 || data2 > 127)
        return std::nullopt;
    return ShortMessage{kind, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(data1),
                        static_cast<std::uint8_t>(data2)};
}

} // namespace

snd_seq_event_t toAlsaEvent(const ShortMessage &m)
{
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    switch (m.kind) {
    case MessageKind::NoteOff:
        snd_seq_ev_set_noteoff(&event, m.channel, m.data1, m.data2);
        break;
    case MessageKind::NoteOn:
        // Velocity 0 stays a note on; receivers know what it means.
        snd_seq_ev_set_noteon(&event, m.channel, m.data1, m.data2);
        break;
    case MessageKind::KeyPressure:
        snd_seq_ev_set_keypress(&event, m.channel, m.data1, m.data2);
        break;
    case MessageKind::Controller:
        snd_seq_ev_set_controller(&event, m.channel, m.data1, m.data2);
        break;
    case MessageKind::ProgramChange:
        snd_seq_ev_set_pgmchange(&event, m.channel, m.data1);
        break;
    case MessageKind::ChannelPressure:
        snd_seq_ev_set_chanpress(&event, m.channel, m.data1);
        break;
    case MessageKind::PitchBend:
        snd_seq_ev_set_pitchbend(&event, m.channel, (m.data1 | (m.data2 << 7)) - kBendCentre);
        break;
    }
    return event;
}

std::optional<ShortMessage> fromAlsaEvent(const snd_seq_event_t &e)
{
    const snd_seq_ev_note_t &note = e.data.note;
    const snd_seq_ev_ctrl_t &control = e.data.control;
    switch (e.type) {
    case SND_SEQ_EVENT_NOTEON:
        return make(MessageKind::NoteOn, note.channel, note.note, note.velocity);
    case SND_SEQ_EVENT_NOTEOFF:
        return make(MessageKind::NoteOff, note.channel, note.note, note.velocity);
    case SND_SEQ_EVENT_KEYPRESS:
        return make(MessageKind::KeyPressure, note.channel, note.note, note.velocity);
    case SND_SEQ_EVENT_CONTROLLER:
        if (control.param > 127)
            return std::nullopt;
        return make(MessageKind::Controller, control.channel, int(control.param), control.value);
    case SND_SEQ_EVENT_PGMCHANGE:
        return make(MessageKind::ProgramChange, control.channel, control.value, 0);
    case SND_SEQ_EVENT_CHANPRESS:
        return make(MessageKind::ChannelPressure, control.channel, control.value, 0);
    case SND_SEQ_EVENT_PITCHBEND: {
        const int bend = control.value + kBendCentre;
        if (bend < 0 || bend > 0x3FFF)
            return std::nullopt;
        return make(MessageKind::PitchBend, control.channel, bend & 0x7F, bend >> 7);
    }
    default:
        return std::nullopt;
    }
}

} // namespace tastavia::korvalink
