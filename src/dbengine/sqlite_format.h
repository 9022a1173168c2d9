#ifndef TABSYNC_DBENGINE_SQLITE_FORMAT_H_
#define TABSYNC_DBENGINE_SQLITE_FORMAT_H_

#include <string>
#include <string_view>
#include <vector>

#include "dbengine/sqlite_session.h"

namespace tabsync::dao {

// The upgrade of a file to the current format version
// (docs/database-format.md, "Format versions").

// Brings the session's file to kFormatVersion as Database::UpgradeFormat
// says, inside the session's transaction. The declared type of each column
// that an older version of the engine declared is replaced in its table's
// CREATE TABLE statement, where nothing else changes, so the table's rows,
// indexes, key and constraints stay as they are; each new statement is first
// proven on a scratch database to declare the same columns, with the same
// constraints and collations and only the new types. A column whose SQLite
// affinity changes (Memo declared MEMO alone) gets its numbers stored anew
// as the texts the engine reads them as, while it is declared without
// affinity, so that its indexes stay right. Raises 3000 for a table whose
// statement cannot be rewritten so, and the errors of SQLite.
void UpgradeFormat(Session& session);

// Where each column's declared type stands in a CREATE TABLE statement, in
// column order: [begin, end) of the statement's text, empty where a column
// declares no type. Table constraints are passed over.
struct TypeSpan {
  size_t begin = 0;
  size_t end = 0;
};
std::vector<TypeSpan> ColumnTypeSpans(std::string_view create_table);

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_SQLITE_FORMAT_H_
