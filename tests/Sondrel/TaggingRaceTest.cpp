#include "FileLock.h"
#include "SystemFileOperations.h"
#include "TagEditor.h"

#include "../Id3Bytes.h"
#include "../TagEditor/TagBytes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sondrel::app {
namespace {

namespace fs = std::filesystem;
using tags::Id3Tag;
using tags::TagEditor;
using tags::TagStatus;
using test::folderListing;
using test::operator+;
using test::readFile;
using test::writeFile;
using Names = std::vector<std::string>;

constexpr int kChangedMeanwhile = 3;

// One byte through a pipe: a child process tells the test that it has reached a point.
class Signal {
public:
    Signal() { EXPECT_EQ(::pipe(m_ends), 0); }
    ~Signal()
    {
        ::close(m_ends[0]);
        ::close(m_ends[1]);
    }
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    void raise() { (void)!::write(m_ends[1], "x", 1); }
    [[nodiscard]] bool wait()
    {
        char byte = 0;
        return ::read(m_ends[0], &byte, 1) == 1;
    }

private:
    int m_ends[2] {};
};

pid_t inChild(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    return child;
}

int exitStatus(pid_t child)
{
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int exitCodeOf(const TagStatus& status)
{
    if (status.ok())
        return 0;
    return status.error().systemError() == fileChangedMeanwhile() ? kChangedMeanwhile : 1;
}

// Adds our comment, stopping for `pauseMicroseconds` once the file is read (while a real write
// would be building the new tag), after raising `read`.
TagStatus tagPausing(const fs::path& path, Signal& read, useconds_t pauseMicroseconds)
{
    return TagEditor().update(path, [&](Id3Tag& tag) {
        read.raise();
        ::usleep(pauseMicroseconds);
        tag.frames[tags::test::sondrelCommentName()] = tags::test::sondrelComment(128);
    });
}

bool isTagged(const fs::path& path)
{
    auto tag = TagEditor().read(path);
    return tag.ok() && tag->has_value() && (*tag)->frames.contains(tags::test::sondrelCommentName());
}

// `process --tag` beside `process --rename`, `--move` or `--trash` on one library, as two processes.
class TaggingRaceTest : public testing::Test {
protected:
    TaggingRaceTest()
    {
        fs::create_directories(m_library);
        writeFile(m_track, m_original);
    }

    test::FixtureFolder m_folder;
    const fs::path m_library = m_folder / "library";
    const fs::path m_track = m_library / "fake2.mp3";
    const test::Bytes m_original
        = test::tag(3, test::frame(3, "TIT2", { 0, 'T' }), 100) + test::fakeAudio(64 * 1024);
};

TEST_F(TaggingRaceTest, RenameAndTrashWaitForATagWriteAndTakeTheTaggedFile)
{
    const fs::path renamed = m_library / "fake2 fake-128.mp3";
    const fs::path trashed = m_folder / "data" / "Trash" / "files" / "fake2 fake-128.mp3";
    const std::vector<std::pair<std::string, std::function<bool()>>> operations {
        { "rename", [&] { return SystemFileOperations().moveItem(m_track, renamed).ok(); } },
        { "trash",
            [&] {
                ::setenv("XDG_DATA_HOME", (m_folder / "data").c_str(), 1);
                return SystemFileOperations().trashItem(renamed).ok();
            } },
    };
    for (const auto& [name, operation] : operations) {
        SCOPED_TRACE(name);
        const fs::path& file = name == "rename" ? m_track : renamed;
        Signal read;
        const pid_t tagger = inChild([&] { return exitCodeOf(tagPausing(file, read, 300'000)); });
        ASSERT_TRUE(read.wait());
        const pid_t other = inChild([&] { return operation() ? 0 : 1; });
        EXPECT_EQ(exitStatus(tagger), 0);
        EXPECT_EQ(exitStatus(other), 0);
        const fs::path result = name == "rename" ? renamed : trashed;
        EXPECT_TRUE(isTagged(result));
        EXPECT_EQ(folderListing(m_library), name == "rename" ? Names { "fake2 fake-128.mp3" } : Names {});
    }
}

// Our mover holds the file when the tag writer comes; once it may go on, the file is gone.
TEST_F(TaggingRaceTest, TagWriteAfterAMoveLeavesTheMovedFileAlone)
{
    const fs::path renamed = m_library / "fake2 fake-128.mp3";
    Signal locked;
    const pid_t mover = inChild([&] {
        const auto held = openLocked(m_track, O_RDONLY);
        locked.raise();
        ::usleep(300'000);
        return held && ::rename(m_track.c_str(), renamed.c_str()) == 0 ? 0 : 1;
    });
    ASSERT_TRUE(locked.wait());
    const TagStatus status = TagEditor().update(m_track, [](Id3Tag& current) {
        current.frames[tags::test::sondrelCommentName()] = tags::test::sondrelComment(128);
    });
    EXPECT_EQ(exitStatus(mover), 0);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().description(), "The file was moved or changed while it was being tagged");
    EXPECT_EQ(folderListing(m_library), Names { "fake2 fake-128.mp3" });
    EXPECT_EQ(readFile(renamed), m_original);
}

// Programs of others take no lock: a file they replace or write into while we tag it is theirs.
TEST_F(TaggingRaceTest, FileReplacedOrWrittenByAnotherProgramWhileTaggedIsLeftAsTheyLeftIt)
{
    const test::Bytes theirs = test::tag(3, test::frame(3, "TIT2", { 0, 'U' }), 10) + test::fakeAudio(1000);
    const std::vector<std::pair<std::string, std::function<void()>>> others {
        { "replaced",
            [&] {
                writeFile(m_library / "theirs.tmp", theirs);
                fs::rename(m_library / "theirs.tmp", m_track);
            } },
        { "written into", [&] { std::ofstream(m_track, std::ios::app) << "more"; } },
    };
    for (const auto& [how, other] : others) {
        SCOPED_TRACE(how);
        writeFile(m_track, m_original);
        Signal read;
        const pid_t tagger = inChild([&] { return exitCodeOf(tagPausing(m_track, read, 300'000)); });
        ASSERT_TRUE(read.wait());
        other();
        const test::Bytes left = readFile(m_track);
        EXPECT_EQ(exitStatus(tagger), kChangedMeanwhile);
        EXPECT_EQ(readFile(m_track), left);
        EXPECT_EQ(folderListing(m_library), Names { "fake2.mp3" });
    }
}

} // namespace
} // namespace sondrel::app
