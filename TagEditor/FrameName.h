#pragma once

#include "FrameKind.h"
#include "FrameLanguage.h"
#include "PictureType.h"

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace sondrel::tags {

// One slot of a tag's frame table. As ID3v2 identifies them, a picture's slot is its picture type
// and description, a comment's or unsynchronised lyrics' its language and description; every other
// kind has a single slot. Names order by kind, then by picture type or language (alphabetical
// codes, `unknown` last), then by description.
class FrameName {
public:
    // The single slot of a plain kind. For the three kinds that carry a value use the factories;
    // given here they name the `unknown` language or the `other` picture type, without description.
    explicit FrameName(FrameKind kind) noexcept
        : m_kind(kind)
        , m_value(kind == FrameKind::comment || kind == FrameKind::unsynchronizedLyrics
                  ? static_cast<std::uint16_t>(FrameLanguage::unknown)
                  : std::uint16_t { 0 })
    {
    }

    [[nodiscard]] static FrameName attachedPicture(PictureType type, std::string description = {})
    {
        return FrameName(
            FrameKind::attachedPicture, static_cast<std::uint16_t>(type), std::move(description));
    }
    [[nodiscard]] static FrameName comment(FrameLanguage language, std::string description = {})
    {
        return FrameName(FrameKind::comment, static_cast<std::uint16_t>(language), std::move(description));
    }
    [[nodiscard]] static FrameName unsynchronizedLyrics(FrameLanguage language, std::string description = {})
    {
        return FrameName(
            FrameKind::unsynchronizedLyrics, static_cast<std::uint16_t>(language), std::move(description));
    }

    [[nodiscard]] FrameKind kind() const noexcept { return m_kind; }
    [[nodiscard]] std::optional<FrameLanguage> language() const noexcept
    {
        if (m_kind != FrameKind::comment && m_kind != FrameKind::unsynchronizedLyrics)
            return std::nullopt;
        return static_cast<FrameLanguage>(m_value);
    }
    [[nodiscard]] std::optional<PictureType> pictureType() const noexcept
    {
        if (m_kind != FrameKind::attachedPicture)
            return std::nullopt;
        return static_cast<PictureType>(m_value);
    }
    // Empty for the plain kinds.
    [[nodiscard]] const std::string& description() const noexcept { return m_description; }

    auto operator<=>(const FrameName&) const = default;
    bool operator==(const FrameName&) const = default;

private:
    FrameName(FrameKind kind, std::uint16_t value, std::string description) noexcept
        : m_kind(kind)
        , m_value(value)
        , m_description(std::move(description))
    {
    }

    FrameKind m_kind;
    std::uint16_t m_value;
    std::string m_description;
};

} // namespace sondrel::tags
