#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Tag text to UTF-8 in one place, for the ID3 reader and the tag module.
namespace sondrel {

// What a UTF-16 text does with a leading byte-order mark (FF FE little-endian, FE FF big-endian).
enum class ByteOrderMark {
    required, // text without one is invalid
    honoured, // read when there is one; big-endian without
    ignored, // always big-endian: a leading FF FE is the character U+FFFE, FE FF is U+FEFF
};

// UTF-8 of UTF-16 bytes; none for an odd length, an unpaired surrogate or a missing required
// mark. No bytes decode to the empty text; a mark alone too.
[[nodiscard]] std::optional<std::string> decodeUtf16(std::span<const std::uint8_t> bytes, ByteOrderMark mark);

// The bytes as they are when they are well-formed UTF-8 throughout; none otherwise.
[[nodiscard]] std::optional<std::string> decodeUtf8(std::span<const std::uint8_t> bytes);

// UTF-8 of ISO-8859-1 bytes: every byte is the code point of its value.
[[nodiscard]] std::string decodeLatin1(std::span<const std::uint8_t> bytes);

// The text without U+0000 characters at either end: the terminators and padding of tag text.
[[nodiscard]] std::string_view trimNulls(std::string_view text) noexcept;

} // namespace sondrel
