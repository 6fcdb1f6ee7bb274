#pragma once

#include "Id3Version.h"

#include <cstdint>

namespace sondrel::tags {

enum class TextEncoding { ISO88591, UTF16, UTF8 };

// The encoding a frame's encoding byte names: 0x01 is UTF-16 in every version, 0x03 UTF-8 in
// version 2.4 only; every other byte (0x02 and 0x03 before 2.4 included) reads as ISO-8859-1.
[[nodiscard]] constexpr TextEncoding textEncoding(std::uint8_t encodingByte, Id3Version version) noexcept
{
    if (encodingByte == 0x01)
        return TextEncoding::UTF16;
    if (encodingByte == 0x03 && version == Id3Version::version4)
        return TextEncoding::UTF8;
    return TextEncoding::ISO88591;
}

} // namespace sondrel::tags
