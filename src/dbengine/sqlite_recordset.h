#ifndef TABSYNC_DBENGINE_SQLITE_RECORDSET_H_
#define TABSYNC_DBENGINE_SQLITE_RECORDSET_H_

#include <memory>
#include <string>

#include "dbengine/dao.h"
#include "dbengine/sqlite_schema.h"
#include "dbengine/sqlite_session.h"

namespace tabsync::dao {

// Opens a record set over a SELECT of the engine's SQL (sql_parser.h) on the
// database of `session`, whose tables are `tables`. Raises 3061 for a name
// that is no column, 3078 for an unknown table, 3075/3131/3145 for malformed
// SQL, 3219 for a statement that is no SELECT, 3001 for an unknown type.
//
// Rows are read as the caller moves (nothing is read or copied up front but
// the first row), through prepared statements the session caches: the SQL
// text carries no literals, so repeated key queries reuse one statement.
std::unique_ptr<Recordset> OpenQuery(const std::shared_ptr<Session>& session, TableList& tables,
                                     const std::string& sql, int type, int options);

// Runs a DELETE of the engine's SQL as one unit. Raises 3065 for a SELECT,
// 3078, 3061 and the syntax errors as OpenQuery, 3027 for a linked table.
void ExecuteStatement(const std::shared_ptr<Session>& session, TableList& tables,
                      const std::string& sql);

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_SQLITE_RECORDSET_H_
