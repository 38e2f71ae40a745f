// A MIDI short message as the device ABI packs it into 32 bits: status in
// bits 0-7, first data byte in bits 8-15, second in bits 16-23, and nothing
// above. Only channel voice messages are taken; system messages have no
// meaning for a synthesizer fed one message at a time.
#pragma once

#include <cstdint>
#include <optional>

namespace tastavia::korvalink {

enum class MessageKind : std::uint8_t {
    NoteOff = 0x80,
    NoteOn = 0x90,
    KeyPressure = 0xA0,
    Controller = 0xB0,
    ProgramChange = 0xC0,
    ChannelPressure = 0xD0,
    PitchBend = 0xE0,
};

struct ShortMessage {
    MessageKind kind;
    std::uint8_t channel; // 0..15
    std::uint8_t data1;   // 0..127
    std::uint8_t data2;   // 0..127, always 0 for two-byte messages

    // MIDI lets a note on with velocity 0 stand for a note off.
    bool isNoteOff() const
    {
        return kind == MessageKind::NoteOff || (kind == MessageKind::NoteOn && data2 == 0);
    }

    // Refuses anything that is not a well-formed channel voice message:
    // bits set above the second data byte, data bytes with the top bit set,
    // a status below 0x80 or in the system range, and a non-zero second
    // byte on program change and channel pressure, which carry only one.
    static std::optional<ShortMessage> decode(std::uint32_t packed);
};

} // namespace tastavia::korvalink
