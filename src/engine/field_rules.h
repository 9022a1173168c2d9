#ifndef TABSYNC_ENGINE_FIELD_RULES_H_
#define TABSYNC_ENGINE_FIELD_RULES_H_

#include <cstdint>
#include <string>

#include "dbengine/dao.h"
#include "engine/update_context.h"

namespace tabsync::engine {

// How the record merge compares and copies the value of one column.
//
// String identifier columns are stored as a number in some databases and as
// a five-digit text in others: "NameStringID" and "TooltipStringID" of the
// config database's "Links" table and "ID" of the resource database's
// "StringTable" (names in any letter case; the database by
// CurrentDatabaseFile, exactly). Where the source holds one as a number (a
// field not of type Text), it is compared and written as its five-digit text.

// The identifier's text: its digits with leading "0"s to five characters
// ("00012", "32767", 0 gives "00000"). Raises 5 for a negative number.
std::string FormatStringId(int16_t n);

// A source value as an identifier number: rounded to the nearest whole
// number (halves to even). Raises 94 for Null, 13 for a value that is no
// number, 6 outside -32768 to 32767.
int16_t StringIdNumber(const dao::Variant& value);

// Whether the column of table T (the source field's name) is a string
// identifier column of the database being updated.
bool IsStringIdColumn(const UpdateContext& context, const std::string& T,
                      const std::string& column);

// True when the target's value is to be left as it is: the source value is
// Null; or, for a string identifier column with a non-Text source field, the
// target's text form is exactly the source's identifier text; or otherwise
// both values are equal: numbers (also Booleans and dates) by value, texts
// exactly, letter case included, never a number with a text. False when only
// the target is Null. Raises as FormatStringId/StringIdNumber.
bool FieldValuesEqual(const UpdateContext& context, const std::string& T, dao::Field& source,
                      dao::Field& target);

// The rules of one column, as the merge decides them once per call: whether
// the source field `source` of table T is a string identifier column whose
// values are numbers (not of type Text) in the database being updated.
bool UsesStringIdRule(const UpdateContext& context, const std::string& T, dao::Field& source);

// FieldValuesEqual and CopyFieldValue with the column's rule decided:
// stringId is UsesStringIdRule of the source field.
bool FieldValuesEqual(const dao::Variant& source, const dao::Variant& target, bool stringId);
void CopyFieldValue(dao::Field& source, dao::Field& target, bool stringId);

// Writes the value at position i of `from`'s current record into the field
// at position i of `to` (in AddNew or Edit): Null as Null, a string
// identifier from a non-Text source field as its five-digit text (converted
// by the engine when the target column is numeric), anything else as it is.
// Raises as FormatStringId/StringIdNumber and the engine's field errors.
void CopyFieldValue(const UpdateContext& context, const std::string& T, int16_t i,
                    dao::Recordset& from, dao::Recordset& to);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_FIELD_RULES_H_
