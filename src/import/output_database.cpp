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

void OutputDatabase::CreateTable(const OutputTable& table) {
  dao::CheckNewName(table.name);
  for (const OutputColumn& column : table.columns) dao::CheckNewName(column.name);
  session_->Exec(CreateTableSql(table));
  names_.insert(dao::LowerName(table.name));
  for (const OutputIndex& index : table.indexes) {
    if (index.primary) continue;
    std::string name = FreeIndexName(table.name, index.name);
    session_->Exec(std::string(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                   dao::QuoteName(name) + " ON " + dao::QuoteName(table.name) + " (" +
                   ColumnList(index.columns) + ")");
    names_.insert(dao::LowerName(name));
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

void OutputDatabase::InsertRow(const std::vector<dao::Variant>& values) {
  for (size_t i = 0; i < values.size(); ++i) dao::BindVariant(insert_, static_cast<int>(i) + 1, values[i]);
  int rc = sqlite3_step(insert_);
  sqlite3_reset(insert_);
  if (rc != SQLITE_DONE) Fail("table '" + table_ + "'");
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
