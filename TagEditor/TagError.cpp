#include "TagError.h"

namespace sondrel::tags {

std::optional<TagEditorError> TagError::tagEditorError() const noexcept
{
    if (const auto* error = std::get_if<TagEditorError>(&m_error))
        return *error;
    return std::nullopt;
}

std::error_code TagError::systemError() const noexcept
{
    if (const auto* error = std::get_if<std::error_code>(&m_error))
        return *error;
    return {};
}

std::string TagError::description() const
{
    if (!m_reason.empty())
        return m_reason;
    if (const auto* error = std::get_if<TagEditorError>(&m_error))
        return std::string(sondrel::tags::description(*error));
    return std::get<std::error_code>(m_error).message();
}

} // namespace sondrel::tags
