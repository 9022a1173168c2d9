#include "import/output_database.h"

#include "dbengine/names.h"

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

OutputDatabase::OutputDatabase(const std::string& path) {
  dao::Session::Options options;
  options.exclusive = true;
  options.create = true;
  session_ = dao::Session::Open(path, options);
  // The engine keeps a session's changes in memory until its commit, which
  // suits an update; a converted file is new and private until renamed into
  // place, so its pages may go to disk early and memory stays flat.
  session_->Exec("PRAGMA cache_spill = ON");
  session_->Exec("PRAGMA cache_size = -8192");
  names_.insert(dao::LowerName(dao::kCatalogTable));
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
  std::vector<std::string> names;
  std::string marks;
  for (const OutputColumn& column : table.columns) {
    names.push_back(column.name);
    marks += marks.empty() ? "?" : ", ?";
  }
  insert_ = session_->Prepare("INSERT INTO " + dao::QuoteName(table.name) + " (" + ColumnList(names) +
                              ") VALUES (" + marks + ")");
}

void OutputDatabase::InsertRow(const std::vector<dao::Variant>& values) {
  for (size_t i = 0; i < values.size(); ++i) insert_.Bind(static_cast<int>(i) + 1, values[i]);
  insert_.Run();
}

void OutputDatabase::AddCatalogRow(const dao::CatalogRow& row) {
  dao::InsertCatalogRow(*session_, row);
}

void OutputDatabase::Commit() {
  insert_ = dao::Statement();
  session_->Close();
}

}  // namespace tabsync::import
