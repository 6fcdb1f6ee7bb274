#include "DirectoryScanner.h"

#include "PathText.h"

#include <system_error>
#include <utility>

namespace sondrel::app {

namespace fs = std::filesystem;

std::vector<fs::path> DirectoryScanner::scanDirectory(
    const fs::path& root, const ProgressCallback& onProgress, const SkipCallback& onSkipped) const noexcept
{
    const auto skipped = [&](const fs::path& folder, const std::error_code& error) {
        if (onSkipped)
            onSkipped(folder, error.message());
    };
    std::vector<fs::path> found;
    int lastReported = 0;
    try {
        // One open listing per level of depth; each is advanced before its entry's folder is
        // entered, so the walk is depth first in directory order.
        std::vector<std::pair<fs::directory_iterator, fs::path>> listings;
        std::error_code error;
        fs::directory_iterator rootListing(root, error);
        if (error)
            skipped(root, error);
        else
            listings.emplace_back(std::move(rootListing), root);

        while (!listings.empty()) {
            fs::directory_iterator& listing = listings.back().first;
            if (listing == fs::directory_iterator()) {
                listings.pop_back();
                continue;
            }
            const fs::directory_entry entry = *listing;
            listing.increment(error);
            if (error) {
                // The rest of this folder cannot be read; carry on with its parent.
                skipped(listings.back().second, error);
                listing = fs::directory_iterator();
                error.clear();
            }

            const fs::path& path = entry.path();
            const fs::path name = path.filename();
            if (PathText::isHiddenName(name))
                continue;

            const bool isAudio = PathText::hasSupportedExtension(name);
            if (isAudio) {
                found.push_back(path);
                const int count = static_cast<int>(found.size());
                if (onProgress && count - lastReported >= kProgressInterval) {
                    lastReported = count;
                    onProgress(count);
                }
            }

            // The type from the listing itself (no extra query on most file systems), and of the
            // item, not of a link's target.
            std::error_code typeError;
            const fs::file_type type = entry.symlink_status(typeError).type();
            // An item that cannot even be examined (its path too long) may be a folder; one that
            // vanished since the listing is nothing to report.
            if (typeError && !isAudio && typeError != std::errc::no_such_file_or_directory)
                skipped(path, typeError);
            if (type != fs::file_type::directory || typeError)
                continue;
            fs::directory_iterator child(path, error);
            if (error) {
                skipped(path, error);
                error.clear();
                continue;
            }
            listings.emplace_back(std::move(child), path);
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
