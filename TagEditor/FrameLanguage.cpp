#include "FrameLanguage.h"

#include <algorithm>
#include <array>

namespace sondrel::tags {
namespace {

// Every code has three letters; the first three characters of an enumerator's name are its code.
constexpr std::array<std::string_view, 508> kCodes {
#define SONDREL_TAGS_FRAME_LANGUAGE_CODE(code) std::string_view(#code, 3),
    SONDREL_TAGS_FRAME_LANGUAGE_CODES(SONDREL_TAGS_FRAME_LANGUAGE_CODE)
#undef SONDREL_TAGS_FRAME_LANGUAGE_CODE
};

static_assert(kCodes.size() + 1 == kFrameLanguageCount);
static_assert(std::is_sorted(kCodes.begin(), kCodes.end()), "the lookup below is a binary search");

} // namespace

std::string_view rawValue(FrameLanguage language) noexcept
{
    const auto index = static_cast<std::size_t>(language);
    return index < kCodes.size() ? kCodes[index] : std::string_view("unknown");
}

FrameLanguage frameLanguageFromCode(std::string_view code) noexcept
{
    const auto* found = std::lower_bound(kCodes.begin(), kCodes.end(), code);
    if (found == kCodes.end() || *found != code)
        return FrameLanguage::unknown;
    return static_cast<FrameLanguage>(found - kCodes.begin());
}

} // namespace sondrel::tags
