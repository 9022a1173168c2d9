#ifndef TABSYNC_IMPORT_OUTPUT_DATABASE_H_
#define TABSYNC_IMPORT_OUTPUT_DATABASE_H_

// A new database file of the project's format, written by the engine's own
// rules: the file, its tables and its catalogue through an engine session
// (declared types from dao::DeclaredTypeFor, rows of MSysObjects through
// dao::InsertCatalogRow), the records through one SQLite transaction whose
// values the engine's dao::BindVariant binds.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dbengine/field_types.h"
#include "dbengine/sqlite_catalog.h"
#include "dbengine/sqlite_session.h"
#include "dbengine/variant.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tabsync::import {

struct OutputColumn {
  std::string name;
  dao::ColumnType column;
  bool not_null = false;
};

struct OutputIndex {
  std::string name;
  bool primary = false;
  bool unique = false;
  std::vector<std::string> columns;
};

// A unique index that the records do not hold, written as a plain index.
struct BrokenUniqueIndex {
  std::string name;  // as in the source
  std::vector<std::string> columns;
  int64_t records = 0;  // records that share their values with another
};

struct OutputTable {
  std::string name;
  int32_t attributes = 0;  // a Type 1 catalogue row when non-zero
  std::vector<OutputColumn> columns;
  std::vector<OutputIndex> indexes;
};

class OutputDatabase {
 public:
  // Creates the file (3204 when it exists, 3024 when its folder is missing).
  explicit OutputDatabase(const std::string& path);
  OutputDatabase(const OutputDatabase&) = delete;
  OutputDatabase& operator=(const OutputDatabase&) = delete;

  // Creates the table with its primary key ("PRIMARY KEY (...)"), NOT NULL
  // columns and other indexes; with `indexes_after_rows` the other indexes
  // follow its records (EndRows), which checks them against the records.
  // SQLite keeps index names for the whole file, Jet per table: an index
  // name already taken (or "PrimaryKey", or one beginning with "sqlite_")
  // becomes table + "_" + name, then with a number. Raises 3125 for a name
  // the engine does not accept, and the engine's errors naming the table
  // (and the index).
  void CreateTable(const OutputTable& table, bool indexes_after_rows = false);
  // Starts the records of a table made by CreateTable. The first call ends
  // the schema: CreateTable and AddCatalogRow may not follow.
  void BeginRows(const OutputTable& table);
  enum class Inserted { kYes, kRepeatsKey, kRepeatsUniqueValues };
  // One record: values in the columns' order, already converted. Not
  // inserted when it repeats another's primary key or values of a unique
  // index; raises 4005 with SQLite's message naming the table when it is
  // refused otherwise (a Null in a NOT NULL column).
  Inserted InsertRow(const std::vector<dao::Variant>& values);
  // Ends the records of the table: creates the indexes that follow them. A
  // unique index that the records do not hold is created as a plain index
  // and returned. Raises 4005 naming the table and the index when SQLite
  // refuses one otherwise.
  std::vector<BrokenUniqueIndex> EndRows();
  void AddCatalogRow(const dao::CatalogRow& row);
  // Commits; the file is complete when this returns. Raises when the commit
  // fails.
  void Commit();

  ~OutputDatabase();

 private:
  // An index of a table whose records are still to come, under its name in
  // the file.
  struct PendingIndex {
    std::string file_name;
    OutputIndex index;
  };

  std::string FreeIndexName(const std::string& table, const std::string& name);
  void OpenForRecords();
  bool CreateIndex(const PendingIndex& pending, bool unique);
  int64_t RecordsSharingValues(const std::vector<std::string>& columns);
  [[noreturn]] void Fail(const std::string& what);

  std::string path_;
  std::shared_ptr<dao::Session> session_;
  sqlite3* records_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  std::string table_;
  std::set<std::string> names_;  // lower case: tables and indexes
  std::map<std::string, std::vector<PendingIndex>> pending_;  // by table, lower case
};

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_OUTPUT_DATABASE_H_
