// libFuzzer entry for the MP3 frame walker (clang only); tests/fuzz/run.sh builds and runs it.
// Each input is a whole stream; the walker must never read out of bounds or loop, must place a
// frame only where a header of the stream stands, and must agree with itself whichever way
// (arithmetic or walk) it found the frame.

#include "Mp3Frames.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sondrel::core;
    const ByteReader read = [&](std::uint64_t offset, std::span<std::uint8_t> buffer) -> std::size_t {
        if (offset >= size)
            return 0;
        const std::size_t count = std::min<std::size_t>(buffer.size(), size - offset);
        std::memcpy(buffer.data(), data + offset, count);
        return count;
    };
    auto frames = Mp3Frames::read(read, 0, size);
    if (!frames)
        return 0;
    (void)frames->claimedBitrateKbps();
    for (std::uint64_t index : { 1u, 3u, 64u, 65u, 200u, 100000u }) {
        const auto offset = frames->offsetOf(index);
        if (offset && (*offset + 4 > size || !parseMp3FrameHeader({ data + *offset, size - *offset })))
            std::abort();
    }
    return 0;
}
