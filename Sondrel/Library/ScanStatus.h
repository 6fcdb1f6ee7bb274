#pragma once

#include <string>
#include <utility>

namespace sondrel::app {

// Where one file stands in scanning: a kind plus, for `scanning`, a progress and, for `error`,
// the failure's user-facing description. Default-constructed it is `pending`.
class ScanStatus {
public:
    enum class Kind { pending, scanning, passed, failed, error };

    ScanStatus() noexcept = default;

    [[nodiscard]] static ScanStatus pending() noexcept { return {}; }
    [[nodiscard]] static ScanStatus scanning(double progress) noexcept
    {
        return { Kind::scanning, progress, {} };
    }
    [[nodiscard]] static ScanStatus passed() noexcept { return { Kind::passed, 0.0, {} }; }
    [[nodiscard]] static ScanStatus failed() noexcept { return { Kind::failed, 0.0, {} }; }
    [[nodiscard]] static ScanStatus error(std::string description) noexcept
    {
        return { Kind::error, 0.0, std::move(description) };
    }

    [[nodiscard]] Kind kind() const noexcept { return m_kind; }
    // 0.0 unless the kind is `scanning`.
    [[nodiscard]] double progress() const noexcept { return m_progress; }
    // Empty unless the kind is `error`.
    [[nodiscard]] const std::string& errorDescription() const noexcept { return m_errorDescription; }

    // Same kind and, for `scanning`, the same progress (as doubles), for `error`, the same text.
    [[nodiscard]] bool operator==(const ScanStatus& other) const noexcept
    {
        if (m_kind != other.m_kind)
            return false;
        if (m_kind == Kind::scanning)
            return m_progress == other.m_progress;
        if (m_kind == Kind::error)
            return m_errorDescription == other.m_errorDescription;
        return true;
    }

private:
    ScanStatus(Kind kind, double progress, std::string errorDescription) noexcept
        : m_kind(kind)
        , m_progress(progress)
        , m_errorDescription(std::move(errorDescription))
    {
    }

    Kind m_kind = Kind::pending;
    double m_progress = 0.0;
    std::string m_errorDescription;
};

} // namespace sondrel::app
