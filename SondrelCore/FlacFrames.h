#pragma once

#include "ByteReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// Finding a FLAC frame near a sample by reading a few small windows of the file, for files
// without a seek table: FFmpeg's own bisection reads and parses about 100 KB at each step.

namespace sondrel::core {

// What a FLAC stream's STREAMINFO block states, and where its first frame begins.
struct FlacStreamInfo {
    std::uint32_t minBlockSize = 0;
    std::uint32_t maxBlockSize = 0;
    std::uint32_t maxFrameSize = 0; // 0: not stated
    std::uint32_t sampleRate = 0;
    unsigned channels = 0;
    unsigned bitsPerSample = 0;
    std::uint64_t totalSamples = 0; // 0: not stated
    std::uint64_t firstFrame = 0; // byte offset in the file
};

struct FlacFrameHeader {
    std::uint64_t sample = 0; // the first sample the frame holds
    std::uint32_t blockSize = 0;
    bool variableBlockSize = false;
};

struct FlacFramePosition {
    std::uint64_t offset = 0;
    std::uint64_t sample = 0;
};

// Reads the "fLaC" marker at `start` and the metadata blocks after it.
std::optional<FlacStreamInfo> readFlacStreamInfo(const ByteReader& read, std::uint64_t start, std::uint64_t fileSize);

// The frame header at the start of `bytes`, when one is there whose CRC holds and whose
// fields agree with the stream.
std::optional<FlacFrameHeader> parseFlacFrameHeader(std::span<const std::uint8_t> bytes, const FlacStreamInfo& stream);

// A frame that starts at or before `sample` and close to it: decoding from there reaches the
// sample exactly. None when the stream does not allow a sure answer (no stated length, a
// fixed-size stream whose block size varies, a first frame that is not where STREAMINFO ends).
std::optional<FlacFramePosition> findFlacFrame(
    const ByteReader& read, std::uint64_t fileSize, const FlacStreamInfo& stream, std::uint64_t sample);

} // namespace sondrel::core
