#pragma once

// The tag editor tests' own helpers, over the hand-built bytes shared with the core's reader.

#include "FrameName.h"
#include "Id3Version.h"
#include "LocalizedTextFrame.h"
#include "TagError.h"

#include "../Id3Bytes.h"

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

namespace sondrel::tags {

inline void PrintTo(const TagError& error, std::ostream* out)
{
    *out << error.description();
}

namespace test {

using namespace sondrel::test;

inline const Bytes kJfif { 0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0xFF, 0xD9 };
inline const Bytes kPng { 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A };

// The slot and the comment the metadata editor writes.
inline FrameName sondrelCommentName()
{
    return FrameName::comment(FrameLanguage::eng, "Sondrel Quality Check");
}

inline std::shared_ptr<LocalizedTextFrame> sondrelComment(int kbps)
{
    return std::make_shared<LocalizedTextFrame>(
        FrameLanguage::eng, "Sondrel Quality Check", "Detected bitrate: " + std::to_string(kbps) + " kbps");
}

inline std::uint8_t versionByte(Id3Version version)
{
    return version == Id3Version::version2 ? 2 : version == Id3Version::version3 ? 3 : 4;
}

inline Bytes frame(Id3Version version, std::string_view identifier, const Bytes& body,
    std::array<std::uint8_t, 2> flags = {})
{
    return sondrel::test::frame(versionByte(version), identifier, body, flags);
}

inline Bytes tag(Id3Version version, const Bytes& frames, std::size_t padding = 0, std::uint8_t flags = 0)
{
    return sondrel::test::tag(versionByte(version), frames, padding, flags);
}

// The header and body of the tag at the start of `bytes`, by its header's size field.
inline std::uint64_t tagLengthOf(const Bytes& bytes)
{
    return 10
        + (std::uint64_t { bytes[6] } << 21 | std::uint64_t { bytes[7] } << 14
            | std::uint64_t { bytes[8] } << 7 | bytes[9]);
}

} // namespace test
} // namespace sondrel::tags
