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
    // with a byte-order mark (either order), UTF-16BE is big-endian unless a mark says otherwise;
    // both must have an even length and pair their surrogates. No bytes decode to the empty text.
    [[nodiscard]] static std::optional<std::string> decode(
        std::span<const std::uint8_t> bytes, TextEncoding encoding);

    // 0xFF 0xFE and the text as little-endian UTF-16 code units, no terminator. Bytes that are
    // not valid UTF-8 become U+FFFD.
    static void appendUtf16WithByteOrderMark(std::vector<std::uint8_t>& out, std::string_view utf8);

    // Where the first string of `bytes` ends: the first zero byte, or in the UTF-16 encodings the
    // first zero code unit (two zero bytes at an even offset); npos when there is none.
    [[nodiscard]] static std::size_t findTerminator(
        std::span<const std::uint8_t> bytes, TextEncoding encoding) noexcept;

    // Whether ISO-8859-1 holds every character of the (valid UTF-8) text.
    [[nodiscard]] static bool isLatin1(std::string_view utf8) noexcept;
    // The text in ISO-8859-1; characters it cannot hold become '?'. Check isLatin1() first.
    static void appendLatin1(std::vector<std::uint8_t>& out, std::string_view utf8);
};

} // namespace sondrel::tags
