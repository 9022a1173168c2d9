#ifndef TABSYNC_IMPORT_COLUMN_MAPPING_H_
#define TABSYNC_IMPORT_COLUMN_MAPPING_H_

// How a Jet column and its values become a column and values of the
// project's format (docs/database-format.md, docs/import.md).

#include <string>

#include "dbengine/field_types.h"
#include "dbengine/variant.h"
#include "import/source_model.h"

namespace tabsync::import {

struct ColumnPlan {
  dao::ColumnType column;
  bool not_null = false;
  // Empty when the format can hold the column; otherwise what it is, for the
  // refusal ("a calculated column").
  std::string refusal;
};

// The output column for a source column: Boolean to Memo by type, AutoNumber
// Long as COUNTER, binary and OLE as binary objects, a GUID as TEXT(38),
// Decimal of at most 15 digits as Double; required and Boolean columns
// NOT NULL. Refused: calculated, complex and Date/Time Extended columns,
// Decimal of more than 15 digits, unknown types.
ColumnPlan PlanColumn(const SourceColumn& column);

// The value to store for a source value in a column of `column`'s type.
// Raises 4001 with what is wrong (no table or column name) for a Currency
// value beyond +-100,000,000,000 (not exact as a real), a date outside the
// years 100 to 9999, an undecodable text or a Decimal that is no number;
// the engine's conversion errors (3163 text too long, 3349 out of range)
// pass on.
dao::Variant ConvertValue(const SourceValue& value, const dao::ColumnType& column);

// The moment a Jet date number stands for, as a plain number of days since
// 1899-12-30: Jet counts the whole days with their sign but the time of day
// always forwards, so -1.25 is 1899-12-29 06:00, which is -0.75 days.
double LinearDays(double jet_date);

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_COLUMN_MAPPING_H_
