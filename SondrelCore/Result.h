#pragma once

#include <string>
#include <utility>
#include <variant>

namespace sondrel::core {

// An error as it reaches the user: its text only. Errors of FFmpeg and of the
// system carry their own text; the core's enumerations give their fixed texts.
struct Error {
    std::string description;

    bool operator==(const Error&) const = default;
};

// A value or an error. A tiny stand-in for std::expected, which GCC 12 lacks in C++20.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    Result(Error error)
        : m_state(std::in_place_index<1>, std::move(error))
    {
    }

    [[nodiscard]] bool ok() const noexcept { return m_state.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    [[nodiscard]] T& value() & { return std::get<0>(m_state); }
    [[nodiscard]] const T& value() const& { return std::get<0>(m_state); }
    [[nodiscard]] T&& value() && { return std::get<0>(std::move(m_state)); }
    [[nodiscard]] const Error& error() const { return std::get<1>(m_state); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, Error> m_state;
};

struct Ok { };
using Status = Result<Ok>;

} // namespace sondrel::core
