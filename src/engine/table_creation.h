#ifndef TABSYNC_ENGINE_TABLE_CREATION_H_
#define TABSYNC_ENGINE_TABLE_CREATION_H_

#include <string>

#include "engine/update_context.h"

namespace tabsync::engine {

// At most this many columns are added to one table by one AddColumns call.
constexpr int kMaxAddedColumns = 30;

// Creates in target a table modelled on source: its name, its fields in order
// (name, type, size and attribute bits) and a copy of its primary index as
// "PrimaryKey" (primary, unique, the same fields in the same order); other
// indexes are not copied. Logs "ADD TABLE " + name, one
// "    COLUMN " + position + ": " + name + " (" + type code + ")" per field,
// then one "    Primary Key: " + name per key field. The table reaches the
// target at the last step only, so a failure (passed to the caller) leaves
// no part of it there.
void AddTable(UpdateContext& context, dao::Database& target, dao::TableDef& source);

// Adds to the UpdateInfoDatabase table updateTable the columns of the
// ExistingDatabase table existingTable that it lacks (names compared exactly,
// letter case included), with their name, type and size. The first missing
// column logs " ADD COLUMNS in " + updateTable; each one logs
// "   ADD COLUMN " + name. The 31st missing column is logged, followed by
// " Too many fields to add!", and neither it nor any later field is added.
// Engine errors pass to the caller; columns added before one stay.
void AddColumns(UpdateContext& context, const std::string& existingTable,
                const std::string& updateTable);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_TABLE_CREATION_H_
