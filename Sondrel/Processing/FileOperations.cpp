#include "FileOperations.h"

#include <cerrno>
#include <string>
#include <system_error>

namespace sondrel::app {

namespace fs = std::filesystem;

Result<fs::path> moveWithNumbering(
    FileOperations& operations, const fs::path& from, const fs::path& destinationFolder) noexcept
{
    try {
        const fs::path name = from.filename();
        if (name.empty())
            return Error { std::system_category().message(EINVAL) };
        // Byte strings, so that names which are not UTF-8 keep their bytes.
        const std::string stem = name.stem().native();
        const std::string extension = name.extension().native();

        fs::path target = destinationFolder / name;
        for (int number = 1;; ++number) {
            MoveStatus status = operations.moveItem(from, target);
            if (status.ok())
                return target;
            if (status.failure() != MoveFailure::targetExists || number > kMaxMoveNumber)
                return status.error();
            target = destinationFolder / (stem + " (" + std::to_string(number) + ")" + extension);
        }
    } catch (...) {
        // Only an allocation can throw here, and never after the file has moved.
        return Error { std::system_category().message(ENOMEM) };
    }
}

} // namespace sondrel::app
