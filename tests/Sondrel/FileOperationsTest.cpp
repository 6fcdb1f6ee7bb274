#include "FileOperations.h"
#include "SystemFileOperations.h"

#include "../SondrelCore/FixtureFolder.h"
#include "WithoutPermissionOverride.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel::app {
namespace {

namespace fs = std::filesystem;
using test::FixtureFolder;
using test::folderListing;
using test::readText;
using test::writeText;

using Names = std::vector<std::string>;

// Runs `body` on a thread where folder modes bind even for root. False when they do not bind
// there (capabilities could not be dropped); the test then skips.
bool runWhereModesBind(const FixtureFolder& folder, const std::function<void()>& body)
{
    const fs::path probe = folder / "mode-000";
    fs::create_directory(probe);
    fs::permissions(probe, fs::perms::none);
    const bool binds = test::runWithoutPermissionOverride(probe, body);
    fs::permissions(probe, fs::perms::owner_all);
    fs::remove(probe);
    return binds;
}

// A file system whose rename refuses RENAME_NOREPLACE, as some network file systems do.
class FileSystemWithoutNoReplace : public SystemFileOperations {
protected:
    int renameWithoutReplacing(const fs::path&, const fs::path&) noexcept override { return EINVAL; }
};

// Files in `otherDevice` sit on another file system than everything else.
class SourceOnAnotherDevice : public SystemFileOperations {
public:
    explicit SourceOnAnotherDevice(fs::path otherDevice)
        : m_otherDevice(std::move(otherDevice))
    {
    }

protected:
    int renameWithoutReplacing(const fs::path& from, const fs::path& to) noexcept override
    {
        if (from.parent_path() == m_otherDevice)
            return EXDEV;
        return SystemFileOperations::renameWithoutReplacing(from, to);
    }

private:
    fs::path m_otherDevice;
};

class FileOperationsTest : public testing::Test {
protected:
    FileOperationsTest()
    {
        fs::create_directories(m_source);
        fs::create_directories(m_destination);
    }

    // Moves "Song.mp3" out of the source with `locked` made read-only; nothing where folder
    // modes do not bind.
    std::optional<MoveStatus> moveWithReadOnly(FileOperations& operations, const fs::path& locked)
    {
        writeText(m_source / "Song.mp3", "audio");
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        std::optional<MoveStatus> status;
        const bool binds = runWhereModesBind(m_folder,
            [&] { status = operations.moveItem(m_source / "Song.mp3", m_destination / "Song.mp3"); });
        fs::permissions(locked, fs::perms::owner_all);
        return binds ? status : std::nullopt;
    }

    FixtureFolder m_folder;
    const fs::path m_source = m_folder / "source";
    const fs::path m_destination = m_folder / "destination";
    SystemFileOperations m_operations;
};

TEST_F(FileOperationsTest, RenamesInPlaceAndMovesToAnotherFolder)
{
    writeText(m_source / "Track 01.mp3", "audio");

    ASSERT_TRUE(m_operations.moveItem(m_source / "Track 01.mp3", m_source / "Track 01 fake-128.mp3"));
    EXPECT_EQ(folderListing(m_source), Names { "Track 01 fake-128.mp3" });

    ASSERT_TRUE(
        m_operations.moveItem(m_source / "Track 01 fake-128.mp3", m_destination / "Track 01 fake-128.mp3"));
    EXPECT_EQ(folderListing(m_source), Names {});
    EXPECT_EQ(readText(m_destination / "Track 01 fake-128.mp3"), "audio");
}

TEST_F(FileOperationsTest, NeverReplacesAnExistingTarget)
{
    writeText(m_source / "Song.mp3", "moving");
    writeText(m_destination / "Song.mp3", "staying");

    const MoveStatus status = m_operations.moveItem(m_source / "Song.mp3", m_destination / "Song.mp3");

    ASSERT_FALSE(status);
    EXPECT_EQ(status.failure(), MoveFailure::targetExists);
    EXPECT_EQ(status.error().description, "File exists");
    EXPECT_EQ(readText(m_source / "Song.mp3"), "moving");
    EXPECT_EQ(readText(m_destination / "Song.mp3"), "staying");
}

TEST_F(FileOperationsTest, MissingSourceAndUnwritableFolderAreOtherFailures)
{
    const MoveStatus missing = m_operations.moveItem(m_source / "Gone.mp3", m_destination / "Gone.mp3");
    EXPECT_EQ(missing.failure(), MoveFailure::other);
    EXPECT_EQ(missing.error().description, "No such file or directory");

    const std::optional<MoveStatus> denied = moveWithReadOnly(m_operations, m_destination);
    if (!denied)
        GTEST_SKIP() << "folder modes do not bind here";

    ASSERT_FALSE(*denied);
    EXPECT_EQ(denied->failure(), MoveFailure::other);
    EXPECT_EQ(denied->error().description, "Permission denied");
    EXPECT_EQ(readText(m_source / "Song.mp3"), "audio");
    EXPECT_EQ(folderListing(m_destination), Names {});
}

// Neither the link-then-unlink fallback nor the copy across devices replaces a taken name; an
// unremovable source makes the first take back its link and the second remove its copy.
TEST_F(FileOperationsTest, FallbackMovesNeverReplaceAndLeaveNothingBehindOnFailure)
{
    FileSystemWithoutNoReplace withoutNoReplace;
    SourceOnAnotherDevice acrossDevices(m_source);
    const std::vector<FileOperations*> fallbacks = { &withoutNoReplace, &acrossDevices };
    writeText(m_source / "A.mp3", "a");
    writeText(m_source / "B.mp3", "b");
    ASSERT_TRUE(withoutNoReplace.moveItem(m_source / "A.mp3", m_destination / "A.mp3"));
    for (FileOperations* operations : fallbacks) {
        const MoveStatus taken = operations->moveItem(m_source / "B.mp3", m_destination / "A.mp3");
        EXPECT_EQ(taken.failure(), MoveFailure::targetExists);
        EXPECT_EQ(folderListing(m_source), Names { "B.mp3" });
        EXPECT_EQ(readText(m_source / "B.mp3"), "b");
        EXPECT_EQ(folderListing(m_destination), Names { "A.mp3" });
        EXPECT_EQ(readText(m_destination / "A.mp3"), "a");
    }

    fs::remove(m_destination / "A.mp3");
    for (FileOperations* operations : fallbacks) {
        const std::optional<MoveStatus> status = moveWithReadOnly(*operations, m_source);
        if (!status)
            GTEST_SKIP() << "folder modes do not bind here";
        EXPECT_EQ(status->error().description, "Permission denied");
        EXPECT_EQ(readText(m_source / "Song.mp3"), "audio");
        EXPECT_EQ(folderListing(m_destination), Names {});
    }
}

TEST_F(FileOperationsTest, AcrossDevicesCopiesContentModeAndTimes)
{
    SourceOnAnotherDevice operations(m_source);
    // Larger than one copy chunk, and not a repeating block, so a lost or repeated chunk shows.
    std::string content(600 * 1024, '\0');
    std::mt19937 random(7);
    std::generate(content.begin(), content.end(), [&] { return static_cast<char>(random()); });
    writeText(m_source / "Song.mp3", content);
    fs::permissions(
        m_source / "Song.mp3", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const timespec times[2] = { { 1'000'000'000, 250 }, { 1'500'000'000, 123'456'789 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, (m_source / "Song.mp3").c_str(), times, 0), 0);

    ASSERT_TRUE(operations.moveItem(m_source / "Song.mp3", m_destination / "Song.mp3"));

    EXPECT_EQ(folderListing(m_source), Names {});
    EXPECT_EQ(folderListing(m_destination), Names { "Song.mp3" });
    EXPECT_TRUE(readText(m_destination / "Song.mp3") == content);
    struct stat moved { };
    ASSERT_EQ(::stat((m_destination / "Song.mp3").c_str(), &moved), 0);
    EXPECT_EQ(moved.st_mode & 07777, 0640u);
    EXPECT_EQ(moved.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(moved.st_mtim.tv_nsec, times[1].tv_nsec);
}

// A folder on another file system than `near`: a tmpfs mounted for the test where that is
// permitted (root), else /dev/shm when it is a file system of its own; empty when neither is.
class OtherFileSystem {
public:
    explicit OtherFileSystem(const fs::path& near)
    {
        const fs::path mountPoint = near / "other-file-system";
        fs::create_directories(mountPoint);
        if (::mount("sondrel-test", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=4m") == 0) {
            m_path = m_mountPoint = mountPoint;
            return;
        }
        struct stat shm { };
        struct stat here { };
        if (::stat("/dev/shm", &shm) == 0 && ::stat(near.c_str(), &here) == 0 && shm.st_dev != here.st_dev) {
            m_path = fs::path("/dev/shm") / near.filename();
            fs::create_directories(m_path);
        }
    }
    ~OtherFileSystem()
    {
        std::error_code ignored;
        if (!m_mountPoint.empty())
            ::umount2(m_mountPoint.c_str(), MNT_DETACH);
        else if (!m_path.empty())
            fs::remove_all(m_path, ignored);
    }
    OtherFileSystem(const OtherFileSystem&) = delete;
    OtherFileSystem& operator=(const OtherFileSystem&) = delete;

    [[nodiscard]] const fs::path& path() const noexcept { return m_path; }

private:
    fs::path m_path;
    fs::path m_mountPoint;
};

TEST_F(FileOperationsTest, OnAnotherFileSystemMovesAndRefusesTakenNames)
{
    const OtherFileSystem other(m_folder.path());
    if (other.path().empty())
        GTEST_SKIP() << "no second file system: tmpfs cannot be mounted and /dev/shm is on the same one";
    writeText(m_source / "A.mp3", "a");
    writeText(m_source / "B.mp3", "b");

    ASSERT_TRUE(m_operations.moveItem(m_source / "A.mp3", other.path() / "A.mp3"));
    const MoveStatus taken = m_operations.moveItem(m_source / "B.mp3", other.path() / "A.mp3");

    EXPECT_EQ(taken.failure(), MoveFailure::targetExists);
    EXPECT_EQ(folderListing(m_source), Names { "B.mp3" });
    EXPECT_EQ(readText(m_source / "B.mp3"), "b");
    EXPECT_EQ(folderListing(other.path()), Names { "A.mp3" });
    EXPECT_EQ(readText(other.path() / "A.mp3"), "a");
}

// Answers every move with `answer` and records the targets tried.
class ScriptedFileOperations : public FileOperations {
public:
    explicit ScriptedFileOperations(std::function<MoveStatus(const fs::path&)> answer)
        : m_answer(std::move(answer))
    {
    }

    MoveStatus moveItem(const fs::path&, const fs::path& to) noexcept override
    {
        m_targets.push_back(to);
        return m_answer(to);
    }
    sondrel::Status trashItem(const fs::path&) noexcept override { return sondrel::Ok {}; }

    [[nodiscard]] const std::vector<fs::path>& targets() const noexcept { return m_targets; }

private:
    std::function<MoveStatus(const fs::path&)> m_answer;
    std::vector<fs::path> m_targets;
};

const MoveStatus kTaken { MoveFailure::targetExists, sondrel::Error { "File exists" } };

TEST_F(FileOperationsTest, NumberedNamesSplitOffOnlyTheLastExtension)
{
    const std::pair<std::string, std::string> cases[] = {
        { "a.b.mp3", "a.b (1).mp3" },
        { "Song.MP3", "Song (1).MP3" },
        { "Song", "Song (1)" },
        { ".mp3", ".mp3 (1)" },
        { "Na\xFFme.mp3", "Na\xFFme (1).mp3" },
    };
    for (const auto& [name, numbered] : cases) {
        ScriptedFileOperations operations([](const fs::path& to) {
            return to.filename().string().find('(') == std::string::npos ? kTaken : MoveStatus {};
        });
        const sondrel::Result<fs::path> moved = moveWithNumbering(operations, m_source / name, m_destination);
        ASSERT_TRUE(moved) << name;
        EXPECT_EQ(*moved, m_destination / numbered);
    }
}

TEST_F(FileOperationsTest, NumberedMoveStopsAtTheFirstOtherError)
{
    ScriptedFileOperations operations([](const fs::path& to) {
        return to.filename() == "Song.mp3"
            ? kTaken
            : MoveStatus { MoveFailure::other, sondrel::Error { "Permission denied" } };
    });

    const sondrel::Result<fs::path> moved
        = moveWithNumbering(operations, m_source / "Song.mp3", m_destination);

    ASSERT_FALSE(moved);
    EXPECT_EQ(moved.error().description, "Permission denied");
    EXPECT_EQ(
        operations.targets(), (std::vector { m_destination / "Song.mp3", m_destination / "Song (1).mp3" }));
}

TEST_F(FileOperationsTest, NumberedMoveGivesUpAfterTheLastNumber)
{
    ScriptedFileOperations operations([](const fs::path&) { return kTaken; });

    const sondrel::Result<fs::path> moved
        = moveWithNumbering(operations, m_source / "Song.mp3", m_destination);

    ASSERT_FALSE(moved);
    EXPECT_EQ(moved.error().description, "File exists");
    ASSERT_EQ(operations.targets().size(), std::size_t { kMaxMoveNumber } + 1);
    EXPECT_EQ(
        operations.targets().back(), m_destination / ("Song (" + std::to_string(kMaxMoveNumber) + ").mp3"));
}

// Points HOME and XDG_DATA_HOME into `home` for the scope, so that no test reaches the user's
// own Trash. The data folder does not exist yet, as for a user who never had one.
class ScopedHome {
public:
    explicit ScopedHome(const fs::path& home)
    {
        fs::create_directories(home);
        set("HOME", home);
        set("XDG_DATA_HOME", home / "data");
    }
    ~ScopedHome()
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

private:
    void set(const std::string& name, const fs::path& value)
    {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// "%2F" back to "/": what a desktop does to restore a file.
std::string percentDecoded(const std::string& text)
{
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// The original path a ".trashinfo" file records, decoded; empty when it has no Path line.
std::string restoredPath(const fs::path& info)
{
    const std::string content = readText(info);
    const std::size_t start = content.find("\nPath=");
    if (content.rfind("[Trash Info]\n", 0) != 0 || start == std::string::npos
        || content.find("\nDeletionDate=") == std::string::npos)
        return {};
    const std::size_t end = content.find('\n', start + 1);
    return percentDecoded(content.substr(start + 6, end - start - 6));
}

TEST_F(FileOperationsTest, TrashRecordsAnyNameSoTheDesktopRestoresIt)
{
    const ScopedHome home(m_folder / "home");
    const fs::path trash = m_folder / "home" / "data" / "Trash";
    const std::string longName = std::string(250, 'x') + ".mp3";
    const std::vector<std::string> names
        = { "per%cent 50%.mp3", "two\nlines.mp3", "Na\xFFme.mp3", longName, "Song.mp3" };
    for (const std::string& name : names)
        writeText(m_source / name, name);
    // A name that is taken in the Trash gets a number.
    fs::create_directories(trash / "info");
    writeText(trash / "info" / "Song.mp3.trashinfo", "someone else's");

    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const sondrel::Status status = m_operations.trashItem(m_source / name);
        ASSERT_TRUE(status) << status.error().description;
    }

    EXPECT_EQ(folderListing(m_source), Names {});
    const std::string shortened = std::string(241, 'x') + ".mp3";
    const std::vector<std::pair<std::string, std::string>> stored
        = { { "per%cent 50%.mp3", names[0] }, { "two\nlines.mp3", names[1] }, { "Na\xFFme.mp3", names[2] },
              { shortened, longName }, { "Song (2).mp3", "Song.mp3" } };
    for (const auto& [inTrash, original] : stored) {
        SCOPED_TRACE(original);
        EXPECT_EQ(readText(trash / "files" / inTrash), original);
        EXPECT_EQ(restoredPath(trash / "info" / (inTrash + ".trashinfo")), (m_source / original).string());
    }
    EXPECT_EQ(readText(trash / "info" / "Song.mp3.trashinfo"), "someone else's");
}

// A trash killed between writing the info file and moving the file left an info file that
// reserves the name; one still held by a trash under way is left alone.
TEST_F(FileOperationsTest, TrashTakesBackANameThatAKilledTrashReserved)
{
    const ScopedHome home(m_folder / "home");
    const fs::path info = m_folder / "home" / "data" / "Trash" / "info";
    fs::create_directories(info);
    const timespec aMinuteAgo[2] = { { 0, UTIME_OMIT }, { ::time(nullptr) - 60, 0 } };
    for (const std::string name : { "Song.mp3", "Held.mp3" }) {
        writeText(m_source / name, name);
        writeText(info / (name + ".trashinfo"), "[Trash Info]\nPath=/elsewhere\n");
        ASSERT_EQ(::utimensat(AT_FDCWD, (info / (name + ".trashinfo")).c_str(), aMinuteAgo, 0), 0);
    }
    const int held = ::open((info / "Held.mp3.trashinfo").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    ASSERT_TRUE(m_operations.trashItem(m_source / "Song.mp3"));
    ASSERT_TRUE(m_operations.trashItem(m_source / "Held.mp3"));
    ::close(held);

    EXPECT_EQ(restoredPath(info / "Song.mp3.trashinfo"), (m_source / "Song.mp3").string());
    EXPECT_EQ(restoredPath(info / "Held (2).mp3.trashinfo"), (m_source / "Held.mp3").string());
    EXPECT_EQ(folderListing(info),
        (Names { "Held (2).mp3.trashinfo", "Held.mp3.trashinfo", "Song.mp3.trashinfo" }));
}

// A tmpfs mounted for the test; skips without the right to mount.
TEST_F(FileOperationsTest, TrashOnAnotherFileSystemUsesTheTrashAtItsTop)
{
    const ScopedHome home(m_folder / "home");
    const fs::path top = m_folder / "volume";
    fs::create_directories(top);
    if (::mount("sondrel-test", top.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    fs::create_directories(top / "Set");
    writeText(top / "Set" / "a.mp3", "a");

    const sondrel::Status status = m_operations.trashItem(top / "Set" / "a.mp3");

    const fs::path trash = top / (".Trash-" + std::to_string(::getuid()));
    std::string stored = readText(trash / "files" / "a.mp3");
    std::string recorded = restoredPath(trash / "info" / "a.mp3.trashinfo");
    const bool homeTrashUsed = fs::exists(m_folder / "home" / "data" / "Trash");
    ::umount2(top.c_str(), MNT_DETACH);
    ASSERT_TRUE(status) << status.error().description;
    EXPECT_EQ(stored, "a");
    // Relative to the top of the file system, so the volume may be mounted anywhere.
    EXPECT_EQ(recorded, "Set/a.mp3");
    EXPECT_FALSE(homeTrashUsed);
}

TEST_F(FileOperationsTest, TrashFailureLeavesTheFileAndGivesTheSystemsText)
{
    const ScopedHome home(m_folder / "home");
    const sondrel::Status missing = m_operations.trashItem(m_source / "Gone.mp3");
    EXPECT_EQ(missing.error().description, "No such file or directory");

    // The home Trash cannot be made: its folder is a file.
    writeText(m_folder / "home" / "data", "not a folder");
    writeText(m_source / "Song.mp3", "audio");
    const sondrel::Status blocked = m_operations.trashItem(m_source / "Song.mp3");
    EXPECT_EQ(blocked.error().description, "Not a directory");
    EXPECT_EQ(readText(m_source / "Song.mp3"), "audio");
}

} // namespace
} // namespace sondrel::app
