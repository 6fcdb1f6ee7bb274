#include "LibraryPath.h"

#include <system_error>

namespace sondrel::app {

namespace fs = std::filesystem;

namespace {

// `path` relative to `base`, when it lies at or below it.
std::optional<fs::path> below(const fs::path& base, const fs::path& path)
{
    const fs::path relative = path.lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..")
        return std::nullopt;
    return relative;
}

} // namespace

fs::path LibraryPath::normalised(const fs::path& path)
{
    std::error_code ignored;
    fs::path result = fs::absolute(path, ignored).lexically_normal();
    // "/Music/" normalises to "/Music/" with an empty last component.
    if (!result.has_filename() && result.has_relative_path())
        result = result.parent_path();
    return result;
}

std::optional<fs::path> LibraryPath::inside(const fs::path& library, const fs::path& path)
{
    std::error_code error;
    if (!fs::exists(path, error))
        return std::nullopt;
    const fs::path root = normalised(library);
    const fs::path wanted = normalised(path);
    auto relative = below(root, wanted);
    if (!relative) {
        // Through a link to the library or into it: compare where both really are.
        const fs::path realRoot = fs::canonical(root, error);
        const fs::path realWanted = error ? fs::path() : fs::canonical(wanted, error);
        if (error)
            return std::nullopt;
        relative = below(realRoot, realWanted);
        if (!relative)
            return std::nullopt;
    }
    if (*relative == ".")
        return root;
    return (root / *relative).lexically_normal();
}

} // namespace sondrel::app
