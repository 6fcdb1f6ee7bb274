#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace sondrel::bench {

// A temporary folder for this benchmark run, removed when the process exits.
inline const std::filesystem::path& benchFolder()
{
    struct Folder {
        Folder()
        {
            std::string pattern = (std::filesystem::temp_directory_path() / "sondrel-bench-XXXXXX").string();
            if (::mkdtemp(pattern.data()) == nullptr)
                std::abort();
            path = pattern;
        }
        ~Folder()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
        std::filesystem::path path;
    };
    static const Folder folder;
    return folder.path;
}

// A field of /proc/self/io: "rchar:" counts every byte the process read, page cache
// included; "read_bytes:" what came from the storage.
inline std::uint64_t ioCounter(const std::string& field)
{
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == field)
            return value;
    }
    return 0;
}

} // namespace sondrel::bench
