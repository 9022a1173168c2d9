#include "import/output_database.h"

#include <sqlite3.h>

#include "dbengine/names.h"
#include "import/import_errors.h"

namespace tabsync::import {

namespace {

std::string ColumnList(const std::vector<std::string>& columns) {
  std::string list;
  for (const std::string& column : columns) list += (list.empty() ? "" : ", ") + dao::QuoteName(column);
  return list;
}

std::string CreateTableSql(const OutputTable& table) {
  std::string sql = "CREATE TABLE " + dao::QuoteName(table.name) + " (";
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const OutputColumn& column = table.columns[i];
    sql += (i ? ", " : "") + dao::QuoteName(column.name) + " " + dao::DeclaredTypeFor(column.column);
    if (column.not_null) sql += " NOT NULL";
  }
  for (const OutputIndex& index : table.indexes)
    if (index.primary) sql += ", PRIMARY KEY (" + ColumnList(index.columns) + ")";
  return sql + ")";
}

std::string IndexSql(const std::string& table, const std::string& name, const std::vector<std::string>& columns,
                     bool unique) {
  return std::string(unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + dao::QuoteName(name) + " ON " +
         dao::QuoteName(table) + " (" + ColumnList(columns) + ")";
}

}  // namespace

OutputDatabase::OutputDatabase(const std::string& path) : path_(path) {
  dao::Session::Options options;
  options.exclusive = true;
  options.create = true;
  session_ = dao::Session::Open(path, options);
  names_.insert(dao::LowerName(dao::kCatalogTable));
}

OutputDatabase::~OutputDatabase() {
  // Without Commit the records' transaction is rolled back; the caller
  // removes the file.
  sqlite3_finalize(insert_);
  sqlite3_close(records_);
}

[[noreturn]] void OutputDatabase::Fail(const std::string& what) {
  throw Error(errors::kOutputFailed, what + ": " + sqlite3_errmsg(records_));
}

// An engine session keeps its changes in memory until its commit, which
// suits an update; the records of a converted file would make that memory
// grow with the file. The file is new and private until it is renamed into
// place, so the records go in through a connection of their own that lets
// SQLite write pages early, in one transaction. Its commit need not wait for
// the disk either: the importer flushes the whole file before the rename,
// and a crash before it leaves only a temporary file that nobody reads.
void OutputDatabase::OpenForRecords() {
  session_->Close();
  if (sqlite3_open_v2(path_.c_str(), &records_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    Fail("cannot open " + path_);
  for (const char* sql : {"PRAGMA cache_size = -2048", "PRAGMA synchronous = OFF", "BEGIN EXCLUSIVE"})
    if (sqlite3_exec(records_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(path_);
}

std::string OutputDatabase::FreeIndexName(const std::string& table, const std::string& name) {
  auto taken = [&](const std::string& candidate) {
    std::string lower = dao::LowerName(candidate);
    return names_.count(lower) || lower == "primarykey" || lower.rfind("sqlite_", 0) == 0;
  };
  std::string candidate = name;
  if (taken(candidate)) candidate = table + "_" + name;
  for (int n = 2; taken(candidate); ++n) candidate = table + "_" + name + "_" + std::to_string(n);
  return candidate;
}

void OutputDatabase::CreateTable(const OutputTable& table, bool indexes_after_rows) {
  try {
    dao::CheckNewName(table.name);
    for (const OutputColumn& column : table.columns) dao::CheckNewName(column.name);
    session_->Exec(CreateTableSql(table));
  } catch (const Error& error) {
    throw Error(error.Number(), "table '" + table.name + "': " + error.Description());
  }
  names_.insert(dao::LowerName(table.name));
  std::vector<PendingIndex>& pending = pending_[dao::LowerName(table.name)];
  for (const OutputIndex& index : table.indexes) {
    if (index.primary) continue;
    PendingIndex named{FreeIndexName(table.name, index.name), index};
    names_.insert(dao::LowerName(named.file_name));
    if (indexes_after_rows) {
      pending.push_back(std::move(named));
      continue;
    }
    try {
      session_->Exec(IndexSql(table.name, named.file_name, index.columns, index.unique));
    } catch (const Error& error) {
      throw Error(error.Number(), "table '" + table.name + "', index '" + index.name + "': " + error.Description());
    }
  }
  if (table.attributes != 0) AddCatalogRow({table.name, dao::kCatalogLocalTable, table.attributes, "", ""});
}

void OutputDatabase::BeginRows(const OutputTable& table) {
  if (!records_) OpenForRecords();
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  table_ = table.name;
  std::vector<std::string> names;
  std::string marks;
  for (const OutputColumn& column : table.columns) {
    names.push_back(column.name);
    marks += marks.empty() ? "?" : ", ?";
  }
  std::string sql = "INSERT INTO " + dao::QuoteName(table.name) + " (" + ColumnList(names) + ") VALUES (" + marks + ")";
  if (sqlite3_prepare_v2(records_, sql.c_str(), -1, &insert_, nullptr) != SQLITE_OK) Fail("table '" + table_ + "'");
}

OutputDatabase::Inserted OutputDatabase::InsertRow(const std::vector<dao::Variant>& values) {
  for (size_t i = 0; i < values.size(); ++i) dao::BindVariant(insert_, static_cast<int>(i) + 1, values[i]);
  int rc = sqlite3_step(insert_);
  if (rc == SQLITE_DONE) {
    sqlite3_reset(insert_);
    return Inserted::kYes;
  }
  int code = sqlite3_extended_errcode(records_);
  if (code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE) {
    sqlite3_reset(insert_);
    return code == SQLITE_CONSTRAINT_PRIMARYKEY ? Inserted::kRepeatsKey : Inserted::kRepeatsUniqueValues;
  }
  // The message before the reset, which would replace it.
  std::string message = sqlite3_errmsg(records_);
  sqlite3_reset(insert_);
  throw Error(errors::kOutputFailed, "table '" + table_ + "': " + message);
}

std::vector<BrokenUniqueIndex> OutputDatabase::EndRows() {
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  std::vector<BrokenUniqueIndex> broken;
  for (const PendingIndex& pending : pending_[dao::LowerName(table_)]) {
    if (CreateIndex(pending, pending.index.unique)) continue;
    broken.push_back({pending.index.name, pending.index.columns, RecordsSharingValues(pending.index.columns)});
    if (!CreateIndex(pending, false)) Fail("table '" + table_ + "', index '" + pending.index.name + "'");
  }
  pending_.erase(dao::LowerName(table_));
  return broken;
}

// False when SQLite refuses a unique index for records that repeat values;
// raises for any other failure.
bool OutputDatabase::CreateIndex(const PendingIndex& pending, bool unique) {
  std::string sql = IndexSql(table_, pending.file_name, pending.index.columns, unique);
  if (sqlite3_exec(records_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  if (unique && sqlite3_extended_errcode(records_) == SQLITE_CONSTRAINT_UNIQUE) return false;
  Fail("table '" + table_ + "', index '" + pending.index.name + "'");
}

// The records whose values in `columns` (none of them Null) another record
// has too, compared as the columns compare (texts ignoring case).
int64_t OutputDatabase::RecordsSharingValues(const std::vector<std::string>& columns) {
  std::string present;
  for (const std::string& column : columns)
    present += (present.empty() ? "" : " AND ") + dao::QuoteName(column) + " IS NOT NULL";
  std::string sql = "SELECT coalesce(sum(n), 0) FROM (SELECT count(*) AS n FROM " + dao::QuoteName(table_) +
                    " WHERE " + present + " GROUP BY " + ColumnList(columns) + " HAVING count(*) > 1)";
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(records_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) Fail("table '" + table_ + "'");
  int64_t records = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : 0;
  sqlite3_finalize(statement);
  return records;
}

void OutputDatabase::AddCatalogRow(const dao::CatalogRow& row) {
  dao::InsertCatalogRow(*session_, row);
}

void OutputDatabase::Commit() {
  if (!records_) {
    session_->Close();
    return;
  }
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  if (sqlite3_exec(records_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) Fail("cannot commit " + path_);
}

}  // namespace tabsync::import
