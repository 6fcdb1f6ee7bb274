#pragma once

#include <filesystem>

namespace sondrel {

// Whether the name's extension is "mp3" in any letter case: the files whose ID3 tags are read
// and written.
[[nodiscard]] bool hasMp3Extension(const std::filesystem::path& path);

} // namespace sondrel
