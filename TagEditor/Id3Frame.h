#pragma once

#include "Id3Version.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

    // The body (every byte after the frame header) as read, in the version read. A rewrite writes
    // it back byte for byte while the frame's value is still the one it holds, so that a frame we
    // did not change keeps its form ("03/12", "0128", an empty first value).
    struct ReadBody {
        Id3Version version;
        std::vector<std::uint8_t> bytes;
    };
    std::shared_ptr<const ReadBody> readBody;
};

} // namespace sondrel::tags
