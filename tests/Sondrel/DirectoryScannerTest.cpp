#include "DirectoryScanner.h"

#include "../SondrelCore/FixtureFolder.h"
#include "WithoutPermissionOverride.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel::app {
namespace {

namespace fs = std::filesystem;
using sondrel::test::FixtureFolder;
using Names = std::multiset<std::string>; // the walk's order is the file system's

void touch(const fs::path& path)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

// Files found, relative to `root`, and the progress reports.
std::pair<Names, std::vector<int>> walk(const fs::path& root)
{
    std::vector<int> progress;
    Names names;
    for (const fs::path& path :
        DirectoryScanner().scanDirectory(root, [&](int found) { progress.push_back(found); }))
        names.insert(path.lexically_relative(root).native());
    return { names, progress };
}

TEST(DirectoryScannerTest, ReportsProgressEveryHundredFilesAndTheTotal)
{
    FixtureFolder root;
    Names expected;
    for (int i = 0; i < 250; ++i) {
        const std::string name = (i < 150 ? "" : "sub/deeper/") + std::to_string(i) + ".mp3";
        touch(root / name);
        touch(root / (std::to_string(i) + ".txt"));
        expected.insert(name);
    }
    EXPECT_EQ(walk(root.path()), std::pair(expected, std::vector<int> { 100, 200, 250 }));

    // No audio files, or no folder at all: one report of 0.
    const FixtureFolder empty;
    touch(empty / "cover.jpg");
    EXPECT_EQ(walk(empty.path()), std::pair(Names {}, std::vector<int> { 0 }));
    EXPECT_EQ(walk(empty / "missing"), std::pair(Names {}, std::vector<int> { 0 }));
}

TEST(DirectoryScannerTest, KeepsSupportedExtensionsInAnyCaseAndSkipsHiddenItems)
{
    FixtureFolder root;
    for (const char* name : { "Song.MP3", "song.Flac", "x.aif", "a.wav", "b.AIFF", "c.m4a", "d.aac",
             "Album.mp3/in.wav", ".hidden.mp3", ".hidden/in.mp3", "sub/.secret/in.flac", "notes.txt", "mp3",
             "x.mp3.txt", "sub/v.m4a" })
        touch(root / name);

    // A folder with an audio extension is listed like a file, and entered.
    EXPECT_EQ(walk(root.path()).first,
        (Names { "Song.MP3", "song.Flac", "x.aif", "a.wav", "b.AIFF", "c.m4a", "d.aac", "Album.mp3",
            "Album.mp3/in.wav", "sub/v.m4a" }));
}

TEST(DirectoryScannerTest, SymbolicLinksAreNeverFollowed)
{
    FixtureFolder root;
    FixtureFolder elsewhere;
    touch(root / "a/song.mp3");
    touch(elsewhere / "outside.mp3");
    fs::create_directory_symlink(root.path(), root / "a/loop");
    fs::create_directory_symlink(elsewhere.path(), root / "elsewhere");
    fs::create_symlink(root / "a/song.mp3", root / "link.mp3");

    EXPECT_EQ(walk(root.path()).first, (Names { "a/song.mp3", "link.mp3" }));
}

const std::string kLongName(200, 'n');

// Folders nested below `folder` until their path passes PATH_MAX, made through relative
// calls; returns the first folder whose path is too long.
fs::path nestBeyondPathMax(const fs::path& folder)
{
    const std::string& name = kLongName;
    fs::path path = folder;
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    while (path.native().size() <= PATH_MAX) {
        ::mkdirat(fd, name.c_str(), 0755);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        path /= name;
    }
    ::close(::openat(fd, "deep.mp3", O_WRONLY | O_CREAT, 0644));
    ::close(fd);
    return path;
}

// Undoes nestBeyondPathMax(), which path-based removal cannot reach.
void removeNested(const fs::path& folder)
{
    std::vector<int> fds { ::open(folder.c_str(), O_RDONLY | O_DIRECTORY) };
    for (int next; (next = ::openat(fds.back(), kLongName.c_str(), O_RDONLY | O_DIRECTORY)) >= 0;)
        fds.push_back(next);
    ::unlinkat(fds.back(), "deep.mp3", 0);
    for (std::size_t i = fds.size() - 1; i > 0; --i) {
        ::close(fds[i]);
        ::unlinkat(fds[i - 1], kLongName.c_str(), AT_REMOVEDIR);
    }
    ::close(fds.front());
}

TEST(DirectoryScannerTest, UnreadableAndTooLongFoldersAreSkippedAndReported)
{
    FixtureFolder root;
    touch(root / "open/a.mp3");
    touch(root / "locked/b.mp3");
    touch(root / "z.flac");
    const fs::path tooLong = nestBeyondPathMax(root / "open");
    fs::permissions(root / "locked", fs::perms::none);

    Names found;
    std::vector<std::pair<std::string, std::string>> skipped;
    const bool locked = test::runWithoutPermissionOverride(root / "locked", [&] {
        for (const fs::path& path : DirectoryScanner().scanDirectory(
                 root.path(), {}, [&](const fs::path&folder, const std::string&reason) {
                     skipped.emplace_back(folder.lexically_relative(root.path()).native(), reason);
                 }))
            found.insert(path.lexically_relative(root.path()).native());
    });
    fs::permissions(root / "locked", fs::perms::owner_all);
    removeNested(root / "open");

    EXPECT_EQ(found, (Names { "open/a.mp3", "z.flac" }));
    std::vector<std::pair<std::string, std::string>> expected
        = { { tooLong.lexically_relative(root.path()).native(), "File name too long" } };
    if (locked)
        expected.emplace_back("locked", "Permission denied");
    std::sort(skipped.begin(), skipped.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(skipped, expected);
}

TEST(DirectoryScannerTest, NamesThatAreNotUtf8AreFoundWithTheirBytes)
{
    FixtureFolder root;
    touch(root / "caf\xE9.mp3");
    touch(root / "\xFF\xFE folder/x.flac");

    EXPECT_EQ(walk(root.path()).first, (Names { "caf\xE9.mp3", "\xFF\xFE folder/x.flac" }));
}

} // namespace
} // namespace sondrel::app
