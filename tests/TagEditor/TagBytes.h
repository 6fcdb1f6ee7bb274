#pragma once

// Hand-built ID3v2 bytes and file helpers for the tag editor tests.

#include "FrameName.h"
#include "Id3Version.h"
#include "LocalizedTextFrame.h"
#include "TagError.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel::tags {

inline void PrintTo(const TagError& error, std::ostream* out)
{
    *out << error.description();
}

namespace test {

// Literals with embedded zero bytes need the sv suffix.
using namespace std::string_view_literals;

using Bytes = std::vector<std::uint8_t>;

inline Bytes operator+(Bytes left, const Bytes& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

inline Bytes ascii(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

inline Bytes bigEndian(std::uint32_t value, int width)
{
    Bytes bytes;
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    return bytes;
}

inline Bytes synchsafe(std::uint32_t value)
{
    return { static_cast<std::uint8_t>(value >> 21 & 0x7F), static_cast<std::uint8_t>(value >> 14 & 0x7F),
        static_cast<std::uint8_t>(value >> 7 & 0x7F), static_cast<std::uint8_t>(value & 0x7F) };
}

// Little-endian UTF-16 code units of ASCII text, without byte-order mark.
inline Bytes utf16(std::string_view asciiText)
{
    Bytes bytes;
    for (const char c : asciiText) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

inline const Bytes kBom { 0xFF, 0xFE };
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

inline Bytes frame(Id3Version version, std::string_view identifier, const Bytes& body,
    std::array<std::uint8_t, 2> flags = {})
{
    const auto size = static_cast<std::uint32_t>(body.size());
    switch (version) {
    case Id3Version::version2:
        return ascii(identifier) + bigEndian(size, 3) + body;
    case Id3Version::version3:
        return ascii(identifier) + bigEndian(size, 4) + Bytes(flags.begin(), flags.end()) + body;
    case Id3Version::version4:
        break;
    }
    return ascii(identifier) + synchsafe(size) + Bytes(flags.begin(), flags.end()) + body;
}

inline std::uint8_t versionByte(Id3Version version)
{
    return version == Id3Version::version2 ? 2 : version == Id3Version::version3 ? 3 : 4;
}

// Header, frames, then `padding` zero bytes.
inline Bytes tag(Id3Version version, const Bytes& frames, std::size_t padding = 0, std::uint8_t flags = 0)
{
    const Bytes body = frames + Bytes(padding, 0);
    return ascii("ID3") + Bytes { versionByte(version), 0, flags }
    + synchsafe(static_cast<std::uint32_t>(body.size())) + body;
}

// Bytes that stand in for audio: MPEG frame sync words among varied bytes, no "ID3".
inline Bytes fakeAudio(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t index = 0; index < size; ++index)
        bytes[index] = index % 417 == 0 ? 0xFF : static_cast<std::uint8_t>(index * 7 + 1);
    return bytes;
}

inline Bytes readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Names in a folder, to see that no temporary file was left behind.
inline std::vector<std::string> folderListing(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace test
} // namespace sondrel::tags
