// libFuzzer entry for the FLAC frame locator (clang only); tests/fuzz/run.sh builds and runs it.
// Each input is a whole file; the locator must never read out of bounds, loop, or point past
// the sample it was asked for.

#include "FlacFrames.h"

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
    const auto stream = readFlacStreamInfo(read, 0, size);
    if (!stream)
        return 0;
    for (std::uint64_t sample : { std::uint64_t { 0 }, stream->totalSamples / 3, stream->totalSamples / 2,
             stream->totalSamples - 1 }) {
        const auto found = findFlacFrame(read, size, *stream, sample);
        if (found && (found->sample > sample || found->offset >= size))
            std::abort();
    }
    return 0;
}
