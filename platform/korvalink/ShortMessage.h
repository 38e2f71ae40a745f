// A MIDI short message as the device ABI packs it into 32 bits: status in
// bits 0-7, first data byte in bits 8-15, second in bits 16-23, and nothing
// above. Only channel voice messages are taken; system messages have no
// meaning for a synthesizer fed one message at a time.
#pragma once

#include <array>
#include <cstddef>
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
    bool isSoundingNoteOn() const { return kind == MessageKind::NoteOn && data2 != 0; }

    std::uint8_t status() const { return static_cast<std::uint8_t>(kind) | channel; }

    // Bytes on the wire: program change and channel pressure carry one data
    // byte, everything else two.
    std::size_t size() const
    {
        return kind == MessageKind::ProgramChange || kind == MessageKind::ChannelPressure ? 2 : 3;
    }
    std::array<std::uint8_t, 3> bytes() const { return {status(), data1, data2}; }

    std::uint32_t pack() const
    {
        return status() | (std::uint32_t(data1) << 8) | (std::uint32_t(data2) << 16);
    }

    static ShortMessage controller(std::uint8_t channel, std::uint8_t number, std::uint8_t value)
    {
        return {MessageKind::Controller, channel, number, value};
    }

    // Refuses anything that is not a well-formed channel voice message:
    // bits set above the second data byte, data bytes with the top bit set,
    // a status below 0x80 or in the system range, and a non-zero second
    // byte on program change and channel pressure, which carry only one.
    static std::optional<ShortMessage> decode(std::uint32_t packed);

    // The same from bytes as a MIDI port delivers them: one complete
    // message with its status byte (no running status) and exactly as many
    // data bytes as the status calls for.
    static std::optional<ShortMessage> fromBytes(const std::uint8_t *bytes, std::size_t size);
};

// Controller numbers the library itself sends or watches.
namespace cc {
constexpr std::uint8_t Sustain = 64;
constexpr std::uint8_t Sostenuto = 66;
constexpr std::uint8_t Legato = 68;
constexpr std::uint8_t AllSoundOff = 120;
constexpr std::uint8_t ResetAllControllers = 121;
constexpr std::uint8_t AllNotesOff = 123;
} // namespace cc

} // namespace tastavia::korvalink
