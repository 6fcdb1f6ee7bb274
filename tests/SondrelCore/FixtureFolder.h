#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

namespace sondrel::test {

// A fresh temporary folder, removed with everything in it at the end of the scope.
class FixtureFolder {
public:
    FixtureFolder()
    {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path()
            / ("sondrel-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
        std::filesystem::create_directories(m_path);
    }
    ~FixtureFolder()
    {
        std::error_code ec;
        std::filesystem::permissions(
            m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    FixtureFolder(const FixtureFolder&) = delete;
    FixtureFolder& operator=(const FixtureFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

} // namespace sondrel::test
