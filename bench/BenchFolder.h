#pragma once

#include <cstdlib>
#include <filesystem>
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

} // namespace sondrel::bench
