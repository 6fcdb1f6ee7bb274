#include "FrameLanguage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace sondrel::tags {
namespace {

TEST(FrameLanguageTest, CodesAreTheAlphabeticalIso6392ListWithUnknownLast)
{
    ASSERT_EQ(kFrameLanguageCount, 509u);
    std::string previous;
    for (std::size_t index = 0; index + 1 < kFrameLanguageCount; ++index) {
        const std::string code(rawValue(static_cast<FrameLanguage>(index)));
        ASSERT_EQ(code.size(), 3u) << index;
        EXPECT_TRUE(std::all_of(code.begin(), code.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
            << code;
        EXPECT_LT(previous, code);
        EXPECT_EQ(frameLanguageFromCode(code), static_cast<FrameLanguage>(index));
        previous = code;
    }
    EXPECT_EQ(rawValue(FrameLanguage::aar), "aar");
    EXPECT_EQ(rawValue(FrameLanguage::eng), "eng");
    EXPECT_EQ(rawValue(FrameLanguage::zza), "zza");
    EXPECT_EQ(static_cast<std::size_t>(FrameLanguage::zza), 507u);
    EXPECT_EQ(rawValue(FrameLanguage::unknown), "unknown");
    // Both forms of the bibliographic/terminology pairs, and the codes that are C++ keywords.
    EXPECT_EQ(rawValue(FrameLanguage::ger), "ger");
    EXPECT_EQ(rawValue(FrameLanguage::deu), "deu");
    EXPECT_EQ(rawValue(FrameLanguage::asm_), "asm");
    EXPECT_EQ(rawValue(FrameLanguage::new_), "new");
}

TEST(FrameLanguageTest, LookupIsExact)
{
    EXPECT_EQ(frameLanguageFromCode("fra"), FrameLanguage::fra);
    EXPECT_EQ(frameLanguageFromCode("ENG"), FrameLanguage::unknown);
    EXPECT_EQ(frameLanguageFromCode("XXX"), FrameLanguage::unknown);
    EXPECT_EQ(frameLanguageFromCode("en"), FrameLanguage::unknown);
    EXPECT_EQ(frameLanguageFromCode(std::string("eng\0", 4)), FrameLanguage::unknown);
    EXPECT_EQ(frameLanguageFromCode("unknown"), FrameLanguage::unknown);
}

} // namespace
} // namespace sondrel::tags
