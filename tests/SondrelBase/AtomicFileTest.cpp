#include "AtomicFile.h"

#include "../SondrelCore/FixtureFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::FixtureFolder;

void writeFile(const fs::path& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

// Every name in the folder, sorted: shows that no temporary file was left behind.
std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::error_code writeAndCommit(AtomicFile& file, std::string_view content)
{
    const std::error_code error
        = file.append(std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));
    return error ? error : file.commit();
}

TEST(AtomicFileTest, KeepExistingNeverReplacesANameTakenWhileWriting)
{
    const FixtureFolder folder;
    auto file = AtomicFile::create(folder / "Song.mp3", Placement::keepExisting);
    ASSERT_TRUE(file);
    // Someone else's file appears after the new one was started.
    writeFile(folder / "Song.mp3", "theirs");

    EXPECT_EQ(writeAndCommit(*file, "ours"), std::errc::file_exists);
    EXPECT_EQ(readFile(folder / "Song.mp3"), "theirs");
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string> { "Song.mp3" });
}

TEST(AtomicFileTest, ReplaceWritesThroughALinkAndKeepsThePermissionBits)
{
    const FixtureFolder folder;
    writeFile(folder / "report.txt", "old");
    fs::permissions(
        folder / "report.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("report.txt", folder / "link.txt");

    auto file = AtomicFile::create(folder / "link.txt", Placement::replace);
    ASSERT_TRUE(file);
    ASSERT_FALSE(writeAndCommit(*file, "new"));

    EXPECT_TRUE(fs::is_symlink(folder / "link.txt"));
    EXPECT_EQ(readFile(folder / "report.txt"), "new");
    struct stat info { };
    ASSERT_EQ(::stat((folder / "report.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string> { "link.txt", "report.txt" }));
}

TEST(AtomicFileTest, FailedPlacementLeavesTheTargetAndNoTemporaryFile)
{
    const FixtureFolder folder;
    fs::create_directories(folder / "taken" / "inside");
    {
        auto file = AtomicFile::create(folder / "taken", Placement::keepExisting);
        ASSERT_TRUE(file);
        EXPECT_EQ(writeAndCommit(*file, "new"), std::errc::file_exists);
    }
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string> { "taken" });
    EXPECT_TRUE(fs::is_directory(folder / "taken" / "inside"));
}

} // namespace
} // namespace sondrel
