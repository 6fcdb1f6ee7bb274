#pragma once

#include <cstdint>
#include <optional>

namespace sondrel::tags {

enum class TextEncoding { ISO88591, UTF16, UTF16BE, UTF8 };

// The encoding a frame's encoding byte names. 0x02 (UTF-16 big-endian) and 0x03 (UTF-8) are
// ID3v2.4's, but taggers write them into older versions too, so they are read in every version.
// Any other byte names no encoding: the frame cannot be read as text.
[[nodiscard]] constexpr std::optional<TextEncoding> textEncoding(std::uint8_t encodingByte) noexcept
{
    switch (encodingByte) {
    case 0x00:
        return TextEncoding::ISO88591;
    case 0x01:
        return TextEncoding::UTF16;
    case 0x02:
        return TextEncoding::UTF16BE;
    case 0x03:
        return TextEncoding::UTF8;
    default:
        return std::nullopt;
    }
}

// One zero byte ends a string in ISO-8859-1 and UTF-8, a zero code unit in the UTF-16 encodings.
[[nodiscard]] constexpr std::size_t terminatorSize(TextEncoding encoding) noexcept
{
    return encoding == TextEncoding::UTF16 || encoding == TextEncoding::UTF16BE ? 2 : 1;
}

} // namespace sondrel::tags
