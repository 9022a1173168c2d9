#include "dbengine/sqlite_catalog.h"

#include <sqlite3.h>

#include <algorithm>

#include "dbengine/dao.h"
#include "dbengine/names.h"

namespace tabsync::dao {

const char kCatalogTable[] = "MSysObjects";

namespace {

std::string ColumnText(sqlite3_stmt* statement, int index) {
  const unsigned char* text = sqlite3_column_text(statement, index);
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

}  // namespace

std::vector<std::string> ReadTableNames(Session& session) {
  Statement statement = session.Prepare(
      "SELECT name FROM sqlite_schema WHERE type = 'table' "
      "AND lower(substr(name, 1, 7)) <> 'sqlite_'");
  std::vector<std::string> names;
  while (statement.Step()) names.push_back(ColumnText(statement.get(), 0));
  return names;
}

std::vector<ColumnInfo> ReadColumns(Session& session, const std::string& table) {
  // Hidden columns (of virtual and generated kinds) are no fields.
  Statement statement = session.Prepare(
      "SELECT name, type, pk, \"notnull\" FROM pragma_table_xinfo(?) WHERE hidden = 0 "
      "ORDER BY cid");
  statement.BindText(1, table);
  std::vector<ColumnInfo> columns;
  while (statement.Step()) {
    ColumnInfo info;
    info.name = ColumnText(statement.get(), 0);
    info.column = ParseDeclaredType(ColumnText(statement.get(), 1));
    info.key_position = sqlite3_column_int(statement.get(), 2);
    info.not_null = sqlite3_column_int(statement.get(), 3) != 0;
    columns.push_back(std::move(info));
  }
  return columns;
}

std::vector<IndexInfo> ReadIndexes(Session& session, const std::string& table) {
  Statement list = session.Prepare(
      "SELECT name, \"unique\" FROM pragma_index_list(?) WHERE origin <> 'pk' ORDER BY name");
  list.BindText(1, table);
  std::vector<IndexInfo> indexes;
  while (list.Step()) {
    IndexInfo info;
    info.name = ColumnText(list.get(), 0);
    info.unique = sqlite3_column_int(list.get(), 1) != 0;
    if (session.IsHelperIndex(info.name)) continue;
    indexes.push_back(std::move(info));
  }
  for (IndexInfo& info : indexes) {
    Statement columns =
        session.Prepare("SELECT name FROM pragma_index_info(?) ORDER BY seqno");
    columns.BindText(1, info.name);
    while (columns.Step()) info.columns.push_back(ColumnText(columns.get(), 0));
  }
  return indexes;
}

std::vector<std::string> ReadRowLocator(Session& session, const std::string& table) {
  Statement kind = session.Prepare("SELECT wr FROM pragma_table_list(?)");
  kind.BindText(1, table);
  bool without_rowid = kind.Step() && sqlite3_column_int(kind.get(), 0) != 0;
  std::vector<ColumnInfo> columns = ReadColumns(session, table);
  if (without_rowid) {
    std::vector<ColumnInfo> key;
    for (const ColumnInfo& c : columns)
      if (c.key_position > 0) key.push_back(c);
    std::sort(key.begin(), key.end(),
              [](const ColumnInfo& a, const ColumnInfo& b) { return a.key_position < b.key_position; });
    std::vector<std::string> locator;
    for (const ColumnInfo& c : key) locator.push_back(QuoteName(c.name));
    return locator;
  }
  // A column may take over one of the rowid's names; the next one serves.
  for (const char* alias : {"_rowid_", "rowid", "oid"}) {
    bool taken = std::any_of(columns.begin(), columns.end(),
                             [&](const ColumnInfo& c) { return SameName(c.name, alias); });
    if (!taken) return {alias};
  }
  return {};
}

bool HasLocalTable(Session& session, const std::string& table) {
  Statement statement =
      session.Prepare("SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ? COLLATE NOCASE");
  statement.BindText(1, table);
  return statement.Step();
}

bool HasCatalog(Session& session) { return HasLocalTable(session, kCatalogTable); }

std::vector<CatalogRow> ReadCatalog(Session& session) {
  std::vector<CatalogRow> rows;
  if (!HasCatalog(session)) return rows;
  Statement statement = session.Prepare(
      "SELECT Name, Type, Attributes, Connect, ForeignName FROM MSysObjects ORDER BY Name");
  while (statement.Step()) {
    CatalogRow row;
    row.name = ColumnText(statement.get(), 0);
    row.type = sqlite3_column_int(statement.get(), 1);
    row.attributes = static_cast<int32_t>(sqlite3_column_int64(statement.get(), 2));
    row.connect = ColumnText(statement.get(), 3);
    row.foreign_name = ColumnText(statement.get(), 4);
    rows.push_back(std::move(row));
  }
  return rows;
}

void EnsureCatalog(Session& session) {
  if (HasCatalog(session)) return;
  // Version 2's statement is version 1's as UpgradeFormat leaves it.
  session.Exec(
      session.format_version() == kFirstFormatVersion
          ? "CREATE TABLE MSysObjects (Name TEXT(255) COLLATE NOCASE PRIMARY KEY, "
            "Type SHORT NOT NULL, Attributes LONG NOT NULL DEFAULT 0, Connect MEMO, "
            "ForeignName TEXT(255))"
          : "CREATE TABLE MSysObjects (Name VARCHAR TEXT(255) COLLATE NOCASE PRIMARY KEY, "
            "Type SMALLINT SHORT NOT NULL, Attributes INTEGER LONG NOT NULL DEFAULT 0, "
            "Connect MEMO TEXT, ForeignName VARCHAR TEXT(255))");
  session.SchemaChanged();
}

void InsertCatalogRow(Session& session, const CatalogRow& row) {
  EnsureCatalog(session);
  Statement statement = session.Prepare(
      "INSERT INTO MSysObjects (Name, Type, Attributes, Connect, ForeignName) "
      "VALUES (?, ?, ?, ?, ?)");
  statement.BindText(1, row.name);
  statement.Bind(2, Variant(row.type));
  statement.Bind(3, Variant(static_cast<int64_t>(row.attributes)));
  statement.Bind(4, row.connect.empty() ? Variant() : Variant(row.connect));
  statement.Bind(5, row.foreign_name.empty() ? Variant() : Variant(row.foreign_name));
  statement.Run();
}

void RenameCatalogRow(Session& session, const std::string& old_name, const std::string& new_name) {
  if (!HasCatalog(session)) return;
  Statement statement = session.Prepare("UPDATE MSysObjects SET Name = ? WHERE Name = ?");
  statement.BindText(1, new_name);
  statement.BindText(2, old_name);
  statement.Run();
}

void UpdateCatalogConnect(Session& session, const std::string& name, const CatalogRow& row) {
  Statement statement = session.Prepare(
      "UPDATE MSysObjects SET Connect = ?, Type = ?, Attributes = ? WHERE Name = ?");
  statement.BindText(1, row.connect);
  statement.Bind(2, Variant(row.type));
  statement.Bind(3, Variant(static_cast<int64_t>(row.attributes)));
  statement.BindText(4, name);
  statement.Run();
}

std::string LinkedFilePath(const std::string& connect) {
  size_t start = 0;
  while (start <= connect.size()) {
    size_t end = connect.find(';', start);
    if (end == std::string::npos) end = connect.size();
    std::string part = connect.substr(start, end - start);
    if (part.size() >= 9 && SameName(part.substr(0, 9), "DATABASE=")) return part.substr(9);
    start = end + 1;
  }
  return std::string();
}

bool IsOdbcConnect(const std::string& connect) {
  return connect.size() >= 5 && SameName(connect.substr(0, 5), "ODBC;");
}

std::shared_ptr<Session> OpenLinkedFile(const std::string& path) {
  Session::Options options;
  options.read_only = true;
  return Session::Open(path, options);
}

}  // namespace tabsync::dao
