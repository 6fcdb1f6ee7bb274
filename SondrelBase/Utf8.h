#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// UTF-8 in one place, for the tag reader, the tag writer and the JSON text.
namespace sondrel {

// Appends the code point (at most U+10FFFF) as UTF-8.
inline void appendUtf8(std::string& out, char32_t codePoint)
{
    const auto unit = [](char32_t bits) { return static_cast<char>(bits); };
    if (codePoint < 0x80) {
        out += unit(codePoint);
    } else if (codePoint < 0x800) {
        out += unit(0xC0 | codePoint >> 6);
        out += unit(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += unit(0xE0 | codePoint >> 12);
        out += unit(0x80 | (codePoint >> 6 & 0x3F));
        out += unit(0x80 | (codePoint & 0x3F));
    } else {
        out += unit(0xF0 | codePoint >> 18);
        out += unit(0x80 | (codePoint >> 12 & 0x3F));
        out += unit(0x80 | (codePoint >> 6 & 0x3F));
        out += unit(0x80 | (codePoint & 0x3F));
    }
}

// The code point of the UTF-8 sequence at `index` (below text.size()), which moves past it; none
// for an invalid sequence (overlong, surrogate, above U+10FFFF, truncated), and then `index`
// moves by one byte.
template <typename Byte>
std::optional<char32_t> nextUtf8(std::span<const Byte> text, std::size_t& index) noexcept
{
    const auto lead = static_cast<std::uint8_t>(text[index]);
    std::size_t length = 0;
    char32_t codePoint = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        ++index;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, codePoint = lead & 0x1Fu, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, codePoint = lead & 0x0Fu, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, codePoint = lead & 0x07u, minimum = 0x10000;
    } else {
        ++index;
        return std::nullopt;
    }
    if (text.size() - index < length) {
        ++index;
        return std::nullopt;
    }
    for (std::size_t offset = 1; offset < length; ++offset) {
        const auto continuation = static_cast<std::uint8_t>(text[index + offset]);
        if ((continuation & 0xC0) != 0x80) {
            ++index;
            return std::nullopt;
        }
        codePoint = codePoint << 6 | (continuation & 0x3Fu);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        ++index;
        return std::nullopt;
    }
    index += length;
    return codePoint;
}

// Whether the bytes are well-formed UTF-8 throughout.
template <typename Byte> [[nodiscard]] bool isValidUtf8(std::span<const Byte> text) noexcept
{
    for (std::size_t index = 0; index < text.size();) {
        if (!nextUtf8(text, index))
            return false;
    }
    return true;
}

} // namespace sondrel
