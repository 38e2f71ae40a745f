#include "ShortMessage.h"

namespace tastavia::korvalink {

std::optional<ShortMessage> ShortMessage::decode(std::uint32_t packed)
{
    if ((packed & 0xFF000000u) != 0)
        return std::nullopt;
    const auto status = static_cast<std::uint8_t>(packed & 0xFFu);
    const auto data1 = static_cast<std::uint8_t>((packed >> 8) & 0xFFu);
    const auto data2 = static_cast<std::uint8_t>((packed >> 16) & 0xFFu);
    if (status < 0x80 || status >= 0xF0 || data1 >= 0x80 || data2 >= 0x80)
        return std::nullopt;

    const auto kind = static_cast<MessageKind>(status & 0xF0u);
    const bool oneDataByte = kind == MessageKind::ProgramChange || kind == MessageKind::ChannelPressure;
    if (oneDataByte && data2 != 0)
        return std::nullopt;
    return ShortMessage{kind, static_cast<std::uint8_t>(status & 0x0Fu), data1, data2};
}

std::optional<ShortMessage> ShortMessage::fromBytes(const std::uint8_t *bytes, std::size_t size)
{
    if (bytes == nullptr || size < 2 || size > 3)
        return std::nullopt;
    std::uint32_t packed = bytes[0] | (std::uint32_t(bytes[1]) << 8);
    if (size == 3) {
        // A two-byte message with a stray third byte is not taken either.
        if (bytes[2] >= 0x80)
            return std::nullopt;
        packed |= std::uint32_t(bytes[2]) << 16;
    }
    std::optional<ShortMessage> message = decode(packed);
    if (message && message->size() != size)
        return std::nullopt;
    return message;
}

} // namespace tastavia::korvalink
