#ifndef TABSYNC_DBENGINE_FIELD_TYPES_H_
#define TABSYNC_DBENGINE_FIELD_TYPES_H_

#include <optional>
#include <string>
#include <string_view>

#include "dbengine/dao.h"
#include "dbengine/variant.h"

struct sqlite3_stmt;
struct sqlite3_value;

namespace tabsync::dao {

// What a column's declared type says: the field type code, its size,
// whether it is an auto-increment COUNTER, and a Decimal's precision and
// scale.
struct ColumnType {
  int type = 0;
  int size = 0;
  bool counter = false;
  int precision = 0;
  int scale = 0;
};

// The declared type of a column as stored in the file, read by the rules of
// docs/database-format.md: the declarations of every format version, then
// SQLite's affinity rules; never fails.
ColumnType ParseDeclaredType(std::string_view declared);

// The declared type that format version `version` (from 1; a later version
// than kFormatVersion writes as kFormatVersion) gives the field, alone.
// Raises 3259 for a type the version cannot hold, 3001 for a version below 1.
std::string DeclaredType(const ColumnType& column, int version = kFormatVersion);
// The same with "COLLATE NOCASE" for Text and Memo: what the engine writes
// after a column's name.
std::string DeclaredTypeFor(const ColumnType& column, int version = kFormatVersion);

// For a declared type that an older format version of the engine wrote
// (including "TEXT" without a size and "MEMO" alone): the current one.
// Empty for a current declaration and for one the engine never wrote.
std::string UpgradedDeclaration(std::string_view declared);

// SQLite's column affinity of a declared type, by SQLite's own rules.
enum class Affinity { kInteger, kText, kBlob, kReal, kNumeric };
Affinity AffinityOf(std::string_view declared);

// True for the type codes the engine knows.
bool IsKnownType(int type);
// Text and Memo: compared ignoring letter case in SQL.
bool IsTextType(int type);
// The byte size of a non-text type (0 for Memo and binary objects).
int FixedSize(int type);
// The Attributes a stored field of this column reports.
int StoredAttributes(const ColumnType& column);

// Converts a value written to a field of the given column type: raises 3421
// for a value that is no such value, 3349 for a number out of the type's
// range (a Decimal with more whole digits than its precision leaves), 3163
// for a text longer than a Text field's size. A Decimal takes a number or a
// text that holds one, exactly, rounded to its scale (halves to even); a
// double by its shortest text that reads back as it (0.1 is 0.1).
Variant ConvertForField(const Variant& value, const ColumnType& column);

// The value in column `index` of the current row, read as the column's
// type. A date stored in another form than the engine's own (one that an
// ODBC client wrote, see NormalizeDate) reads in the engine's form; a real
// number reads with the precision of a Single, Currency or whole-number
// field; a number in a Decimal reads as the Decimal's text at its scale. A
// text that is no value of the type reads as the text it is.
Variant ReadColumn(sqlite3_stmt* statement, int index, const ColumnType& column);
// The same for a value of SQLite's in a field of the type (Decimals at
// scale 0).
Variant ReadValue(sqlite3_value* value, int type);

// A date or time in one of the forms of docs/database-format.md, in the
// engine's form "YYYY-MM-DD HH:MM:SS"; nothing for other texts.
std::optional<std::string> NormalizeDate(std::string_view text);
// The same in the form of a Date/Time Extended, "YYYY-MM-DD
// HH:MM:SS.fffffff": the second's fraction to 100 ns (digits beyond the
// seventh dropped), the years 1 to 9999.
std::optional<std::string> NormalizeExtendedDate(std::string_view text);

// Binds a value (already converted) to parameter `index` (from 1).
void BindVariant(sqlite3_stmt* statement, int index, const Variant& value);

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_FIELD_TYPES_H_
