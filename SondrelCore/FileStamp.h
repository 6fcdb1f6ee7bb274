#pragma once

#include <cstdint>

namespace sondrel::core {

// What a cache key holds of a file besides its path: its modification time and size, as the
// file system reports them for the item (links followed).
struct FileStamp {
    std::int64_t seconds = 0; // modification time since 1970
    std::int64_t nanoseconds = 0;
    std::int64_t size = 0;

    bool operator==(const FileStamp&) const = default;
};

// When a file's inode last changed (its ctime). Every write moves it, including one that puts
// the modification time back afterwards (as tag editors offer to), and no program can set it.
struct ChangeTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;

    bool operator==(const ChangeTime&) const = default;
};

} // namespace sondrel::core
