#include "AtomicFile.h"

#include "../SondrelCore/FixtureFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::FixtureFolder;
using test::folderListing;
using test::readText;
using test::writeText;

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
    writeText(folder / "Song.mp3", "theirs");

    EXPECT_EQ(writeAndCommit(*file, "ours"), std::errc::file_exists);
    EXPECT_EQ(readText(folder / "Song.mp3"), "theirs");
    EXPECT_EQ(folderListing(folder.path()), std::vector<std::string> { "Song.mp3" });
}

TEST(AtomicFileTest, ReplaceWritesThroughALinkAndKeepsThePermissionBits)
{
    const FixtureFolder folder;
    writeText(folder / "report.txt", "old");
    fs::permissions(
        folder / "report.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("report.txt", folder / "link.txt");

    auto file = AtomicFile::create(folder / "link.txt", Placement::replace);
    ASSERT_TRUE(file);
    ASSERT_FALSE(writeAndCommit(*file, "new"));

    EXPECT_TRUE(fs::is_symlink(folder / "link.txt"));
    EXPECT_EQ(readText(folder / "report.txt"), "new");
    struct stat info { };
    ASSERT_EQ(::stat((folder / "report.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(folderListing(folder.path()), (std::vector<std::string> { "link.txt", "report.txt" }));
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
    EXPECT_EQ(folderListing(folder.path()), std::vector<std::string> { "taken" });
    EXPECT_TRUE(fs::is_directory(folder / "taken" / "inside"));
}

} // namespace
} // namespace sondrel
