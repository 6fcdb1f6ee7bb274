#pragma once

// Hand-built ID3v2 bytes and file helpers shared by the tests of both ID3 readers: the
// core's lightweight reader and the tag module's parser.

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "SondrelCore/FixtureFolder.h"

namespace sondrel::test {

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

// A frame of the tag version `major` (2, 3 or 4): 2.2 has 3-byte sizes and no flags, 2.3 plain
// 4-byte sizes, 2.4 synchsafe ones.
inline Bytes frame(std::uint8_t major, std::string_view identifier, const Bytes& body,
    std::array<std::uint8_t, 2> flags = {})
{
    const auto size = static_cast<std::uint32_t>(body.size());
    if (major == 2)
        return ascii(identifier) + bigEndian(size, 3) + body;
    return ascii(identifier) + (major == 3 ? bigEndian(size, 4) : synchsafe(size))
        + Bytes(flags.begin(), flags.end()) + body;
}

// Header ("ID3", the major version, the flags, the synchsafe size), frames, then `padding` zero
// bytes; the size declared is exactly that of the frames and padding.
inline Bytes tag(std::uint8_t major, const Bytes& frames, std::size_t padding = 0, std::uint8_t flags = 0)
{
    const Bytes body = frames + Bytes(padding, 0);
    return ascii("ID3") + Bytes { major, 0, flags } + synchsafe(static_cast<std::uint32_t>(body.size()))
        + body;
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

} // namespace sondrel::test
