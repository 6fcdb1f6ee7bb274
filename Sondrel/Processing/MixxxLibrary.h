#pragma once

#include "Result.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sondrel::app {

// Mixxx's track library, an SQLite database: tracks in `library`, joined by location id to
// their paths in `track_locations`; crates in `crates` (names unique) and `crate_tracks`. The one
// thing Sondrel writes there is a crate of failed files.
//
// Every call opens the database, does its work and closes it again, so any thread may call it.
// A write refuses while Mixxx runs (it keeps the library open and writes it back over ours),
// copies the database to backupPath() first, and happens in one transaction.
class MixxxLibrary {
public:
    // The schema of Mixxx 2.3 (Debian 12), the one version this code has been tried against.
    static constexpr int kTestedSchemaVersion = 32;
    static constexpr const char* kDefaultCrateName = "Sondrel: failed";

    // `processes`: where to look for a running Mixxx (the proc file system; tests give a fake).
    explicit MixxxLibrary(std::filesystem::path database, std::filesystem::path processes = "/proc");

    // ~/.mixxx/mixxxdb.sqlite
    [[nodiscard]] static std::filesystem::path defaultDatabase();
    [[nodiscard]] const std::filesystem::path& database() const noexcept { return m_database; }
    // The database's name with ".sondrel-backup" appended, beside it; replaced by every write.
    [[nodiscard]] std::filesystem::path backupPath() const;

    // The files of one crate run, each in the order given.
    struct CrateOutcome {
        std::vector<std::filesystem::path> added; // put in the crate now (or, planned, to be)
        std::vector<std::filesystem::path> alreadyInCrate;
        std::vector<std::filesystem::path> unknown; // not in Mixxx's library
    };

    // Opens the database without writing and checks its schema version; the error names the path
    // and, for an untested schema, the version found.
    [[nodiscard]] Status check() const;
    // A running Mixxx, described ("mixxx (process 4242)"): a process named mixxx, or any process
    // that holds the database open. None when there is none.
    [[nodiscard]] std::optional<std::string> runningMixxx() const;

    // What addToCrate() would do, reading only.
    [[nodiscard]] Result<CrateOutcome> planCrate(
        const std::string& crate, const std::vector<std::filesystem::path>& files) const;
    // Adds the files that Mixxx knows (by absolute path, as Mixxx stored it) to the crate, creating
    // the crate when there is something to put in it. A file already in the crate is left as it
    // is; when nothing is to be added, nothing is written (and no backup made).
    [[nodiscard]] Result<CrateOutcome> addToCrate(
        const std::string& crate, const std::vector<std::filesystem::path>& files) const;

private:
    std::filesystem::path m_database;
    std::filesystem::path m_processes;
};

} // namespace sondrel::app
