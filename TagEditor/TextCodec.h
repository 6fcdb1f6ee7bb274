#pragma once

#include "TextEncoding.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel::tags {

// Conversions between frame text bytes and UTF-8 strings.
class TextCodec {
public:
    TextCodec() = delete;

    // UTF-8 text of the bytes; none when they are not valid in the encoding. UTF-16 must start
    // with a byte-order mark (either order), have an even length and pair its surrogates.
    // No bytes decode to the empty text.
    [[nodiscard]] static std::optional<std::string> decode(
        std::span<const std::uint8_t> bytes, TextEncoding encoding);

    // 0xFF 0xFE and the text as little-endian UTF-16 code units, no terminator. Bytes that are
    // not valid UTF-8 become U+FFFD.
    static void appendUtf16WithByteOrderMark(std::vector<std::uint8_t>& out, std::string_view utf8);

    // The text without U+0000 characters at either end.
    [[nodiscard]] static std::string_view trimNulls(std::string_view text) noexcept;
};

} // namespace sondrel::tags
