#include "dbengine/sqlite_session.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <optional>
#include <utility>

#include "dbengine/field_types.h"
#include "dbengine/names.h"

namespace tabsync::dao {

namespace {

// A refused lock is retried this long before the open or write gives up.
constexpr int kBusyWaitMs = 200;
// The commit at Close waits longer for readers of other programs to finish.
constexpr int kCommitWaitMs = 5000;
// Idle statements kept per session before the cache is emptied.
constexpr size_t kMaxIdleStatements = 512;
// A single lookup scans; the second on the same column earns it an index.
constexpr int kLookupsBeforeIndex = 2;

void CheckFileBeforeOpen(const std::string& path, bool create) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    if (create && errno == ENOENT) return;
    if (errno == ENOENT || errno == ENOTDIR) throw FileNotFound(path);
    throw CannotOpen(path);
  }
  if (create) throw DatabaseExists(path);
  // SQLite takes an empty file for an empty database; here it is no database.
  // Opening a FIFO would wait for a writer, and a device may never end.
  if (!S_ISREG(info.st_mode) || info.st_size == 0) throw UnrecognizedFormat(path);
}

// The first bytes of the file beside the database, "" when there is none (or
// it is no regular file, which SQLite would not read either).
std::string FirstBytes(const std::string& path, size_t count) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "";
  struct stat info;
  std::string bytes(count, '\0');
  ssize_t got = -1;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) got = ::pread(fd, bytes.data(), count, 0);
  ::close(fd);
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return bytes;
}

// An immutable open reads the file alone. A rollback journal that still
// begins with its header is one a writer left in the middle of its commit
// (a finished or abandoned one is deleted, truncated or zeroed), and a -wal
// file with a frame after its 32-byte header holds committed changes: in
// either case the file alone is not the database.
void CheckNothingPendingBeside(const std::string& path) {
  static const char kJournalMagic[] = "\xd9\xd5\x05\xf9\x20\xa1\x63\xd7";
  if (FirstBytes(path + "-journal", 8) == std::string(kJournalMagic, 8) ||
      FirstBytes(path + "-wal", 33).size() > 32) {
    throw TornDatabase(path);
  }
}

// The URI that opens the file as immutable: every byte outside the
// unreserved characters and "/" is %-escaped, so that no "?", "#" or "%" of
// the path is read as part of the URI.
std::string ImmutableUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = path.starts_with("/") ? "file://" : "file:";
  for (unsigned char c : path) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 std::string_view("/-._~").find(static_cast<char>(c)) != std::string_view::npos;
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri + "?immutable=1";
}

// A new database file with its header written, so that it is a database
// (and no empty file) from the start, for this session and any other opener.
// Version 1 stores no version.
void WriteNewFile(const std::string& path, int format_version) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::string header = "PRAGMA application_id = 1415672403";
  if (format_version > kFirstFormatVersion)
    header += "; PRAGMA user_version = " + std::to_string(format_version);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, header.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw FileNotFound(path);
}

// SQLite begins the first finding of a check with "*** in database main ***"
// on a line of its own; the finding itself follows.
std::string OneLine(std::string text) {
  const std::string banner = "*** in database main ***\n";
  if (text.starts_with(banner)) text.erase(0, banner.size());
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

std::string NotNullTarget(const char* message) {
  // SQLite says "NOT NULL constraint failed: table.column".
  std::string text = message ? message : "";
  size_t colon = text.rfind(": ");
  return colon == std::string::npos ? text : text.substr(colon + 2);
}

}  // namespace

// ---- Statement ------------------------------------------------------------

Statement::Statement(std::shared_ptr<Session> session, std::vector<sqlite3_stmt*>* idle,
                     sqlite3_stmt* statement)
    : session_(std::move(session)), idle_(idle), statement_(statement) {}

Statement::~Statement() { Release(); }

Statement::Statement(Statement&& other) noexcept
    : session_(std::move(other.session_)),
      idle_(other.idle_),
      statement_(std::exchange(other.statement_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    Release();
    session_ = std::move(other.session_);
    idle_ = other.idle_;
    statement_ = std::exchange(other.statement_, nullptr);
  }
  return *this;
}

void Statement::Release() {
  if (statement_ && session_) session_->Return(idle_, statement_);
  statement_ = nullptr;
}

void Statement::Bind(int index, const Variant& value) {
  session_->CheckOpen();
  BindVariant(statement_, index, value);
}

void Statement::BindText(int index, const std::string& text) { Bind(index, Variant(text)); }

bool Statement::Step() {
  session_->CheckOpen();
  int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Error error = session_->ErrorFor(rc);
  sqlite3_reset(statement_);
  session_->RecoverTransaction();
  throw error;
}

void Statement::Run() {
  while (Step()) {
  }
  Reset();
}

void Statement::Reset() {
  if (statement_ && session_->IsOpen()) sqlite3_reset(statement_);
}

// ---- Session --------------------------------------------------------------

std::shared_ptr<Session> Session::Open(const std::string& path, const Options& options) {
  if (options.format_version < kFirstFormatVersion || options.format_version > kFormatVersion)
    throw InvalidArgument();
  CheckFileBeforeOpen(path, options.create);
  if (options.create) WriteNewFile(path, options.format_version);
  if (options.immutable) CheckNothingPendingBeside(path);
  bool read_only = options.read_only || options.immutable;
  // A connection is used by one thread only, so SQLite's locking of each
  // call is not needed; on a merge's many small calls it costs.
  int flags = (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  if (options.immutable) flags |= SQLITE_OPEN_URI;
  std::string name = options.immutable ? ImmutableUri(path) : path;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    throw CannotOpen(path);
  }
  std::shared_ptr<Session> session(new Session(path, db, options));
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyWaitMs);
  // Dirty pages stay in memory until the commit, so the file is untouched
  // until Close even by a large session, and a crash leaves it as it was.
  session->Exec("PRAGMA cache_spill = OFF");
  session->Exec("PRAGMA cache_size = -32768");
  // Without a journal file a crash cannot leave one that the next opener of
  // the file would play back into it.
  if (options.discard_changes) session->Exec("PRAGMA journal_mode = MEMORY");
  // The format keeps the rollback journal (database-format.md): in WAL mode
  // an exclusive session would not keep readers out, and a file the session
  // writes, such as a release file copied in, would stay in WAL mode.
  session->Begin(options.exclusive && !options.discard_changes && !read_only);
  session->ReadFormatVersion();
  return session;
}

Session::Session(std::string path, sqlite3* db, const Options& options)
    : path_(std::move(path)),
      db_(db),
      exclusive_(options.exclusive),
      discard_changes_(options.discard_changes) {}

Session::~Session() {
  if (!db_) return;
  // An object dropped without Close ends like Close; nobody is left to hear
  // of a failed commit, which leaves the file as it was before the session.
  try {
    Close();
  } catch (const Error&) {
  }
}

// The text of the first row of a PRAGMA into *text: SQLite's result code.
int Session::PragmaText(const char* sql, std::string* text) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
  if (rc == SQLITE_OK && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
    const unsigned char* value = sqlite3_column_text(statement, 0);
    *text = value ? reinterpret_cast<const char*>(value) : "";
    rc = SQLITE_OK;
  }
  sqlite3_finalize(statement);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// A file's journal mode is known once its header is read; the change back
// to the rollback journal copies what the -wal holds into the file first,
// and needs the file to itself (SQLITE_BUSY otherwise).
int Session::LeaveWalMode() {
  std::string mode;
  int rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = PragmaText("PRAGMA journal_mode", &mode);
  if (rc != SQLITE_OK || mode != "wal") return rc;
  rc = PragmaText("PRAGMA journal_mode = DELETE", &mode);
  return rc == SQLITE_OK && mode != "delete" ? SQLITE_BUSY : rc;
}

void Session::Begin(bool leaveWal) {
  int rc = leaveWal ? LeaveWalMode() : SQLITE_OK;
  // The first read takes the lock that the whole session keeps: exclusive for
  // an exclusive open, shared otherwise. It also proves the file a database.
  if (rc == SQLITE_OK) rc = sqlite3_exec(db_, BeginSql(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) return;
  int primary = rc & 0xff;
  sqlite3_close(db_);
  db_ = nullptr;
  switch (primary) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: throw FileInUse(path_);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: throw UnrecognizedFormat(path_);
    default: throw CannotOpen(path_);  // no permission, or no room for the journal
  }
}

void Session::ReadFormatVersion() {
  Statement version = Prepare("PRAGMA user_version");
  // A file that stores no version (or one below the first) is of version 1.
  if (version.Step())
    format_version_ = std::max(kFirstFormatVersion, sqlite3_column_int(version.get(), 0));
}

Statement Session::Prepare(const std::string& sql) {
  CheckOpen();
  auto found = idle_.try_emplace(sql).first;
  if (!found->second.empty()) {
    sqlite3_stmt* statement = found->second.back();
    found->second.pop_back();
    --idle_count_;
    return Statement(shared_from_this(), &found->second, statement);
  }
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  if (rc != SQLITE_OK) throw ErrorFor(rc);
  return Statement(shared_from_this(), &found->second, statement);
}

void Session::Return(std::vector<sqlite3_stmt*>* idle, sqlite3_stmt* statement) {
  // After Close the statement was finalized with the rest.
  if (!db_) return;
  // Every user binds all parameters of its statement, so the old values need
  // no clearing.
  sqlite3_reset(statement);
  if (idle_count_ >= kMaxIdleStatements) FinalizeIdle();
  idle->push_back(statement);
  ++idle_count_;
}

void Session::Exec(const std::string& sql) {
  CheckOpen();
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) return;
  Error error = ErrorFor(rc);
  RecoverTransaction();
  throw error;
}

void Session::Atomically(const std::function<void()>& step) {
  CheckOpen();
  std::string name = "tabsync_step_" + std::to_string(++savepoint_depth_);
  try {
    Exec("SAVEPOINT " + name);
  } catch (...) {
    --savepoint_depth_;
    throw;
  }
  try {
    step();
    Exec("RELEASE " + name);
    --savepoint_depth_;
  } catch (...) {
    --savepoint_depth_;
    if (db_ && !sqlite3_get_autocommit(db_)) {
      // Undo the step only; the session's earlier changes stay.
      sqlite3_exec(db_, ("ROLLBACK TO " + name).c_str(), nullptr, nullptr, nullptr);
      sqlite3_exec(db_, ("RELEASE " + name).c_str(), nullptr, nullptr, nullptr);
    }
    RecoverTransaction();
    SchemaChanged();
    ForgetCounters();
    // A helper index made inside the step is gone with it; count afresh.
    lookups_.clear();
    throw;
  }
}

void Session::RecoverTransaction() {
  // Some failures (disk full, I/O) make SQLite roll the whole transaction
  // back; the session goes on in a new one rather than in autocommit mode.
  if (db_ && sqlite3_get_autocommit(db_))
    sqlite3_exec(db_, BeginSql(), nullptr, nullptr, nullptr);
}

void Session::FinalizeIdle() {
  for (auto& [text, list] : idle_) {
    for (sqlite3_stmt* statement : list) sqlite3_finalize(statement);
    list.clear();
  }
  idle_count_ = 0;
}

void Session::FinalizeAll() {
  FinalizeIdle();
  // The statements still lent out: their leases end without them.
  while (sqlite3_stmt* statement = sqlite3_next_stmt(db_, nullptr)) sqlite3_finalize(statement);
}

std::string Session::QuickCheck() {
  CheckOpen();
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check(1)", -1, &statement, nullptr);
  std::string first;
  if (rc == SQLITE_OK && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(statement, 0);
    if (text) first = reinterpret_cast<const char*>(text);
  }
  sqlite3_finalize(statement);
  // A page the check cannot even read ends it with an error of its own,
  // which is its finding as much as a row would be.
  if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) {
    first = sqlite3_errmsg(db_);
  } else if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    Error error = ErrorFor(rc);
    RecoverTransaction();
    throw error;
  }
  return first == "ok" ? "" : OneLine(first);
}

void Session::Close() {
  CheckOpen();
  // Record sets still open are ended first, so that the commit is not held
  // up by their read cursors.
  for (sqlite3_stmt* statement = sqlite3_next_stmt(db_, nullptr); statement;
       statement = sqlite3_next_stmt(db_, statement))
    sqlite3_reset(statement);
  DropHelperIndexes();
  sqlite3_busy_timeout(db_, kCommitWaitMs);
  int rc = sqlite3_exec(db_, discard_changes_ ? "ROLLBACK" : "COMMIT", nullptr, nullptr, nullptr);
  std::optional<Error> failure;
  if (rc != SQLITE_OK) {
    failure = ErrorFor(rc);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  FinalizeAll();
  sqlite3_close(db_);
  db_ = nullptr;
  if (failure) throw *failure;
}

uint64_t Session::ChangeCount() const {
  CheckOpen();
  return static_cast<uint64_t>(sqlite3_total_changes64(db_));
}

bool Session::NoteEqualityLookup(const std::string& table, const std::string& column,
                                 bool nocase) {
  std::string key = LowerName(table) + '\x1f' + LowerName(column) + (nocase ? "\x1fnocase" : "");
  int count = ++lookups_[key];
  if (count != kLookupsBeforeIndex) return count > kLookupsBeforeIndex;
  try {
    if (ScansFor(table, column, nocase)) CreateHelperIndex(table, column, nocase);
  } catch (const Error&) {
    // Without the index the lookups still find their rows, only slower.
  }
  return true;
}

bool Session::IsHelperIndex(const std::string& name) const {
  for (const std::string& helper : helper_indexes_)
    if (SameName(helper, name)) return true;
  return false;
}

// SQLite's own plan says whether an index (or the rowid) serves the lookup.
bool Session::ScansFor(const std::string& table, const std::string& column, bool nocase) {
  Statement plan = Prepare("EXPLAIN QUERY PLAN SELECT 1 FROM " + QuoteName(table) + " WHERE " +
                           QuoteName(column) + (nocase ? " COLLATE NOCASE" : "") + " = ?");
  bool scans = false;
  while (plan.Step()) {
    const unsigned char* detail = sqlite3_column_text(plan.get(), 3);
    if (detail && std::string(reinterpret_cast<const char*>(detail)).rfind("SCAN ", 0) == 0)
      scans = true;
  }
  return scans;
}

// A name no object of the file has, so that dropping it cannot touch the
// file's own indexes.
std::string Session::UnusedIndexName() {
  for (int n = static_cast<int>(helper_indexes_.size()) + 1;; ++n) {
    std::string name = "tabsync_lookup_" + std::to_string(n);
    Statement taken = Prepare("SELECT 1 FROM sqlite_schema WHERE name = ? COLLATE NOCASE");
    taken.BindText(1, name);
    if (!taken.Step()) return name;
  }
}

void Session::CreateHelperIndex(const std::string& table, const std::string& column, bool nocase) {
  std::string name = UnusedIndexName();
  Exec("CREATE INDEX " + QuoteName(name) + " ON " + QuoteName(table) + " (" + QuoteName(column) +
       (nocase ? " COLLATE NOCASE" : "") + ")");
  helper_indexes_.push_back(name);
}

void Session::DropHelperIndexes() {
  for (const std::string& name : helper_indexes_) {
    // A failed drop leaves an ordinary index in the file, which changes no
    // data; the commit goes ahead.
    sqlite3_exec(db_, ("DROP INDEX IF EXISTS " + QuoteName(name)).c_str(), nullptr, nullptr,
                 nullptr);
  }
  helper_indexes_.clear();
}

Error Session::ErrorFor(int rc) const {
  int extended = db_ ? sqlite3_extended_errcode(db_) : rc;
  const char* message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  switch (extended) {
    case SQLITE_CONSTRAINT_NOTNULL: return ValueRequired(NotNullTarget(message));
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_UNIQUE: return DuplicateValue();
    default: break;
  }
  switch (extended & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return FileInUse(path_);
    case SQLITE_READONLY: return ReadOnly();
    case SQLITE_FULL: return DiskFull();
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return UnrecognizedFormat(path_);
    default: return Error(errors::kReserved, std::string("Database engine error: ") + message);
  }
}

int64_t Session::NextCounter(const std::string& table, const std::string& column) {
  std::string key = LowerName(table) + '\x1f' + LowerName(column);
  auto found = counters_.find(key);
  if (found == counters_.end()) {
    Statement max = Prepare("SELECT max(" + QuoteName(column) + ") FROM " + QuoteName(table));
    int64_t largest = 0;
    if (max.Step() && sqlite3_column_type(max.get(), 0) != SQLITE_NULL)
      largest = sqlite3_column_int64(max.get(), 0);
    found = counters_.emplace(key, largest + 1).first;
  }
  return found->second++;
}

void Session::NoteCounterValue(const std::string& table, const std::string& column,
                               int64_t value) {
  std::string key = LowerName(table) + '\x1f' + LowerName(column);
  auto found = counters_.find(key);
  if (found != counters_.end() && value >= found->second) found->second = value + 1;
}

}  // namespace tabsync::dao
