#pragma once

#include "FileDescriptor.h"
#include "Result.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sondrel::core {

// The cache file on disk: read whole, replaced whole, kept aside when damaged. Stateless.
class CacheFile {
public:
    CacheFile() = delete;

    enum class State { missing, unreadable, read };
    // Which file, in which version: every save places a new file, so a file that another
    // process saved since shows another identity.
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified {};
        timespec changed {};

        bool operator==(const Identity& other) const noexcept;
    };
    struct Contents {
        State state = State::missing;
        std::string bytes;
        Identity identity; // of the file read
    };

    // Only a regular file of sane size is read; a FIFO or a device neither blocks the open
    // nor is read (unreadable).
    [[nodiscard]] static Contents read(const std::filesystem::path& path);
    // None when there is no file or its attributes cannot be read.
    [[nodiscard]] static std::optional<Identity> identify(const std::filesystem::path& path);
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
