#pragma once

#include <filesystem>
#include <functional>
#include <system_error>

namespace sondrel {

// renameat2(from, to, RENAME_NOREPLACE): 0 or the errno.
[[nodiscard]] int renameWithoutReplacing(
    const std::filesystem::path& from, const std::filesystem::path& to) noexcept;

using RenameCall = std::function<int(const std::filesystem::path&, const std::filesystem::path&)>;

// The one way we give a file a new name on its file system: never replaces a file at `to` (EEXIST
// instead). `rename` (renameWithoutReplacing() unless a test stands in a file system) is tried
// first; where the file system refuses the flag (EINVAL, ENOSYS), anything but a folder is linked
// at `to` and then unlinked at `from`, and if `from` cannot be unlinked the new link is removed
// again. A folder has no hard links, so it keeps the refusal. EXDEV (another file system) is
// passed on for the caller to copy.
[[nodiscard]] std::error_code moveWithoutReplacing(const std::filesystem::path& from,
    const std::filesystem::path& to, const RenameCall& rename = renameWithoutReplacing) noexcept;

} // namespace sondrel
