#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace sondrel::core {

// Reads up to buffer.size() bytes at an offset of the file; returns how many it read.
using ByteReader = std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> buffer)>;

} // namespace sondrel::core
