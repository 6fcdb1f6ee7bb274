#pragma once

#include "TagError.h"

#include <utility>
#include <variant>

namespace sondrel::tags {

// A value or a TagError. A small stand-in for std::expected, which GCC 12 lacks in C++20.
template <typename T> class [[nodiscard]] TagResult {
public:
    TagResult(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    TagResult(TagError error)
        : m_state(std::in_place_index<1>, std::move(error))
    {
    }
    TagResult(TagEditorError error)
        : m_state(std::in_place_index<1>, error)
    {
    }

    [[nodiscard]] bool ok() const noexcept { return m_state.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    [[nodiscard]] T& value() & { return std::get<0>(m_state); }
    [[nodiscard]] const T& value() const& { return std::get<0>(m_state); }
    [[nodiscard]] T&& value() && { return std::get<0>(std::move(m_state)); }
    [[nodiscard]] const TagError& error() const { return std::get<1>(m_state); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, TagError> m_state;
};

struct TagOk { };
using TagStatus = TagResult<TagOk>;

} // namespace sondrel::tags
