#include "Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace sondrel {
namespace {

bool valid(std::string_view text)
{
    return isValidUtf8(std::span<const char>(text.data(), text.size()));
}

// Every code point from each length's smallest to its largest, and the limits, survive a round
// trip; each malformed form is refused one byte at a time.
TEST(Utf8Test, WellFormedRoundTripsAndEachMalformedFormIsRefused)
{
    for (char32_t codePoint : { U'\0', U'A', char32_t { 0x7F }, char32_t { 0x80 }, char32_t { 0x7FF },
             char32_t { 0x800 }, char32_t { 0xD7FF }, char32_t { 0xE000 }, char32_t { 0xFFFF },
             char32_t { 0x10000 }, char32_t { 0x10FFFF } }) {
        std::string text;
        appendUtf8(text, codePoint);
        std::size_t index = 0;
        EXPECT_EQ(nextUtf8(std::span<const char>(text.data(), text.size()), index), codePoint);
        EXPECT_EQ(index, text.size());
    }
    EXPECT_TRUE(valid("Beyonc\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xA7"));
    EXPECT_FALSE(valid("\xC0\xAF")); // overlong "/"
    EXPECT_FALSE(valid("\xE0\x9F\xBF")); // overlong U+07FF
    EXPECT_FALSE(valid("\xED\xA0\x80")); // a surrogate
    EXPECT_FALSE(valid("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(valid("ok\xE2\x80")); // cut short
    EXPECT_FALSE(valid("\x80"));

    // A bad lead gives none and moves one byte, so the next character is read whole.
    const std::string text = "\xFF\xC3\xA9";
    std::size_t index = 0;
    EXPECT_FALSE(nextUtf8(std::span<const char>(text.data(), text.size()), index));
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(nextUtf8(std::span<const char>(text.data(), text.size()), index), char32_t { 0xE9 });
}

} // namespace
} // namespace sondrel
