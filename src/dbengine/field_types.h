#ifndef TABSYNC_DBENGINE_FIELD_TYPES_H_
#define TABSYNC_DBENGINE_FIELD_TYPES_H_

#include <string>
#include <string_view>

#include "dbengine/variant.h"

struct sqlite3_stmt;

namespace tabsync::dao {

// What a column's declared type says: the field type code, its size and
// whether it is an auto-increment COUNTER.
struct ColumnType {
  int type = 0;
  int size = 0;
  bool counter = false;
};

// The declared type of a column as stored in the file, read by the rules of
// docs/database-format.md; never fails.
ColumnType ParseDeclaredType(std::string_view declared);

// The declared type the engine writes for a field, with "COLLATE NOCASE" for
// Text and Memo.
std::string DeclaredTypeFor(const ColumnType& column);

// True for the type codes the engine knows.
bool IsKnownType(int type);
// Text and Memo: compared ignoring letter case in SQL.
bool IsTextType(int type);
// The byte size of a non-text type (0 for Memo and binary objects).
int FixedSize(int type);
// The Attributes a stored field of this column reports.
int StoredAttributes(const ColumnType& column);

// Converts a value written to a field of the given type and size: raises
// 3421 for a value that is no such value, 3349 for a number out of the type's
// range, 3163 for a text longer than a Text field's size.
Variant ConvertForField(const Variant& value, int type, int size);

// The value in column `index` of the current row, read as the field type.
Variant ReadColumn(sqlite3_stmt* statement, int index, int type);

// Binds a value (already converted) to parameter `index` (from 1).
void BindVariant(sqlite3_stmt* statement, int index, const Variant& value);

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_FIELD_TYPES_H_
