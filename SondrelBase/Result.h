#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace sondrel {

// An error as it reaches the user: its text only. Errors of FFmpeg and of the
// system carry their own text; the modules' enumerations give their fixed texts.
struct Error {
    std::string description;

    bool operator==(const Error&) const = default;
};

// A value or an error. A tiny stand-in for std::expected, which GCC 12 lacks in C++20.
// A module with richer errors (the tag module's cases, system error codes) names its own `E`.
template <typename T, typename E = Error> class [[nodiscard]] Result {
public:
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    Result(E error)
        : m_state(std::in_place_index<1>, std::move(error))
    {
    }
    // Anything that makes an `E` (a module's enumeration case) may stand for the error.
    template <typename U>
    requires(!std::is_same_v<std::remove_cvref_t<U>,
                 E> && !std::is_convertible_v<U, T> && std::is_convertible_v<U, E>) Result(U&& error)
        : m_state(std::in_place_index<1>, E(std::forward<U>(error)))
    {
    }

    [[nodiscard]] bool ok() const noexcept { return m_state.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    [[nodiscard]] T& value() & { return std::get<0>(m_state); }
    [[nodiscard]] const T& value() const& { return std::get<0>(m_state); }
    [[nodiscard]] T&& value() && { return std::get<0>(std::move(m_state)); }
    [[nodiscard]] const E& error() const { return std::get<1>(m_state); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, E> m_state;
};

struct Ok { };
template <typename E = Error> using StatusOf = Result<Ok, E>;
using Status = StatusOf<>;

} // namespace sondrel
