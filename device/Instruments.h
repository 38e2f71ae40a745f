#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace tastavia::device {

// An instrument is held, compared, shown and sent as its program-change
// word: a channel-1 program change packed as a MIDI short message.
using ProgramWord = std::uint32_t;

extern const std::array<const char *, 17> FamilyNames; // 1..16, slot 0 unused
extern const std::array<const char *, 128> PatchNames; // by General MIDI program

constexpr ProgramWord wordOfProgram(int program) { return 0xC0u + 256u * static_cast<std::uint32_t>(program); }
constexpr int programOfWord(ProgramWord word) { return static_cast<int>((word - 0xC0u) / 256u); }
constexpr int familyOfProgram(int program) { return program / 8 + 1; }
constexpr int positionInFamily(int program) { return program % 8; }
constexpr int firstProgramOfFamily(int family) { return 8 * (family - 1); }

// The display name of a word. Words outside the 128 programs have none.
QString nameOfWord(ProgramWord word);

// Length of a text as the GBK code page stores it: one byte for ASCII, two
// for every other character. The instrument label wraps by this measure.
int gbkLength(const QString &text);

} // namespace tastavia::device
