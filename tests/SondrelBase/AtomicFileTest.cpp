#include "AtomicFile.h"

#include "../SondrelCore/FixtureFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Another program replaces the file, or writes into it, between our reading it and placing the
// new one: theirs stays and ours goes.
TEST(AtomicFileTest, ReplacesOnlyTheFileItWasToReplace)
{
    const FixtureFolder folder;
    const fs::path target = folder / "Song.mp3";
    const std::vector<std::pair<std::string, std::function<void()>>> others {
        { "replaced",
            [&] {
                writeText(folder / "theirs", "theirs");
                fs::rename(folder / "theirs", target);
            } },
        { "written into", [&] { std::ofstream(target, std::ios::app) << " and more"; } },
        { "moved away", [&] { fs::rename(target, folder / "elsewhere"); } },
    };
    for (const auto& [how, other] : others) {
        SCOPED_TRACE(how);
        fs::remove(folder / "elsewhere");
        writeText(target, "read");
        struct stat read { };
        ASSERT_EQ(::stat(target.c_str(), &read), 0);
        auto file = AtomicFile::create(target, Placement::replace);
        ASSERT_TRUE(file);
        file->setReplacedFile(read);
        const std::string before = fs::exists(target) ? readText(target) : "";
        other();
        const std::string theirs = fs::exists(target) ? readText(target) : "";
        EXPECT_EQ(writeAndCommit(*file, "new"), fileChangedMeanwhile());
        EXPECT_EQ(fs::exists(target) ? readText(target) : "", theirs);
        EXPECT_EQ(folderListing(folder.path()).size(), 1u);
    }

    fs::remove(folder / "elsewhere");
    writeText(target, "read");
    struct stat read { };
    ASSERT_EQ(::stat(target.c_str(), &read), 0);
    auto file = AtomicFile::create(target, Placement::replace);
    ASSERT_TRUE(file);
    file->setReplacedFile(read);
    EXPECT_FALSE(writeAndCommit(*file, "new"));
    EXPECT_EQ(readText(target), "new");
    EXPECT_EQ(folderListing(folder.path()), std::vector<std::string> { "Song.mp3" });
}

// Field 22 of /proc/self/stat: this process's start time.
std::string ownStartTime()
{
    const std::string stat = readText("/proc/self/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 22; ++index)
        fields >> field;
    return field;
}

// What a process killed between naming its new file and placing it leaves: removed by the next
// writer into that folder, unless its process still runs.
TEST(AtomicFileTest, TemporaryFilesOfGoneProcessesAreRemoved)
{
    const FixtureFolder folder;
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string own = std::to_string(::getpid());
    const std::vector<std::string> stale { ".sondrel-" + std::to_string(child) + "-12345-0badf00d",
        ".sondrel-" + own + "-1-0badf00d", ".sondrel-0123456789ab" };
    const std::vector<std::string> kept { ".sondrel-" + own + "-" + ownStartTime() + "-0badf00d",
        ".sondrel-notes", ".sondrel-abcdef012345", "Song.mp3" };
    for (const std::string& name : stale)
        writeText(folder / name, "left behind");
    for (const std::string& name : kept)
        writeText(folder / name, "kept");
    // Earlier versions' names carry no process: an hour old, they are stale.
    const timespec longAgo[2] = { { 0, UTIME_OMIT }, { ::time(nullptr) - 7200, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, (folder / stale.back()).c_str(), longAgo, 0), 0);

    auto file = AtomicFile::create(folder / "Song.mp3", Placement::replace);
    ASSERT_TRUE(file);
    ASSERT_FALSE(writeAndCommit(*file, "new"));
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folderListing(folder.path()), expected);
}

} // namespace
} // namespace sondrel
