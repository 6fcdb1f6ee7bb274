#pragma once

#include "Id3Version.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace sondrel::tags {

// The byte layout of tags and frames in one version, and the integer codings they use.
struct Id3Layout {
    std::uint8_t versionByte;
    std::size_t frameHeaderSize;
    std::size_t identifierSize;
    std::size_t frameSizeOffset; // where the 4 bytes that hold the frame size begin
    std::uint32_t frameSizeMask; // applied to those 4 bytes, read big-endian
    bool synchsafeFrameSize;
    bool frameFlags; // two flag bytes after the size

    static constexpr std::size_t kTagHeaderSize = 10;
    // The synchsafe tag size has 28 bits: a whole tag (header included) must stay below this.
    static constexpr std::uint64_t kMaxTagSize = std::uint64_t { 1 } << 28;

    [[nodiscard]] static constexpr Id3Layout of(Id3Version version) noexcept
    {
        switch (version) {
        case Id3Version::version2:
            return { 2, 6, 3, 2, 0x00FF'FFFF, false, false };
        case Id3Version::version4:
            return { 4, 10, 4, 4, 0xFFFF'FFFF, true, true };
        case Id3Version::version3:
            break;
        }
        return { 3, 10, 4, 4, 0xFFFF'FFFF, false, true };
    }

    // "ID3", the version byte and revision 0.
    [[nodiscard]] constexpr std::array<std::uint8_t, 5> tagHeaderStart() const noexcept
    {
        return { 'I', 'D', '3', versionByte, 0 };
    }

    // The largest body a frame header of this version can state.
    [[nodiscard]] constexpr std::uint64_t maxFrameBodySize() const noexcept
    {
        return synchsafeFrameSize ? 0x0FFF'FFFF : frameSizeMask;
    }
};

// Synchsafe: 7 bits per byte, the top bit of each byte dropped.
[[nodiscard]] constexpr std::uint32_t decodeSynchsafe(std::uint32_t value) noexcept
{
    return (value & 0x7F) | (value >> 8 & 0x7F) << 7 | (value >> 16 & 0x7F) << 14
        | (value >> 24 & 0x7F) << 21;
}

[[nodiscard]] constexpr std::uint32_t encodeSynchsafe(std::uint32_t value) noexcept
{
    return (value & 0x7F) | (value >> 7 & 0x7F) << 8 | (value >> 14 & 0x7F) << 16
        | (value >> 21 & 0x7F) << 24;
}

} // namespace sondrel::tags
