#include "dbengine/sqlite_engine.h"

#include <sqlite3.h>

#include "dbengine/error.h"
#include "dbengine/sqlite_format.h"
#include "dbengine/sqlite_recordset.h"
#include "dbengine/sqlite_schema.h"
#include "dbengine/sqlite_session.h"

namespace tabsync::dao {

namespace {

// SQLite's count of the memory it holds takes a process-wide lock on every
// allocation, and nothing here reads it. The setting must come before
// SQLite's first use in the process, so it is made as the program starts.
const int kMemoryStatusOff = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

class SqliteDatabase : public Database {
 public:
  explicit SqliteDatabase(std::shared_ptr<Session> session)
      : session_(std::move(session)), tables_(std::make_shared<TableList>(session_)) {}

  ~SqliteDatabase() override {
    if (!session_->IsOpen()) return;
    // Dropped without Close: the session ends as Close ends it. A failed
    // commit has nobody to tell and leaves the file as it was before.
    try {
      session_->Close();
    } catch (const Error&) {
    }
  }

  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  Collection<TableDef>& TableDefs() override {
    session_->CheckOpen();
    return *tables_;
  }

  std::shared_ptr<TableDef> CreateTableDef(const std::string& name) override {
    return CreateTableDef(name, 0, std::string(), std::string());
  }

  std::shared_ptr<TableDef> CreateTableDef(const std::string& name, int32_t attributes,
                                           const std::string& source_table_name,
                                           const std::string& connect) override {
    session_->CheckOpen();
    return TableDefImpl::Make(session_, name, attributes, source_table_name, connect, false);
  }

  std::unique_ptr<Recordset> OpenRecordset(const std::string& sql, int type,
                                           int options) override {
    return OpenQuery(session_, *tables_, queries_, sql, type, options);
  }

  void Execute(const std::string& sql, int) override {
    ExecuteStatement(session_, *tables_, sql);
  }

  std::string QuickCheck() override { return session_->QuickCheck(); }

  int FormatVersion() override {
    session_->CheckOpen();
    return session_->format_version();
  }

  void UpgradeFormat() override { dao::UpgradeFormat(*session_); }

  void Close() override { session_->Close(); }

 private:
  std::shared_ptr<Session> session_;
  std::shared_ptr<TableList> tables_;
  QueryCache queries_;
};

class SqliteEngine : public DatabaseEngine {
 public:
  std::unique_ptr<Database> OpenDatabase(const std::string& path, int options,
                                         bool readOnly) override {
    Session::Options session_options;
    session_options.exclusive = (options & ~kOpenImmutable) != 0;
    session_options.discard_changes = (options & kOpenDiscardChanges) != 0;
    session_options.immutable = (options & kOpenImmutable) != 0;
    session_options.read_only = readOnly;
    return std::make_unique<SqliteDatabase>(Session::Open(path, session_options));
  }

  std::unique_ptr<Database> CreateDatabase(const std::string& path, int formatVersion) override {
    Session::Options session_options;
    session_options.exclusive = true;
    session_options.create = true;
    session_options.format_version = formatVersion;
    return std::make_unique<SqliteDatabase>(Session::Open(path, session_options));
  }
};

}  // namespace

std::unique_ptr<DatabaseEngine> NewSqliteEngine() { return std::make_unique<SqliteEngine>(); }

}  // namespace tabsync::dao
