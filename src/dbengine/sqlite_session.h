#ifndef TABSYNC_DBENGINE_SQLITE_SESSION_H_
#define TABSYNC_DBENGINE_SQLITE_SESSION_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbengine/dao.h"
#include "dbengine/error.h"
#include "dbengine/variant.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tabsync::dao {

class Session;

// A prepared statement lent by a Session's cache; goes back to the cache when
// the lease ends. Step/Bind raise tabsync::Error for SQLite failures.
class Statement {
 public:
  Statement() = default;
  // `idle` is the session's list of idle statements of the same text, which
  // lives as long as the session.
  Statement(std::shared_ptr<Session> session, std::vector<sqlite3_stmt*>* idle,
            sqlite3_stmt* statement);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Valid() const { return statement_ != nullptr; }
  sqlite3_stmt* get() const { return statement_; }
  void Bind(int index, const Variant& value);
  void BindText(int index, const std::string& text);
  // Advances; true when a row is there, false when done.
  bool Step();
  // Runs to completion, ignoring rows.
  void Run();
  void Reset();

 private:
  void Release();

  std::shared_ptr<Session> session_;
  std::vector<sqlite3_stmt*>* idle_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
};

// One open database file: an SQLite connection inside one transaction from
// Open to Close, with a cache of prepared statements. Shared by the objects of
// one Database; after Close every use raises 3420.
class Session : public std::enable_shared_from_this<Session> {
 public:
  struct Options {
    bool exclusive = false;
    bool read_only = false;
    bool create = false;  // a new file: created, refused (3204) if it exists
    // The changes live in memory only (journal included) and are rolled back
    // at Close: the file is never written.
    bool discard_changes = false;
    // Read only, as a fixed image (dao::kOpenImmutable): no lock, no journal
    // played back, nothing made beside the file.
    bool immutable = false;
    // The format version a new file is written in (create only).
    int format_version = kFormatVersion;
  };

  // Raises 3024 (missing), 3343 (no database, or no regular file), 3045 (in
  // use), 3204, 3049 (immutable: changes pending beside the file). An
  // exclusive open that may write puts a file in WAL mode back to the
  // rollback journal (3045 while another connection has it open).
  static std::shared_ptr<Session> Open(const std::string& path, const Options& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::string& path() const { return path_; }
  bool IsOpen() const { return db_ != nullptr; }
  // Raises 3420 when the session is closed.
  void CheckOpen() const {
    if (!db_) throw ObjectClosed();
  }

  // A statement for the SQL text, from the cache when one is idle.
  Statement Prepare(const std::string& sql);
  // Runs one statement without parameters or rows.
  void Exec(const std::string& sql);
  // Runs `step` as one unit: when it raises, its changes are undone and the
  // error passes on; earlier changes of the session stay.
  void Atomically(const std::function<void()>& step);

  // SQLite's quick_check: "" when the file is sound, otherwise the first
  // problem found, on one line.
  std::string QuickCheck();

  // Ends the session: commits (or, discarding changes, rolls back) and
  // closes. Raises when the commit fails (the session is closed all the same,
  // its changes undone).
  void Close();

  // The error for SQLite's failure `rc` on this connection.
  Error ErrorFor(int rc) const;

  // The file's format version (read at the open), which the declarations of
  // new tables and columns follow; UpgradeFormat changes it.
  int format_version() const { return format_version_; }
  void set_format_version(int version) { format_version_ = version; }
  // The connection, for the few operations that need SQLite's own calls.
  sqlite3* handle() const { return db_; }

  // Next number of a COUNTER column: largest present + 1, then counting on.
  int64_t NextCounter(const std::string& table, const std::string& column);
  // A value written into a COUNTER column; later numbers go past it.
  void NoteCounterValue(const std::string& table, const std::string& column, int64_t value);
  // Renames and new columns invalidate the remembered numbers.
  void ForgetCounters() { counters_.clear(); }

  // Notes a query that finds rows of `table` by the equality of `column`
  // with a value (compared ignoring case when `nocase`). A lookup per record
  // on a column SQLite can only scan would make a merge quadratic, so from
  // the second such lookup in a session a column without a usable index gets
  // a helper index. Helper indexes live only inside the session: Close drops
  // them before its commit, so the file never holds them. True once the
  // column's lookups are settled (indexed, or found served by an index), so
  // the caller may stop noting them until the schema changes.
  bool NoteEqualityLookup(const std::string& table, const std::string& column, bool nocase);
  // Whether the index of that name is one of this session's helpers.
  bool IsHelperIndex(const std::string& name) const;

  // Grows with every record the session inserts, updates or deletes, so that
  // a record set can tell whether a record it read may have changed since.
  uint64_t ChangeCount() const;

  // Bumped by every schema change, so that objects holding schema facts
  // (record sets keep their column list) can tell.
  uint64_t schema_version() const { return schema_version_; }
  void SchemaChanged() { ++schema_version_; }

 private:
  friend class Statement;

  Session(std::string path, sqlite3* db, const Options& options);
  // Begins the session's transaction; with leaveWal a file in WAL mode is
  // first put back to the rollback journal. Raises as Open.
  void Begin(bool leaveWal);
  int PragmaText(const char* sql, std::string* text);
  int LeaveWalMode();
  void ReadFormatVersion();
  void RecoverTransaction();
  void Return(std::vector<sqlite3_stmt*>* idle, sqlite3_stmt* statement);
  void FinalizeIdle();
  void FinalizeAll();
  bool ScansFor(const std::string& table, const std::string& column, bool nocase);
  std::string UnusedIndexName();
  void CreateHelperIndex(const std::string& table, const std::string& column, bool nocase);
  void DropHelperIndexes();
  const char* BeginSql() const { return exclusive_ ? "BEGIN EXCLUSIVE" : "BEGIN"; }

  std::string path_;
  sqlite3* db_;
  bool exclusive_;
  bool discard_changes_;
  // Idle statements by SQL text. A text stays once seen (its statements
  // refer to it), so the map grows with the distinct texts only.
  std::unordered_map<std::string, std::vector<sqlite3_stmt*>> idle_;
  size_t idle_count_ = 0;
  std::map<std::string, int64_t> counters_;
  uint64_t schema_version_ = 0;
  int format_version_ = kFirstFormatVersion;
  int savepoint_depth_ = 0;
  std::unordered_map<std::string, int> lookups_;  // per table and column
  std::vector<std::string> helper_indexes_;
};

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_SQLITE_SESSION_H_
