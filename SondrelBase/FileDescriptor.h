#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <system_error>
#include <utility>

namespace sondrel {

// Owns one POSIX file descriptor and closes it on every path out.
class FileDescriptor {
public:
    FileDescriptor() noexcept = default;
    explicit FileDescriptor(int descriptor) noexcept
        : m_descriptor(descriptor)
    {
    }
    FileDescriptor(FileDescriptor&& other) noexcept;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    [[nodiscard]] int get() const noexcept { return m_descriptor; }
    [[nodiscard]] bool valid() const noexcept { return m_descriptor >= 0; }
    // Gives the descriptor up without closing it.
    [[nodiscard]] int release() noexcept { return std::exchange(m_descriptor, -1); }
    // Closes now and reports the error, which a destructor would lose: on some file systems a
    // late write error shows only here.
    [[nodiscard]] std::error_code close() noexcept;

    // Reads until `buffer` is full or the file ends; the count read. Retries interrupted calls.
    [[nodiscard]] std::size_t readAt(
        std::span<std::uint8_t> buffer, std::uint64_t offset, std::error_code& error) const noexcept;
    // Writes all of `bytes` at the current offset.
    [[nodiscard]] std::error_code writeAll(std::span<const std::uint8_t> bytes) const noexcept;

private:
    int m_descriptor = -1;
};

// Reads from `descriptor` at `offset` until `buffer` is full or the file ends; the count read.
// Retries interrupted calls; on any other failure stops and sets `error`.
[[nodiscard]] std::size_t readFullyAt(
    int descriptor, std::span<std::uint8_t> buffer, std::uint64_t offset, std::error_code& error) noexcept;

// The calling thread's errno as an error code.
[[nodiscard]] std::error_code lastSystemError() noexcept;

} // namespace sondrel
