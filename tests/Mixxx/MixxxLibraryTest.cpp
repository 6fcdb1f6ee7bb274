#include "MixxxLibrary.h"

#include "MixxxDatabase.h"

#include "../SondrelCore/FixtureFolder.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace sondrel::app;
using sondrel::test::FixtureFolder;
using sondrel::test::MixxxDatabase;
namespace fs = std::filesystem;

namespace {

using Paths = std::vector<fs::path>;

std::string readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

class MixxxLibraryTest : public testing::Test {
protected:
    // A process list as /proc shows it: a folder per process with its name and open files.
    void addProcess(const std::string& pid, const std::string& name, const Paths& openFiles = {})
    {
        fs::create_directories(m_processes / pid / "fd");
        std::ofstream(m_processes / pid / "comm") << name << '\n';
        int fd = 3;
        for (const auto& file : openFiles)
            fs::create_symlink(file, m_processes / pid / "fd" / std::to_string(fd++));
    }

    MixxxLibrary library() const { return MixxxLibrary(m_database.path(), m_processes); }

    FixtureFolder m_temp;
    fs::path m_music = m_temp.path() / "Music";
    fs::path m_processes = m_temp.path() / "proc";
    MixxxDatabase m_database { m_temp.path() / "mixxxdb.sqlite" };
    const std::string m_crate = MixxxLibrary::kDefaultCrateName;
};

} // namespace

TEST_F(MixxxLibraryTest, AddsTheFilesMixxxShowsToANewCrateAndNamesTheOthers)
{
    m_database.addTrack(m_music / "a.mp3");
    m_database.addTrack(m_music / "b.mp3");
    m_database.addTrack(m_music / "removed in Mixxx.mp3", true);
    m_database.addTrack(m_music / "passed.mp3");
    addProcess("100", "bash");

    const Paths files { m_music / "b.mp3", m_music / "a.mp3", m_music / "removed in Mixxx.mp3",
        m_music / "new.mp3" };
    auto outcome = library().addToCrate(m_crate, files);
    ASSERT_TRUE(outcome) << outcome.error().description;
    EXPECT_EQ(outcome->added, (Paths { m_music / "b.mp3", m_music / "a.mp3" }));
    EXPECT_EQ(outcome->unknown, (Paths { m_music / "removed in Mixxx.mp3", m_music / "new.mp3" }));
    EXPECT_EQ(m_database.crate(m_crate), (m_music / "a.mp3").string() + "\n" + (m_music / "b.mp3").string());
    EXPECT_EQ(m_database.query("SELECT name, show FROM crates"), m_crate + "|1");

    // The copy beside it is the library as it was before the crate.
    const fs::path backup = m_temp.path() / "mixxxdb.sqlite.sondrel-backup";
    EXPECT_EQ(library().backupPath(), backup);
    EXPECT_EQ(MixxxDatabase::queryFile(backup, "SELECT COUNT(*) FROM library"), "4");
    EXPECT_EQ(MixxxDatabase::queryFile(backup, "SELECT COUNT(*) FROM crates"), "0");
}

TEST_F(MixxxLibraryTest, RunningAgainAddsNothingTwiceAndLeavesTheDatabaseAlone)
{
    m_database.addTrack(m_music / "a.mp3");
    m_database.addTrack(m_music / "a.mp3.dup"); // no match for a prefix
    ASSERT_TRUE(library().addToCrate(m_crate, { m_music / "a.mp3" }));
    const std::string database = readBytes(m_database.path());
    const std::string backup = readBytes(library().backupPath());

    // The same file twice in one run counts once.
    auto again = library().addToCrate(m_crate, { m_music / "a.mp3", m_music / "a.mp3" });
    ASSERT_TRUE(again) << again.error().description;
    EXPECT_TRUE(again->added.empty());
    EXPECT_EQ(again->alreadyInCrate, (Paths { m_music / "a.mp3", m_music / "a.mp3" }));
    EXPECT_EQ(readBytes(m_database.path()), database);
    EXPECT_EQ(readBytes(library().backupPath()), backup);
    EXPECT_EQ(m_database.query("SELECT COUNT(*) FROM crate_tracks"), "1");
}

TEST_F(MixxxLibraryTest, FillsAnExistingCrateOfThatNameAndReplacesTheBackup)
{
    const auto a = m_database.addTrack(m_music / "a.mp3");
    m_database.addTrack(m_music / "b.mp3");
    m_database.execute("INSERT INTO crates (name) VALUES ('Warm-up'), ('" + m_crate + "')");
    m_database.execute("INSERT INTO crate_tracks VALUES (2, " + std::to_string(a) + ")");
    std::ofstream(library().backupPath()) << "last run's copy";

    auto outcome = library().addToCrate(m_crate, { m_music / "a.mp3", m_music / "b.mp3" });
    ASSERT_TRUE(outcome) << outcome.error().description;
    EXPECT_EQ(outcome->added, (Paths { m_music / "b.mp3" }));
    EXPECT_EQ(outcome->alreadyInCrate, (Paths { m_music / "a.mp3" }));
    EXPECT_EQ(m_database.query("SELECT COUNT(*) FROM crates"), "2");
    EXPECT_EQ(m_database.crate("Warm-up"), "");
    EXPECT_EQ(MixxxDatabase::queryFile(library().backupPath(), "SELECT COUNT(*) FROM crate_tracks"), "1");
}

TEST_F(MixxxLibraryTest, PlanningReadsOnly)
{
    m_database.addTrack(m_music / "a.mp3");
    const std::string before = readBytes(m_database.path());
    auto plan = library().planCrate(m_crate, { m_music / "a.mp3", m_music / "b.mp3" });
    ASSERT_TRUE(plan) << plan.error().description;
    EXPECT_EQ(plan->added, (Paths { m_music / "a.mp3" }));
    EXPECT_EQ(plan->unknown, (Paths { m_music / "b.mp3" }));
    EXPECT_EQ(readBytes(m_database.path()), before);
    EXPECT_FALSE(fs::exists(library().backupPath()));
}

TEST_F(MixxxLibraryTest, RefusesAnUntestedSchemaOrAMissingDatabaseNamingWhy)
{
    MixxxDatabase newer(m_temp.path() / "newer.sqlite", 33);
    newer.addTrack(m_music / "a.mp3");
    const std::string before = readBytes(newer.path());
    auto refused = MixxxLibrary(newer.path(), m_processes).addToCrate(m_crate, { m_music / "a.mp3" });
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description,
        newer.path().string()
            + ": Mixxx library schema version 33 has not been tested with Sondrel (tested: 32); nothing was "
              "changed");
    EXPECT_FALSE(MixxxLibrary(newer.path(), m_processes).check());
    EXPECT_EQ(readBytes(newer.path()), before);
    EXPECT_FALSE(fs::exists(m_temp.path() / "newer.sqlite.sondrel-backup"));

    const fs::path missing = m_temp.path() / "nowhere.sqlite";
    auto absent = MixxxLibrary(missing, m_processes).check();
    ASSERT_FALSE(absent);
    EXPECT_EQ(absent.error().description, missing.string() + ": unable to open database file");
    EXPECT_FALSE(fs::exists(missing));

    const fs::path other = m_temp.path() / "other.sqlite";
    MixxxDatabase(other).execute("DROP TABLE settings");
    auto foreign = MixxxLibrary(other, m_processes).check();
    ASSERT_FALSE(foreign);
    EXPECT_NE(foreign.error().description.find("not a Mixxx library"), std::string::npos);
}

TEST_F(MixxxLibraryTest, RefusesWhileMixxxRunsByNameOrByTheOpenDatabase)
{
    m_database.addTrack(m_music / "a.mp3");
    addProcess("7", "mixxx");
    auto byName = library().addToCrate(m_crate, { m_music / "a.mp3" });
    ASSERT_FALSE(byName);
    EXPECT_EQ(byName.error().description,
        "Mixxx is running (mixxx (process 7)); quit it first, or it will write its library back over the "
        "crate");

    fs::remove_all(m_processes);
    addProcess("8", "editor", { m_temp.path() / "elsewhere.sqlite" });
    EXPECT_FALSE(library().runningMixxx());
    addProcess("9", "mixxx-wrapped", { m_database.path() });
    EXPECT_EQ(library().runningMixxx(), "mixxx-wrapped (process 9)");
    EXPECT_FALSE(library().addToCrate(m_crate, { m_music / "a.mp3" }));
    EXPECT_EQ(m_database.query("SELECT COUNT(*) FROM crates"), "0");
    EXPECT_FALSE(fs::exists(library().backupPath()));
}

TEST_F(MixxxLibraryTest, AFailedWriteLeavesNoPartOfTheCrate)
{
    m_database.addTrack(m_music / "a.mp3");
    const auto b = m_database.addTrack(m_music / "b.mp3");
    m_database.execute("CREATE TRIGGER refuse BEFORE INSERT ON crate_tracks WHEN NEW.track_id = "
        + std::to_string(b) + " BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    auto failed = library().addToCrate(m_crate, { m_music / "a.mp3", m_music / "b.mp3" });
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().description, m_database.path().string() + ": disk full");
    EXPECT_EQ(m_database.query("SELECT COUNT(*) FROM crates"), "0");
    EXPECT_EQ(m_database.query("SELECT COUNT(*) FROM crate_tracks"), "0");
    EXPECT_EQ(m_database.query("PRAGMA integrity_check"), "ok");
}
