#include "TextDecoding.h"

#include <gtest/gtest.h>

#include <vector>

namespace sondrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TextDecodingTest, Utf16ReadsEitherMarkAndIsBigEndianWithoutOne)
{
    struct Case {
        const char* what;
        Bytes bytes;
        ByteOrderMark mark;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        { "little-endian mark", { 0xFF, 0xFE, 'H', 0, 0xE9, 0 }, ByteOrderMark::honoured, "H\xC3\xA9" },
        { "big-endian mark", { 0xFE, 0xFF, 0, 'H', 0, 0xE9 }, ByteOrderMark::honoured, "H\xC3\xA9" },
        { "no mark is big-endian", { 0, 'H', 0, 0xE9, 0x20, 0xAC }, ByteOrderMark::honoured,
            "H\xC3\xA9\xE2\x82\xAC" },
        { "mark only", { 0xFF, 0xFE }, ByteOrderMark::honoured, "" },
        { "required mark present", { 0xFE, 0xFF, 0, 'H' }, ByteOrderMark::required, "H" },
        { "required mark missing", { 0, 'H' }, ByteOrderMark::required, std::nullopt },
        { "no bytes need no mark", {}, ByteOrderMark::required, "" },
        { "ignored FF FE is U+FFFE", { 0xFF, 0xFE, 0, 'H' }, ByteOrderMark::ignored, "\xEF\xBF\xBEH" },
        { "ignored FE FF is U+FEFF", { 0xFE, 0xFF, 0, 'H' }, ByteOrderMark::ignored, "\xEF\xBB\xBFH" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(decodeUtf16(c.bytes, c.mark), c.text) << c.what;
}

TEST(TextDecodingTest, Utf16PairsSurrogatesAndRefusesUnpairedOnesAndOddLengths)
{
    EXPECT_EQ(decodeUtf16(Bytes { 0xFF, 0xFE, 0x3C, 0xD8, 0xB5, 0xDF }, ByteOrderMark::required),
        "\xF0\x9F\x8E\xB5");
    EXPECT_EQ(decodeUtf16(Bytes { 0xD8, 0x3C, 0xDF, 0xB5, 0, 'A' }, ByteOrderMark::ignored),
        "\xF0\x9F\x8E\xB5"
        "A");
    const std::pair<const char*, Bytes> invalid[] = {
        { "odd length", { 0, 'H', 'i' } },
        { "high surrogate at the end", { 0, 'H', 0xD8, 0x3C } },
        { "high surrogate before a letter", { 0xD8, 0x3C, 0, 'H' } },
        { "two high surrogates", { 0xD8, 0x3C, 0xD8, 0x3C } },
        { "lone low surrogate", { 0xDF, 0xB5, 0, 'H' } },
    };
    for (const auto& [what, bytes] : invalid) {
        for (const ByteOrderMark mark : { ByteOrderMark::honoured, ByteOrderMark::ignored })
            EXPECT_EQ(decodeUtf16(bytes, mark), std::nullopt) << what;
    }
    EXPECT_EQ(decodeUtf16(Bytes { 0xFF, 0xFE, 'H', 0, 0x3C, 0xD8 }, ByteOrderMark::required), std::nullopt);
    EXPECT_EQ(decodeUtf16(Bytes { 0xFF, 0xFE, 'H', 0, 'i' }, ByteOrderMark::required), std::nullopt);
}

// The malformed forms themselves are Utf8Test's; here the text is kept byte for byte or refused.
TEST(TextDecodingTest, Utf8IsKeptAsItIsOnlyWhenWellFormedAndLatin1MapsEveryByte)
{
    EXPECT_EQ(decodeUtf8(Bytes { 'C', 0xC3, 0xA9, 0, 0xF0, 0x9F, 0x8E, 0xA7 }),
        std::string("C\xC3\xA9\0\xF0\x9F\x8E\xA7", 8));
    EXPECT_EQ(decodeUtf8(Bytes { 'A', 0xC0, 0xAF }), std::nullopt); // overlong "/"
    EXPECT_EQ(decodeUtf8(Bytes { 0xED, 0xA0, 0x80 }), std::nullopt); // a surrogate
    EXPECT_EQ(decodeUtf8(Bytes { 'A', 0xC3 }), std::nullopt); // cut short

    EXPECT_EQ(decodeLatin1(Bytes { 'C', 'a', 'f', 0xE9, ' ', 0xFF, 0x00 }),
        std::string("Caf\xC3\xA9 \xC3\xBF\0", 9));
}

TEST(TextDecodingTest, TrimsNulsAtBothEndsOnly)
{
    EXPECT_EQ(trimNulls(std::string_view("\0\0A\0B \0", 7)), std::string_view("A\0B ", 4));
    EXPECT_EQ(trimNulls(std::string_view("\0\0", 2)), "");
    EXPECT_EQ(trimNulls(""), "");
}

} // namespace
} // namespace sondrel
