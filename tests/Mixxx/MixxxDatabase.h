#pragma once

// A small database with the tables of Mixxx 2.3's library as Mixxx creates them (the columns
// that matter here), for tests of the crate writer that need no Mixxx.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

namespace sondrel::test {

class MixxxDatabase {
public:
    explicit MixxxDatabase(std::filesystem::path path, int schemaVersion = 32)
        : m_path(std::move(path))
    {
        execute(R"(
            CREATE TABLE settings (name TEXT UNIQUE NOT NULL, value TEXT, locked INTEGER DEFAULT 0,
                hidden INTEGER DEFAULT 0);
            CREATE TABLE track_locations (id INTEGER PRIMARY KEY AUTOINCREMENT, location varchar(512) UNIQUE,
                filename varchar(512), directory varchar(512), filesize INTEGER, fs_deleted INTEGER,
                needs_verification INTEGER);
            CREATE TABLE library (id INTEGER primary key AUTOINCREMENT, artist varchar(64), title varchar(64),
                location integer REFERENCES track_locations(location), mixxx_deleted integer);
            CREATE TABLE crates (id integer PRIMARY KEY AUTOINCREMENT, name varchar(48) UNIQUE NOT NULL,
                count integer DEFAULT 0, show integer DEFAULT 1, locked integer DEFAULT 0,
                autodj_source integer DEFAULT 0);
            CREATE TABLE crate_tracks (crate_id integer NOT NULL REFERENCES crates(id),
                track_id integer NOT NULL REFERENCES "library_old"(id), UNIQUE (crate_id, track_id));)");
        execute("INSERT INTO settings (name, value) VALUES ('mixxx.schema.version', '"
            + std::to_string(schemaVersion) + "')");
    }

    // A track as Mixxx's scan stores it; `hidden`: removed from Mixxx's library by the user (a
    // NULL mixxx_deleted, as older rows have, counts as shown). Returns its library id.
    long long addTrack(const std::filesystem::path& file, bool hidden = false)
    {
        execute("INSERT INTO track_locations (location, filename, directory) VALUES ('" + file.string()
            + "', '" + file.filename().string() + "', '" + file.parent_path().string() + "'); "
            + "INSERT INTO library (location, mixxx_deleted) VALUES (last_insert_rowid(), "
            + std::string(hidden ? "1" : "NULL") + ")");
        return std::stoll(query("SELECT MAX(id) FROM library"));
    }

    void execute(const std::string& sql) const
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m_path.c_str(), &db), SQLITE_OK);
        char* message = nullptr;
        const int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
        const std::string text = message ? message : "";
        sqlite3_free(message);
        sqlite3_close(db);
        ASSERT_EQ(code, SQLITE_OK) << text;
    }

    // The rows of a query, one line each, columns joined with "|".
    [[nodiscard]] std::string query(const std::string& sql) const { return queryFile(m_path, sql); }

    static std::string queryFile(const std::filesystem::path& path, const std::string& sql)
    {
        sqlite3* db = nullptr;
        std::string rows;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_exec(
                db, sql.c_str(),
                [](void* out, int columns, char** values, char**) {
                    auto& text = *static_cast<std::string*>(out);
                    for (int i = 0; i < columns; ++i)
                        text += std::string(i ? "|" : "") + (values[i] ? values[i] : "NULL");
                    text += "\n";
                    return 0;
                },
                &rows, nullptr);
        }
        sqlite3_close(db);
        if (!rows.empty())
            rows.pop_back();
        return rows;
    }

    // The crate's tracks by path, in path order.
    [[nodiscard]] std::string crate(const std::string& name) const
    {
        return query("SELECT track_locations.location FROM crate_tracks JOIN crates ON crates.id = crate_id "
                     "JOIN library ON library.id = track_id JOIN track_locations ON track_locations.id = "
                     "library.location WHERE crates.name = '"
            + name + "' ORDER BY 1");
    }

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace sondrel::test
