#pragma once

#include "TagEditorError.h"

#include <optional>
#include <string>
#include <system_error>
#include <variant>

namespace sondrel::tags {

// A failure of the tag module: one of its own cases, or a file-system error passed on unchanged.
class TagError {
public:
    TagError(TagEditorError error) noexcept
        : m_error(error)
    {
    }
    TagError(std::error_code error) noexcept
        : m_error(error)
    {
    }

    // The module's own case; none for a file-system error.
    [[nodiscard]] std::optional<TagEditorError> tagEditorError() const noexcept;
    // The file-system error; empty for the module's own cases.
    [[nodiscard]] std::error_code systemError() const noexcept;
    // The case's fixed text, or the system's text for the error (strerror).
    [[nodiscard]] std::string description() const;

    bool operator==(const TagError&) const = default;

private:
    std::variant<TagEditorError, std::error_code> m_error;
};

} // namespace sondrel::tags
