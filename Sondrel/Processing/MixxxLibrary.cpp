#include "MixxxLibrary.h"

#include "AtomicFile.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace sondrel::app {
namespace {

struct CloseDatabase {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

constexpr const char* kSchemaVersionQuery = "SELECT value FROM settings WHERE name = 'mixxx.schema.version'";
// Tracks that Mixxx shows: a track removed from its library (mixxx_deleted) counts as unknown.
constexpr const char* kTrackQuery
    = "SELECT library.id FROM library JOIN track_locations "
      "ON library.location = track_locations.id "
      "WHERE track_locations.location = ?1 AND COALESCE(library.mixxx_deleted, 0) = 0 "
      "ORDER BY library.id LIMIT 1";
constexpr const char* kCrateQuery = "SELECT id FROM crates WHERE name = ?1";
constexpr const char* kMemberQuery = "SELECT 1 FROM crate_tracks WHERE crate_id = ?1 AND track_id = ?2";
constexpr const char* kCreateCrate = "INSERT INTO crates (name) VALUES (?1)";
constexpr const char* kAddMember
    = "INSERT INTO crate_tracks (crate_id, track_id) SELECT ?1, ?2 "
      "WHERE NOT EXISTS (SELECT 1 FROM crate_tracks WHERE crate_id = ?1 AND track_id = ?2)";

// One open database and the path it came from, for error texts that name it.
class Connection {
public:
    static Result<Connection> open(const std::filesystem::path& path, bool write)
    {
        sqlite3* raw = nullptr;
        // Never SQLITE_OPEN_CREATE: a wrong path must not leave an empty database behind.
        const int flags = (write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
        const int code = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
        Connection connection(path, Database(raw));
        if (code != SQLITE_OK)
            return connection.error();
        sqlite3_busy_timeout(raw, 2000);
        if (auto checked = connection.checkSchema(); !checked)
            return checked.error();
        return connection;
    }

    [[nodiscard]] Error error() const
    {
        return Error { m_path.string() + ": " + (m_db ? sqlite3_errmsg(m_db.get()) : "out of memory") };
    }

    Result<Statement> prepare(const char* sql) const
    {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(m_db.get(), sql, -1, &raw, nullptr) != SQLITE_OK)
            return error();
        return Statement(raw);
    }

    Status execute(const char* sql) const
    {
        if (sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            return error();
        return Ok {};
    }

    // The first column of the first row as an integer, or none without a row.
    Result<std::optional<sqlite3_int64>> queryId(
        const char* sql, sqlite3_int64 first, sqlite3_int64 second = 0) const
    {
        return query(sql, [&](sqlite3_stmt* statement) {
            sqlite3_bind_int64(statement, 1, first);
            sqlite3_bind_int64(statement, 2, second);
        });
    }
    Result<std::optional<sqlite3_int64>> queryId(const char* sql, const std::string& text) const
    {
        return query(sql, [&](sqlite3_stmt* statement) {
            sqlite3_bind_text(statement, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        });
    }

    [[nodiscard]] sqlite3_int64 lastInsertId() const { return sqlite3_last_insert_rowid(m_db.get()); }

private:
    Connection(std::filesystem::path path, Database db)
        : m_path(std::move(path))
        , m_db(std::move(db))
    {
    }

    template <typename Bind> Result<std::optional<sqlite3_int64>> query(const char* sql, Bind bind) const
    {
        auto statement = prepare(sql);
        if (!statement)
            return statement.error();
        bind(statement->get());
        const int code = sqlite3_step(statement->get());
        if (code == SQLITE_ROW)
            return std::optional(sqlite3_column_int64(statement->get(), 0));
        if (code == SQLITE_DONE)
            return std::optional<sqlite3_int64> {};
        return error();
    }

    Status checkSchema() const
    {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(m_db.get(), kSchemaVersionQuery, -1, &raw, nullptr) != SQLITE_OK) {
            Statement ignored(raw);
            return Error { m_path.string() + ": not a Mixxx library (" + sqlite3_errmsg(m_db.get()) + ")" };
        }
        Statement statement(raw);
        if (sqlite3_step(raw) != SQLITE_ROW)
            return Error { m_path.string() + ": not a Mixxx library (no schema version)" };
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
        const std::string version = text ? text : "";
        if (version != std::to_string(MixxxLibrary::kTestedSchemaVersion))
            return Error { m_path.string() + ": Mixxx library schema version " + version
                + " has not been tested with Sondrel (tested: "
                + std::to_string(MixxxLibrary::kTestedSchemaVersion) + "); nothing was changed" };
        return Ok {};
    }

    std::filesystem::path m_path;
    Database m_db;
};

// Finds each file's track and whether the crate holds it already. `crateId`: none when the crate
// does not exist yet.
struct Classified {
    MixxxLibrary::CrateOutcome outcome;
    std::vector<sqlite3_int64> tracksToAdd; // in the order of outcome.added
};

Result<Classified> classify(const Connection& connection, std::optional<sqlite3_int64> crateId,
    const std::vector<std::filesystem::path>& files)
{
    Classified classified;
    for (const std::filesystem::path& file : files) {
        auto track = connection.queryId(kTrackQuery, file.string());
        if (!track)
            return track.error();
        if (!*track) {
            classified.outcome.unknown.push_back(file);
            continue;
        }
        std::optional<sqlite3_int64> member;
        if (crateId) {
            auto found = connection.queryId(kMemberQuery, *crateId, **track);
            if (!found)
                return found.error();
            member = *found;
        }
        if (member) {
            classified.outcome.alreadyInCrate.push_back(file);
        } else if (std::find(classified.tracksToAdd.begin(), classified.tracksToAdd.end(), **track)
            == classified.tracksToAdd.end()) {
            classified.outcome.added.push_back(file);
            classified.tracksToAdd.push_back(**track);
        }
    }
    return classified;
}

std::string readLine(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// A byte copy, made while this process holds the write lock so that nobody changes the file
// during it; the old backup is replaced only by a complete new one.
Status writeBackup(const std::filesystem::path& database, const std::filesystem::path& backup)
{
    const auto failed
        = [&](std::error_code code) { return Error { backup.string() + ": " + code.message() }; };
    FileDescriptor source(::open(database.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source.valid())
        return Error { database.string() + ": " + lastSystemError().message() };
    auto copy = AtomicFile::create(backup, Placement::replace);
    if (!copy)
        return failed(copy.error());
    if (auto code = copy->appendFrom(source, 0))
        return failed(code);
    if (auto code = copy->commit())
        return failed(code);
    return Ok {};
}

} // namespace

MixxxLibrary::MixxxLibrary(std::filesystem::path database, std::filesystem::path processes)
    : m_database(std::move(database))
    , m_processes(std::move(processes))
{
}

std::filesystem::path MixxxLibrary::defaultDatabase()
{
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "") / ".mixxx" / "mixxxdb.sqlite";
}

std::filesystem::path MixxxLibrary::backupPath() const
{
    std::filesystem::path backup = m_database;
    backup += ".sondrel-backup";
    return backup;
}

Status MixxxLibrary::check() const
{
    auto connection = Connection::open(m_database, false);
    if (!connection)
        return connection.error();
    return Ok {};
}

std::optional<std::string> MixxxLibrary::runningMixxx() const
{
    std::error_code ec;
    const std::filesystem::path database
        = std::filesystem::weakly_canonical(std::filesystem::absolute(m_database, ec), ec);
    const std::string self = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator(m_processes, ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::string name = readLine(entry.path() / "comm");
        const std::string described = name + " (process " + pid + ")";
        if (name == "mixxx")
            return described;
        // Another build or a wrapper may go by another name; holding the file open gives it away.
        // Only this user's processes can be seen this way.
        std::error_code fdError;
        for (const auto& fd : std::filesystem::directory_iterator(entry.path() / "fd", fdError)) {
            std::error_code linkError;
            if (std::filesystem::read_symlink(fd.path(), linkError) == database && !linkError)
                return described;
        }
    }
    return std::nullopt;
}

Result<MixxxLibrary::CrateOutcome> MixxxLibrary::planCrate(
    const std::string& crate, const std::vector<std::filesystem::path>& files) const
{
    auto connection = Connection::open(m_database, false);
    if (!connection)
        return connection.error();
    auto crateId = connection->queryId(kCrateQuery, crate);
    if (!crateId)
        return crateId.error();
    auto classified = classify(*connection, *crateId, files);
    if (!classified)
        return classified.error();
    return std::move(classified->outcome);
}

Result<MixxxLibrary::CrateOutcome> MixxxLibrary::addToCrate(
    const std::string& crate, const std::vector<std::filesystem::path>& files) const
{
    if (auto mixxx = runningMixxx())
        return Error { "Mixxx is running (" + *mixxx
            + "); quit it first, or it will write its library "
              "back over the crate" };
    auto connection = Connection::open(m_database, true);
    if (!connection)
        return connection.error();
    // Whatever a write-ahead log holds goes into the file first, so the byte copy below is whole.
    if (auto flushed = connection->execute("PRAGMA wal_checkpoint(TRUNCATE)"); !flushed)
        return flushed.error();
    // The write lock from here on: the backup and the crate see the same database.
    if (auto begun = connection->execute("BEGIN IMMEDIATE"); !begun)
        return begun.error();
    const auto fail = [&](const Error& error) -> Result<CrateOutcome> {
        (void)connection->execute("ROLLBACK");
        return error;
    };
    auto crateId = connection->queryId(kCrateQuery, crate);
    if (!crateId)
        return fail(crateId.error());
    auto classified = classify(*connection, *crateId, files);
    if (!classified)
        return fail(classified.error());
    if (classified->tracksToAdd.empty()) {
        (void)connection->execute("ROLLBACK");
        return std::move(classified->outcome);
    }
    if (auto saved = writeBackup(m_database, backupPath()); !saved)
        return fail(saved.error());

    sqlite3_int64 id = 0;
    if (*crateId) {
        id = **crateId;
    } else {
        auto created = connection->queryId(kCreateCrate, crate);
        if (!created)
            return fail(created.error());
        id = connection->lastInsertId();
    }
    for (sqlite3_int64 track : classified->tracksToAdd) {
        if (auto added = connection->queryId(kAddMember, id, track); !added)
            return fail(added.error());
    }
    if (auto committed = connection->execute("COMMIT"); !committed)
        return fail(committed.error());
    return std::move(classified->outcome);
}

} // namespace sondrel::app
