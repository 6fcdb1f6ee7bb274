#pragma once

#include <cstdint>
#include <span>

namespace sondrel {

// The bytes read as one big-endian unsigned number (the byte order of ID3, MPEG, FLAC and MP4
// headers). `Unsigned` must be wide enough for all of them; no bytes read as 0.
template <typename Unsigned = std::uint32_t>
[[nodiscard]] constexpr Unsigned bigEndian(std::span<const std::uint8_t> bytes) noexcept
{
    Unsigned value = 0;
    for (const std::uint8_t byte : bytes)
        value = static_cast<Unsigned>(value << 8 | byte);
    return value;
}

} // namespace sondrel
