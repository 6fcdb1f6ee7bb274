#include "FFmpegFileInput.h"

#include "FileDescriptor.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>

namespace sondrel::core::ffmpeg {

namespace {
constexpr std::uint64_t kNonZeroWeight = 4;
}

int FileInput::read(void* opaque, std::uint8_t* buffer, int size)
{
    auto& input = *static_cast<FileInput*>(opaque);
    if (input.sinceAudio >= input.allowance) {
        input.exhausted = true;
        return AVERROR_INVALIDDATA;
    }
    ssize_t count;
    do
        count = ::pread(input.fd, buffer, static_cast<std::size_t>(size),
            static_cast<off_t>(input.base + static_cast<std::uint64_t>(input.position)));
    while (count < 0 && errno == EINTR);
    if (count < 0)
        return AVERROR(errno);
    if (count == 0)
        return AVERROR_EOF;
    input.position += count;
    const bool zeros = std::all_of(buffer, buffer + count, [](std::uint8_t byte) { return byte == 0; });
    input.sinceAudio += static_cast<std::uint64_t>(count) / (zeros ? 1 : kNonZeroWeight);
    return static_cast<int>(count);
}

std::int64_t FileInput::seek(void* opaque, std::int64_t offset, int whence)
{
    auto& input = *static_cast<FileInput*>(opaque);
    struct stat info { };
    if (::fstat(input.fd, &info) != 0)
        return AVERROR(errno);
    const auto visible = std::max<std::int64_t>(info.st_size - static_cast<std::int64_t>(input.base), 0);
    std::int64_t target;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return visible;
    case SEEK_SET:
        target = offset;
        break;
    case SEEK_CUR:
        target = input.position + offset;
        break;
    case SEEK_END:
        target = visible + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (target < 0)
        return AVERROR(EINVAL);
    input.position = target;
    return target;
}

std::size_t FileInput::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    std::error_code error;
    return readFullyAt(fd, buffer, offset, error);
}

std::uint64_t FileInput::size() const
{
    struct stat info { };
    return ::fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

std::uint64_t leadingTagLength(int fd)
{
    std::array<std::uint8_t, 10> header {};
    if (::pread(fd, header.data(), header.size(), 0) != static_cast<ssize_t>(header.size())
        || header[0] != 'I' || header[1] != 'D' || header[2] != '3')
        return 0;
    std::uint64_t size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (header[static_cast<std::size_t>(i)] & 0x7Fu);
    return size + 10 + ((header[5] & 0x10u) ? 10 : 0);
}

} // namespace sondrel::core::ffmpeg
