#pragma once

// The file as FFmpeg reads it, for the decoder. Included only by .cpp files that wrap FFmpeg.

#include <cstddef>
#include <cstdint>
#include <span>

namespace sondrel::core::ffmpeg {

// How much may be read without a sign of audio (a decoded frame, or a packet while the
// length is counted) before the file is taken for junk: a preallocated, never-filled
// download is gigabytes of zeros, through which FFmpeg's MP3 parser would read and buffer
// to the end. Zeros count in full, other bytes (artwork in an MP4 header) a quarter.
inline constexpr std::uint64_t kMaxBytesWithoutAudio = 4u << 20;

// FFmpeg reads through our own descriptor, so that it never opens a path itself (a FIFO
// swapped in after the check would block it), counting what it reads. It sees the file from
// `base` on: a leading ID3v2 tag, however big, is never handed to it.
struct FileInput {
    int fd = -1;
    std::uint64_t base = 0;
    std::int64_t position = 0; // FFmpeg's, from base
    std::uint64_t sinceAudio = 0;
    std::uint64_t allowance = kMaxBytesWithoutAudio;
    bool exhausted = false;

    // The callbacks of an AVIOContext whose opaque pointer is a FileInput.
    static int read(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t seek(void* opaque, std::int64_t offset, int whence);

    // Our own look at the file, at an offset from its very start, which leaves FFmpeg's
    // position where it is.
    [[nodiscard]] std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const;
    [[nodiscard]] std::uint64_t size() const;
};

// The length of a leading ID3v2 tag, header and footer included; 0 without one.
[[nodiscard]] std::uint64_t leadingTagLength(int fd);

} // namespace sondrel::core::ffmpeg
