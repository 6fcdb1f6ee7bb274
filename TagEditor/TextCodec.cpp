#include "TextCodec.h"

#include "Utf8.h"

namespace sondrel::tags {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// `markRequired`: UTF-16 with a byte-order mark (encoding 0x01); without it big-endian unless a
// mark says otherwise (0x02).
std::optional<std::string> decodeUtf16(std::span<const std::uint8_t> bytes, bool markRequired)
{
    if (bytes.empty())
        return std::string();
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    bool littleEndian = false;
    std::size_t start = 2;
    if (bytes[0] == 0xFF && bytes[1] == 0xFE)
        littleEndian = true;
    else if (bytes[0] == 0xFE && bytes[1] == 0xFF)
        littleEndian = false;
    else if (markRequired)
        return std::nullopt;
    else
        start = 0;
    const auto unitAt = [&](std::size_t index) {
        const std::uint8_t first = bytes[index];
        const std::uint8_t second = bytes[index + 1];
        return littleEndian ? static_cast<char16_t>(second << 8 | first)
                            : static_cast<char16_t>(first << 8 | second);
    };
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t index = start; index < bytes.size(); index += 2) {
        const char16_t unit = unitAt(index);
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return std::nullopt;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (index + 4 > bytes.size())
                return std::nullopt;
            const char16_t low = unitAt(index + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return std::nullopt;
            appendUtf8(out, 0x10000 + ((char32_t { unit } - 0xD800) << 10) + (char32_t { low } - 0xDC00));
            index += 2;
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

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
        return decodeUtf16(bytes, true);
    case TextEncoding::UTF16BE:
        return decodeUtf16(bytes, false);
    case TextEncoding::UTF8:
        for (std::size_t index = 0; index < bytes.size();) {
            if (!nextUtf8(bytes, index))
                return std::nullopt;
        }
        return std::string(bytes.begin(), bytes.end());
    case TextEncoding::ISO88591:
        break;
    }
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes)
        appendUtf8(out, byte);
    return out;
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

std::string_view TextCodec::trimNulls(std::string_view text) noexcept
{
    const std::size_t first = text.find_first_not_of('\0');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of('\0') - first + 1);
}

} // namespace sondrel::tags
