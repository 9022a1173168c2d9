#ifndef TABSYNC_DBENGINE_SQLITE_RECORDSET_H_
#define TABSYNC_DBENGINE_SQLITE_RECORDSET_H_

#include <memory>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "dbengine/dao.h"
#include "dbengine/sqlite_schema.h"
#include "dbengine/sql_parser.h"
#include "dbengine/sqlite_session.h"

namespace tabsync::dao {

struct CachedQuery;

// The plans of the record sets opened on one database, by the shape of their
// SQL (ShapeOf in sql_parser.h): a key query repeated with other keys is
// parsed and planned once. A plan holds for one schema version of the
// session; older ones are never used again.
class QueryCache {
 public:
  QueryCache();
  ~QueryCache();
  QueryCache(const QueryCache&) = delete;
  QueryCache& operator=(const QueryCache&) = delete;

  std::shared_ptr<const CachedQuery> Find(const std::string& key, uint64_t schema_version);
  void Store(const std::string& key, uint64_t schema_version,
             std::shared_ptr<const CachedQuery> query);

  // A key query is repeated with one literal changed. The last statement
  // with one literal is remembered around it, so that the next one that
  // differs only there gives its cache key and literal without being
  // tokenized. False when `sql` is no such statement.
  // Gives the plan and the literal; null when `sql` is no such statement.
  std::shared_ptr<const CachedQuery> MatchLast(const std::string& sql, uint64_t schema_version,
                                               Variant* literal) const;
  void RememberLast(const std::string& sql, const SqlShape& shape,
                    std::shared_ptr<const CachedQuery> query);

 private:
  uint64_t schema_version_ = 0;
  std::unordered_map<std::string, std::shared_ptr<const CachedQuery>> queries_;
  std::string last_head_;  // the text before the literal
  std::string last_tail_;  // the text after it
  bool last_quoted_ = false;
  std::shared_ptr<const CachedQuery> last_query_;
};

// Opens a record set over a SELECT of the engine's SQL (sql_parser.h) on the
// database of `session`, whose tables are `tables`. Raises 3061 for a name
// that is no column, 3078 for an unknown table, 3075/3131/3145 for malformed
// SQL, 3219 for a statement that is no SELECT, 3001 for an unknown type.
//
// Rows are read as the caller moves (nothing is read or copied up front but
// the first row), through prepared statements the session caches: the SQL
// text carries no literals, so repeated key queries reuse one statement.
std::unique_ptr<Recordset> OpenQuery(const std::shared_ptr<Session>& session, TableList& tables,
                                     QueryCache& cache, const std::string& sql, int type,
                                     int options);

// Runs a DELETE of the engine's SQL as one unit. Raises 3065 for a SELECT,
// 3078, 3061 and the syntax errors as OpenQuery, 3027 for a linked table.
void ExecuteStatement(const std::shared_ptr<Session>& session, TableList& tables,
                      const std::string& sql);

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_SQLITE_RECORDSET_H_
