#include "TextCodec.h"

#include "TextDecoding.h"
#include "Utf8.h"

namespace sondrel::tags {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

void appendUtf16Unit(std::vector<std::uint8_t>& out, char32_t unit)
{
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8 & 0xFF));
}

} // namespace

std::optional<std::string> TextCodec::decode(std::span<const std::uint8_t> bytes, TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::UTF16:
        return decodeUtf16(bytes, ByteOrderMark::required);
    case TextEncoding::UTF16BE:
        return decodeUtf16(bytes, ByteOrderMark::honoured);
    case TextEncoding::UTF8:
        return decodeUtf8(bytes);
    case TextEncoding::ISO88591:
        break;
    }
    return decodeLatin1(bytes);
}

void TextCodec::appendUtf16WithByteOrderMark(std::vector<std::uint8_t>& out, std::string_view utf8)
{
    out.reserve(out.size() + 2 + utf8.size() * 2);
    out.push_back(0xFF);
    out.push_back(0xFE);
    const std::span<const char> text(utf8.data(), utf8.size());
    for (std::size_t index = 0; index < text.size();) {
        const char32_t codePoint = nextUtf8(text, index).value_or(kReplacementCharacter);
        if (codePoint >= 0x10000) {
            const char32_t offset = codePoint - 0x10000;
            appendUtf16Unit(out, 0xD800 + (offset >> 10));
            appendUtf16Unit(out, 0xDC00 + (offset & 0x3FF));
        } else {
            appendUtf16Unit(out, codePoint);
        }
    }
}

std::size_t TextCodec::findTerminator(std::span<const std::uint8_t> bytes, TextEncoding encoding) noexcept
{
    const std::size_t width = terminatorSize(encoding);
    for (std::size_t index = 0; index + width <= bytes.size(); index += width) {
        if (bytes[index] == 0 && (width == 1 || bytes[index + 1] == 0))
            return index;
    }
    return std::string_view::npos;
}

bool TextCodec::isLatin1(std::string_view utf8) noexcept
{
    const std::span<const char> text(utf8.data(), utf8.size());
    for (std::size_t index = 0; index < text.size();) {
        const std::optional<char32_t> codePoint = nextUtf8(text, index);
        if (!codePoint || *codePoint > 0xFF)
            return false;
    }
    return true;
}

void TextCodec::appendLatin1(std::vector<std::uint8_t>& out, std::string_view utf8)
{
    const std::span<const char> text(utf8.data(), utf8.size());
    for (std::size_t index = 0; index < text.size();)
        out.push_back(static_cast<std::uint8_t>(nextUtf8(text, index).value_or(U'?')));
}

} // namespace sondrel::tags
