#include "TagEditor.h"

#include "LocalizedTextFrame.h"
#include "SondrelCore/FixtureFolder.h"
#include "TagBytes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace sondrel::tags {
namespace {

namespace fs = std::filesystem;
using namespace test;
constexpr auto v3 = Id3Version::version3;

Id3Tag commentTag()
{
    Id3Tag tag = Id3Tag::emptyVersion3();
    tag.frames[sondrelCommentName()] = sondrelComment(320);
    return tag;
}

TagStatus writeComment(const fs::path& path)
{
    Id3Tag tag = commentTag();
    return TagEditor().write(tag, path);
}

// Runs `write` in a child process, so that limits and identities set there leave this process
// alone; the child's exit status is the errno of the write's failure, 0 when it succeeded.
int errnoOfWriteInChild(const std::function<void()>& prepare, const fs::path& path)
{
    const pid_t child = ::fork();
    if (child == 0) {
        prepare();
        const TagStatus status = writeComment(path);
        ::_exit(status.ok() ? 0 : status.error().systemError().value() & 0xFF);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void becomeNobody()
{
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        ::_exit(255);
}

class TagEditorFailureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_original = tag(v3, frame(v3, "TXXX", Bytes { 0, 'k', 0, 'v' }), 100) + fakeAudio(256 * 1024);
        m_path = m_folder / "track.mp3";
        writeFile(m_path, m_original);
    }

    void expectOriginalIntact()
    {
        EXPECT_EQ(readFile(m_path), m_original);
        EXPECT_EQ(folderListing(m_folder.path()), std::vector<std::string> { "track.mp3" });
    }

    sondrel::test::FixtureFolder m_folder;
    Bytes m_original;
    fs::path m_path;
};

TEST_F(TagEditorFailureTest, ReadOnlyFolderLeavesTheOriginalIntactAndNoTemporaryFile)
{
    ASSERT_EQ(::chmod(m_folder.path().c_str(), 0555), 0);
    // Root writes into read-only folders, so the write runs as nobody.
    const int error = errnoOfWriteInChild(becomeNobody, m_path);
    ::chmod(m_folder.path().c_str(), 0755);
    EXPECT_EQ(error, EACCES);
    expectOriginalIntact();
}

TEST_F(TagEditorFailureTest, FilesTheUserMayNotWriteAreRefusedEvenInAWritableFolder)
{
    ASSERT_EQ(::chmod(m_folder.path().c_str(), 0777), 0);
    ASSERT_EQ(::chown(m_path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(m_path.c_str(), 0444), 0);
    const fs::path foreign = m_folder / "foreign.mp3";
    writeFile(foreign, m_original); // root's, 0644

    EXPECT_EQ(errnoOfWriteInChild(becomeNobody, m_path), EACCES) << "read-only";
    EXPECT_EQ(errnoOfWriteInChild(becomeNobody, foreign), EACCES) << "another user's";
    struct stat status { };
    ASSERT_EQ(::stat(foreign.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_EQ(readFile(foreign), m_original);
    fs::remove(foreign);
    expectOriginalIntact();
}

TEST_F(TagEditorFailureTest, FileWithoutAnyWriteBitIsRefusedForRootToo)
{
    ASSERT_EQ(::chmod(m_path.c_str(), 0444), 0);
    const TagStatus status = writeComment(m_path);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().systemError(), std::errc::permission_denied);
    expectOriginalIntact();
}

TEST_F(TagEditorFailureTest, RewriteKeepsModeOwnerGroupAndExtendedAttributes)
{
    ASSERT_EQ(::chown(m_path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(m_path.c_str(), 0640), 0);
    const bool attributes = ::setxattr(m_path.c_str(), "user.rating", "5", 1, 0) == 0;
    ASSERT_TRUE(writeComment(m_path).ok());

    struct stat status { };
    ASSERT_EQ(::stat(m_path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(std::pair(status.st_uid, status.st_gid), std::pair(uid_t { 65534 }, gid_t { 65534 }));
    EXPECT_NE(readFile(m_path), m_original);
    if (!attributes)
        GTEST_SKIP() << "no user attributes on this file system";
    char rating[8] {};
    EXPECT_EQ(::getxattr(m_path.c_str(), "user.rating", rating, sizeof rating), 1);
    EXPECT_EQ(rating[0], '5');
}

TEST_F(TagEditorFailureTest, HardLinkedFileIsRefusedRatherThanSplit)
{
    const fs::path other = m_folder / "other name.mp3";
    fs::create_hard_link(m_path, other);
    const TagStatus status = writeComment(m_path);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().systemError(), std::errc::too_many_links);
    EXPECT_NE(status.error().description().find("hard links"), std::string::npos);
    EXPECT_EQ(readFile(other), m_original);
    fs::remove(other);
    expectOriginalIntact();
}

TEST_F(TagEditorFailureTest, KilledWritesLeaveNoTemporaryFileAndAWholeFile)
{
    const Bytes audio = fakeAudio(4 * 1024 * 1024);
    writeFile(m_path, tag(v3, frame(v3, "TXXX", Bytes { 0, 'k', 0, 'v' })) + audio);
    for (int round = 0; round < 10; ++round) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (;;)
                (void)writeComment(m_path);
        }
        ::usleep(static_cast<useconds_t>(5000 + round * 7000));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    EXPECT_EQ(folderListing(m_folder.path()), std::vector<std::string> { "track.mp3" });
    const Bytes written = readFile(m_path);
    ASSERT_GE(written.size(), audio.size());
    EXPECT_TRUE(
        std::equal(audio.begin(), audio.end(), written.end() - static_cast<std::ptrdiff_t>(audio.size())));
}

TEST_F(TagEditorFailureTest, WriteFailingHalfwayRemovesTheTemporaryFile)
{
    // A file size limit (which binds root too) stops the copy of the audio after 64 KiB.
    const int error = errnoOfWriteInChild(
        [] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit { 64 * 1024, 64 * 1024 };
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(255);
        },
        m_path);
    EXPECT_EQ(error, EFBIG);
    expectOriginalIntact();
}

TEST_F(TagEditorFailureTest, FileSystemErrorsArePassedOnAndNothingIsWritten)
{
    const TagEditor editor;
    Id3Tag tag = commentTag();
    // The destination's folder cannot be made: one of its parents is a file.
    const TagStatus blocked = editor.write(tag, m_path, m_path / "sub" / "copy.mp3");
    ASSERT_FALSE(blocked.ok());
    EXPECT_FALSE(blocked.error().tagEditorError().has_value());
    EXPECT_FALSE(blocked.error().description().empty());
    expectOriginalIntact();

    EXPECT_EQ(editor.write(tag, m_folder / "missing.mp3").error().systemError(),
        std::errc::no_such_file_or_directory);
    fs::create_directory(m_folder / "folder.mp3");
    EXPECT_EQ(editor.write(tag, m_folder / "folder.mp3").error().systemError(), std::errc::is_a_directory);
    EXPECT_EQ(
        editor.write(tag, m_path, m_folder / "folder.mp3").error().systemError(), std::errc::is_a_directory);
    fs::remove(m_folder / "folder.mp3");

    Id3Tag empty = Id3Tag::emptyVersion3();
    EXPECT_EQ(editor.write(empty, m_path).error(), TagEditorError::invalidTagData);
    EXPECT_EQ(empty.properties.size, 0u) << "the size changes only with a successful write";
    expectOriginalIntact();
}

} // namespace
} // namespace sondrel::tags
