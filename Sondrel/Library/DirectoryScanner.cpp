#include "DirectoryScanner.h"

#include "PathText.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

namespace sondrel::app {

namespace fs = std::filesystem;

namespace {

struct CloseListing {
    void operator()(DIR* listing) const noexcept { ::closedir(listing); }
};

} // namespace

std::vector<fs::path> DirectoryScanner::scanDirectory(
    const fs::path& root, const ProgressCallback& onProgress, const SkipCallback& onSkipped) const noexcept
{
    const auto skipped = [&](const std::string& folder, int error) {
        if (onSkipped)
            onSkipped(folder, std::generic_category().message(error));
    };
    std::vector<fs::path> found;
    int lastReported = 0;
    try {
        // One open listing per level of depth; a folder is entered as soon as its entry is read,
        // so the walk is depth first in directory order. Paths are built as plain text: only
        // the files found become path objects.
        struct Listing {
            std::unique_ptr<DIR, CloseListing> entries;
            std::string path;
        };
        std::vector<Listing> listings;
        const auto enter = [&](std::string folder) {
            DIR* entries = ::opendir(folder.c_str());
            if (entries == nullptr)
                skipped(folder, errno);
            else
                listings.push_back({ std::unique_ptr<DIR, CloseListing>(entries), std::move(folder) });
        };
        enter(root.native());

        while (!listings.empty()) {
            errno = 0;
            const dirent* entry = ::readdir(listings.back().entries.get());
            if (entry == nullptr) {
                // The end, or the rest of this folder cannot be read; carry on with its parent.
                if (errno != 0)
                    skipped(listings.back().path, errno);
                listings.pop_back();
                continue;
            }
            const std::string_view name(entry->d_name);
            // Hidden items, and "." and "..".
            if (PathText::isHiddenName(name))
                continue;
            std::string path = listings.back().path;
            if (!path.empty() && path.back() != '/')
                path += '/';
            path += name;

            const bool isAudio = PathText::hasSupportedExtension(name);
            if (isAudio) {
                found.emplace_back(path);
                const int count = static_cast<int>(found.size());
                if (onProgress && count - lastReported >= kProgressInterval) {
                    lastReported = count;
                    onProgress(count);
                }
            }

            // The type from the listing itself where the file system gives it, and of the item,
            // not of a link's target.
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat info { };
                if (::lstat(path.c_str(), &info) != 0) {
                    // An item that cannot even be examined (its path too long) may be a folder;
                    // one that vanished since the listing is nothing to report.
                    if (!isAudio && errno != ENOENT)
                        skipped(path, errno);
                    continue;
                }
                isFolder = S_ISDIR(info.st_mode);
            }
            if (isFolder)
                enter(std::move(path));
        }
    } catch (...) {
        // Out of memory, or a throwing callback: report what was found until then.
    }

    if (onProgress) {
        try {
            onProgress(static_cast<int>(found.size()));
        } catch (...) {
        }
    }
    return found;
}

} // namespace sondrel::app
