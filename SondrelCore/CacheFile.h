#pragma once

#include "FileDescriptor.h"
#include "Result.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace sondrel::core {

// The cache file on disk: read whole, replaced whole, kept aside when damaged. Stateless.
class CacheFile {
public:
    CacheFile() = delete;

    enum class State { missing, unreadable, read };
    struct Contents {
        State state = State::missing;
        std::string bytes;
    };

    // Only a regular file of sane size is read; a FIFO or a device neither blocks the open
    // nor is read (unreadable).
    [[nodiscard]] static Contents read(const std::filesystem::path& path);
    // Atomic: on failure the old file is untouched and no temporary file is left. The error
    // names the path and the system's reason.
    [[nodiscard]] static Status write(const std::filesystem::path& path, std::string_view bytes);
    // Renames the file to "<name>.unreadable-<unix time>" beside it, so that the next save
    // cannot overwrite what the user may want back; one line on standard error names the copy.
    static void keepAside(const std::filesystem::path& path, std::chrono::system_clock::time_point now);
};

// An exclusive lock on the folder of a file, which every process saving there takes for the
// time of its save. The folder, not the file: the file is replaced by a rename at every save.
// Without a folder to lock, the holder goes ahead unlocked (its save then fails on its own).
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& file);

private:
    FileDescriptor m_folder; // closing it releases the lock
};

} // namespace sondrel::core
