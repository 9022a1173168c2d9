#ifndef TABSYNC_DBENGINE_SQLITE_CATALOG_H_
#define TABSYNC_DBENGINE_SQLITE_CATALOG_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/field_types.h"
#include "dbengine/sqlite_session.h"

namespace tabsync::dao {

// What the file says about its tables, read with SQLite's own catalogue and
// the MSysObjects table (docs/database-format.md).

struct ColumnInfo {
  std::string name;
  ColumnType column;
  int key_position = 0;  // 1-based position in the primary key, 0 if none
  bool not_null = false;
};

struct IndexInfo {
  std::string name;
  bool unique = false;
  std::vector<std::string> columns;
};

// A row of MSysObjects.
struct CatalogRow {
  std::string name;
  int type = 0;
  int32_t attributes = 0;
  std::string connect;
  std::string foreign_name;
};

constexpr int kCatalogLocalTable = 1;
constexpr int kCatalogOdbcLink = 4;
constexpr int kCatalogDesktopLink = 6;
extern const char kCatalogTable[];  // "MSysObjects"

// Local tables: every SQLite table whose name does not begin with "sqlite_".
std::vector<std::string> ReadTableNames(Session& session);
std::vector<ColumnInfo> ReadColumns(Session& session, const std::string& table);
// Indexes other than the one SQLite keeps for the primary key.
std::vector<IndexInfo> ReadIndexes(Session& session, const std::string& table);
// The expressions that identify a row for an update: a rowid alias, or the
// primary-key columns of a table without rowid; empty when there is none.
std::vector<std::string> ReadRowLocator(Session& session, const std::string& table);

bool HasCatalog(Session& session);
std::vector<CatalogRow> ReadCatalog(Session& session);
void EnsureCatalog(Session& session);
void InsertCatalogRow(Session& session, const CatalogRow& row);
void RenameCatalogRow(Session& session, const std::string& old_name, const std::string& new_name);
void UpdateCatalogConnect(Session& session, const std::string& name, const CatalogRow& row);

// The file path of a ";DATABASE=<path>" connect string (keys ignore case;
// other ";"-separated parts are passed over); empty when there is none.
std::string LinkedFilePath(const std::string& connect);
bool IsOdbcConnect(const std::string& connect);

// Opens the file of a link for reading. Raises 3024 / 3343 as OpenDatabase.
std::shared_ptr<Session> OpenLinkedFile(const std::string& path);

// True when the database has a local table of that name (ignoring case).
bool HasLocalTable(Session& session, const std::string& table);

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_SQLITE_CATALOG_H_
