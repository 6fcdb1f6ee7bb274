#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace sondrel::app {

// Finds every audio file below a library folder in one recursive walk, by extension alone.
//
// Without state of its own, so calls are thread-safe and may overlap. scanDirectory() is
// synchronous and blocks on the disk for the whole walk: callers run it on a worker thread,
// never on the GUI thread.
class DirectoryScanner {
public:
    // Receives the number of audio files found so far.
    using ProgressCallback = std::function<void(int filesFound)>;
    // Receives a folder that could not be listed (whole or in part) and the system's text.
    using SkipCallback = std::function<void(const std::filesystem::path& folder, const std::string& reason)>;

    static constexpr int kProgressInterval = 100;

    // Returns the locations below `root` whose extension is a supported one (any case), depth
    // first in directory order; items are not checked to be regular files. Hidden items (a name
    // starting with ".") are skipped and hidden folders not entered. Symbolic links are never
    // followed, so a link loop cannot trap the walk; a link with a matching name is returned
    // like a file. A folder that cannot be read (no permission, a path longer than the system
    // allows) is skipped and passed to `onSkipped` (may be empty); a root that cannot be read
    // gives an empty list and is passed too. Names need not be valid UTF-8: paths keep their bytes.
    //
    // `onProgress` (may be empty) is called on the calling thread whenever 100 more files have
    // been found since the last call, and once at the end with the total, also when that is 0.
    // It must not throw; if it does, the walk stops there. The same holds for `onSkipped`.
    [[nodiscard]] std::vector<std::filesystem::path> scanDirectory(const std::filesystem::path& root,
        const ProgressCallback& onProgress, const SkipCallback& onSkipped = {}) const noexcept;
};

} // namespace sondrel::app
