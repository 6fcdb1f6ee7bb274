#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sondrel::tags {

// Base of every modelled frame. Frames are stored behind std::shared_ptr<const Id3Frame> and
// told apart with dynamic_cast.
struct Id3Frame {
    Id3Frame() = default;
    Id3Frame(const Id3Frame&) = default;
    Id3Frame(Id3Frame&&) = default;
    Id3Frame& operator=(const Id3Frame&) = default;
    Id3Frame& operator=(Id3Frame&&) = default;
    virtual ~Id3Frame() = default;

    // Filled in when a frame is read ("TIT2", header and body size); ignored when one is written.
    std::optional<std::string> id3Identifier;
    std::optional<std::uint32_t> size;
};

} // namespace sondrel::tags
