#pragma once

#include <string_view>

namespace sondrel::tags {

enum class TagEditorError { invalidFileFormat, tagTooBig, invalidTagData, corruptedFile };

// The fixed user-facing text of each case.
[[nodiscard]] std::string_view description(TagEditorError error) noexcept;

} // namespace sondrel::tags
