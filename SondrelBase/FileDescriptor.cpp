#include "FileDescriptor.h"

#include <cerrno>
#include <utility>

#include <sys/types.h>
#include <unistd.h>

namespace sondrel {

std::error_code lastSystemError() noexcept
{
    return { errno, std::system_category() };
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
{
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        (void)close();
        m_descriptor = std::exchange(other.m_descriptor, -1);
    }
    return *this;
}

FileDescriptor::~FileDescriptor()
{
    (void)close();
}

std::error_code FileDescriptor::close() noexcept
{
    if (m_descriptor < 0)
        return {};
    // Linux releases the descriptor even when close fails, so it is never retried.
    const int result = ::close(std::exchange(m_descriptor, -1));
    return result == 0 ? std::error_code() : lastSystemError();
}

std::size_t FileDescriptor::readAt(
    std::span<std::uint8_t> buffer, std::uint64_t offset, std::error_code& error) const noexcept
{
    return readFullyAt(m_descriptor, buffer, offset, error);
}

std::size_t readFullyAt(
    int descriptor, std::span<std::uint8_t> buffer, std::uint64_t offset, std::error_code& error) noexcept
{
    error.clear();
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t count = ::pread(
            descriptor, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            error = lastSystemError();
            break;
        }
        if (count == 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    return done;
}

std::error_code FileDescriptor::writeAll(std::span<const std::uint8_t> bytes) const noexcept
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(m_descriptor, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return lastSystemError();
        done += static_cast<std::size_t>(count);
    }
    return {};
}

} // namespace sondrel
