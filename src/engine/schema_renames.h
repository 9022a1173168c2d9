#ifndef TABSYNC_ENGINE_SCHEMA_RENAMES_H_
#define TABSYNC_ENGINE_SCHEMA_RENAMES_H_

#include <string>

#include "engine/update_context.h"

namespace tabsync::engine {

// Schema changes of a release on the database in use. Each acts only where
// its old name is found (or its column is missing) and otherwise does nothing
// and logs nothing. Names are matched ignoring letter case; the names written
// and logged are the caller's, exactly as passed.

// Renames the first table of ExistingDatabase whose name matches oldName to
// newName and logs " RENAME Table: " + oldName + " -> " + newName. Engine
// errors (a table named newName exists: 3010) pass to the caller, and then
// nothing is logged.
void RenameTable(UpdateContext& context, const std::string& oldName, const std::string& newName);

// Renames column oldColumn of the first table of ExistingDatabase that
// matches table to newColumn and logs
// " RENAME COLUMN, Table '" + table + "'; Column: " + oldColumn + " -> " + newColumn.
// Engine errors (a column named newColumn exists: 3191) pass to the caller.
void RenameColumn(UpdateContext& context, const std::string& table, const std::string& oldColumn,
                  const std::string& newColumn);

// Adds to table of ExistingDatabase the column of that name that the same
// table of UpdateInfoDatabase has, with its name (as the update information
// writes it), type and size, and logs
// " INSERT COLUMN, Table '" + table + "'; Column: " + column.
// Failures of the lookups pass to the caller; once both tables and the column
// are found, any failure (the column exists already, the engine refuses it)
// ends the call quietly: nothing logged, ErrorsDetected untouched.
void InsertColumn(UpdateContext& context, const std::string& table, const std::string& column);

// The first table of the database whose name matches, ignoring letter case,
// in the engine's order; null when none does.
dao::TableDef* FindTable(dao::Database& database, const std::string& name);

// Whether a table of the database in use (existingName) and a table of the
// update information (updateName) are the same table: equal ignoring letter
// case, or an existing "privilegies" with an update-information "privileges"
// (that way round only).
bool IsSameTable(const std::string& existingName, const std::string& updateName);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_SCHEMA_RENAMES_H_
