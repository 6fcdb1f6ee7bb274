#pragma once

namespace sondrel::tags {

// The header's version byte: 2, 3 or 4.
enum class Id3Version { version2, version3, version4 };

} // namespace sondrel::tags
