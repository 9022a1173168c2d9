#ifndef TABSYNC_BENCH_PLAIN_SQLITE_H_
#define TABSYNC_BENCH_PLAIN_SQLITE_H_

// Plain SQLite calls for the benchmarks' reference work and their fixtures:
// owning handles and calls that throw std::runtime_error on failure.

#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace tabsync::bench {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Throws unless rc is SQLITE_OK, SQLITE_ROW or SQLITE_DONE.
inline void Check(int rc, sqlite3* db, const std::string& what) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

// flags as sqlite3_open_v2 takes them; the engine adds SQLITE_OPEN_NOMUTEX,
// which a baseline should add too.
inline SqliteHandle OpenSqlite(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  SqliteHandle handle(db);  // sqlite3_open_v2 may give a handle even on failure
  Check(rc, db, "open " + path);
  return handle;
}

inline void Exec(sqlite3* db, const std::string& sql) {
  Check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db, sql);
}

// The settings every session of the engine runs with
// (src/dbengine/sqlite_session.cpp), for a baseline that is to work under the
// same conditions: a 32 MiB page cache that keeps dirty pages in memory until
// the commit, on `schema` ("main" or an attached database's name). The
// journal mode stays SQLite's default, as the engine's writing sessions keep
// it; the lock is the caller's BEGIN EXCLUSIVE or BEGIN.
inline void UseEngineSettings(sqlite3* db, const std::string& schema = "main") {
  Exec(db, "PRAGMA " + schema + ".cache_spill = OFF");
  Exec(db, "PRAGMA " + schema + ".cache_size = -32768");
}

inline Statement Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), db, sql);
  return Statement(statement);
}

}  // namespace tabsync::bench

#endif  // TABSYNC_BENCH_PLAIN_SQLITE_H_
