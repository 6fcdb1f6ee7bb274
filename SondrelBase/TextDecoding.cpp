#include "TextDecoding.h"

#include "Utf8.h"

namespace sondrel {

std::optional<std::string> decodeUtf16(std::span<const std::uint8_t> bytes, ByteOrderMark mark)
{
    if (bytes.empty())
        return std::string();
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    bool littleEndian = false;
    if (mark != ByteOrderMark::ignored) {
        if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
            littleEndian = true;
            bytes = bytes.subspan(2);
        } else if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
            bytes = bytes.subspan(2);
        } else if (mark == ByteOrderMark::required) {
            return std::nullopt;
        }
    }
    const auto unitAt = [&](std::size_t index) -> char32_t {
        const char32_t first = bytes[index];
        const char32_t second = bytes[index + 1];
        return littleEndian ? second << 8 | first : first << 8 | second;
    };

    std::string text;
    text.reserve(bytes.size());
    for (std::size_t index = 0; index < bytes.size(); index += 2) {
        const char32_t unit = unitAt(index);
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return std::nullopt;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (index + 4 > bytes.size())
                return std::nullopt;
            const char32_t low = unitAt(index + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return std::nullopt;
            appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            index += 2;
        } else {
            appendUtf8(text, unit);
        }
    }
    return text;
}

std::optional<std::string> decodeUtf8(std::span<const std::uint8_t> bytes)
{
    if (!isValidUtf8(bytes))
        return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

std::string decodeLatin1(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes)
        appendUtf8(text, byte);
    return text;
}

std::string_view trimNulls(std::string_view text) noexcept
{
    const std::size_t first = text.find_first_not_of('\0');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of('\0') - first + 1);
}

} // namespace sondrel
