#pragma once

#include <filesystem>
#include <optional>

namespace sondrel::app {

// The one form in which the command line compares paths: absolute, with "." and ".." and
// doubled or trailing separators removed, links left as they are (a file is known by its path).
class LibraryPath {
public:
    LibraryPath() = delete;

    // "lib/./Set/" run from /home/dj gives "/home/dj/lib/Set".
    [[nodiscard]] static std::filesystem::path normalised(const std::filesystem::path& path);

    // `path` (absolute, or relative to the current folder) in the normalised form below the
    // normalised `library`, or the library itself; also when either is reached through a link.
    // None when it does not exist or lies outside the library.
    [[nodiscard]] static std::optional<std::filesystem::path> inside(
        const std::filesystem::path& library, const std::filesystem::path& path);
};

} // namespace sondrel::app
