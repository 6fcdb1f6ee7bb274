#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sondrel::app {

// File-system names as text. Linux names are bytes, not necessarily UTF-8; paths keep their
// bytes untouched and only the text shown to the user is converted.
class PathText {
public:
    PathText() = delete;

    // The last component of `location` as valid UTF-8: bytes that are not UTF-8 become U+FFFD.
    // Trailing separators are ignored ("/Music/Live/" gives "Live"); "/" gives "/".
    [[nodiscard]] static std::string lastPathComponent(const std::filesystem::path& location);

    // A name that starts with "." is hidden.
    [[nodiscard]] static bool isHiddenName(std::string_view name) noexcept;

    // Whether the name's extension, compared case-insensitively, is one the library lists. A
    // name that is only ".x" has no extension.
    [[nodiscard]] static bool hasSupportedExtension(std::string_view name) noexcept;
};

} // namespace sondrel::app
