#pragma once

#include "TagEditorError.h"

#include <optional>
#include <string>
#include <system_error>
#include <utility>
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
    // With the reason in the user's words, which then stands as the description.
    TagError(TagEditorError error, std::string reason) noexcept
        : m_error(error)
        , m_reason(std::move(reason))
    {
    }
    TagError(std::error_code error, std::string reason) noexcept
        : m_error(error)
        , m_reason(std::move(reason))
    {
    }

    // The module's own case; none for a file-system error.
    [[nodiscard]] std::optional<TagEditorError> tagEditorError() const noexcept;
    // The file-system error; empty for the module's own cases.
    [[nodiscard]] std::error_code systemError() const noexcept;
    // The reason when one was given; else the case's fixed text, or the system's text for the
    // error (strerror).
    [[nodiscard]] std::string description() const;

    // Errors compare by their case or code; the reason is only its wording.
    bool operator==(const TagError& other) const noexcept { return m_error == other.m_error; }

private:
    std::variant<TagEditorError, std::error_code> m_error;
    std::string m_reason;
};

} // namespace sondrel::tags
