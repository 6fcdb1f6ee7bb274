#pragma once

#include "FrameKind.h"
#include "FrameLanguage.h"
#include "PictureType.h"

#include <compare>
#include <cstdint>
#include <optional>

namespace sondrel::tags {

// One slot of a tag's frame table. Pictures have one slot per picture type, comments and
// unsynchronised lyrics one per language; every other kind has a single slot. Names order by
// kind, then by picture type or language (alphabetical codes, `unknown` last).
class FrameName {
public:
    // The single slot of a plain kind. For the three kinds that carry a value use the factories;
    // given here they name the `unknown` language or the `other` picture type.
    constexpr explicit FrameName(FrameKind kind) noexcept
        : m_kind(kind)
        , m_value(kind == FrameKind::comment || kind == FrameKind::unsynchronizedLyrics
                  ? static_cast<std::uint16_t>(FrameLanguage::unknown)
                  : std::uint16_t { 0 })
    {
    }

    [[nodiscard]] static constexpr FrameName attachedPicture(PictureType type) noexcept
    {
        return FrameName(FrameKind::attachedPicture, static_cast<std::uint16_t>(type));
    }
    [[nodiscard]] static constexpr FrameName comment(FrameLanguage language) noexcept
    {
        return FrameName(FrameKind::comment, static_cast<std::uint16_t>(language));
    }
    [[nodiscard]] static constexpr FrameName unsynchronizedLyrics(FrameLanguage language) noexcept
    {
        return FrameName(FrameKind::unsynchronizedLyrics, static_cast<std::uint16_t>(language));
    }

    [[nodiscard]] constexpr FrameKind kind() const noexcept { return m_kind; }
    [[nodiscard]] constexpr std::optional<FrameLanguage> language() const noexcept
    {
        if (m_kind != FrameKind::comment && m_kind != FrameKind::unsynchronizedLyrics)
            return std::nullopt;
        return static_cast<FrameLanguage>(m_value);
    }
    [[nodiscard]] constexpr std::optional<PictureType> pictureType() const noexcept
    {
        if (m_kind != FrameKind::attachedPicture)
            return std::nullopt;
        return static_cast<PictureType>(m_value);
    }

    constexpr auto operator<=>(const FrameName&) const noexcept = default;

private:
    constexpr FrameName(FrameKind kind, std::uint16_t value) noexcept
        : m_kind(kind)
        , m_value(value)
    {
    }

    FrameKind m_kind;
    std::uint16_t m_value;
};

} // namespace sondrel::tags
