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
  // The column is not written: its values are in a table of their own
  // (attachments, multiple values) or not kept (a version history).
  bool omitted = false;
  // Empty when the format can hold the column; otherwise what it is, for the
  // refusal ("a Date/Time Extended column").
  std::string refusal;
  // What the conversion changes, for a warning ("a calculated column: ...").
  std::string warning;
};

// The output column for a source column: Boolean to Memo by type, AutoNumber
// Long as COUNTER, binary and OLE as binary objects, a GUID as TEXT(38),
// a Decimal as a Decimal of its precision and scale (a calculated one of
// those the reader found for its values); required and Boolean columns
// NOT NULL. A calculated column becomes a column of its result type (a
// calculated Boolean may be Null), with a warning naming its expression.
// Complex columns are omitted: attachments and multiple values (when the
// reader made a table of them), and a version history (with a warning).
// A Large Number as a Large Number, a Date/Time Extended as one. Refused: a
// Decimal of a precision or scale
// the engine has none of, complex columns of an unknown kind or in a table
// without a primary key, unknown types.
ColumnPlan PlanColumn(const SourceColumn& column);

// The value to store for a source value in a column of `column`'s type.
// Raises 4001 with what is wrong (no table or column name) for a Currency
// value beyond +-100,000,000,000 (not exact as a real), a date outside the
// years 100 to 9999 or an undecodable text; the engine's conversion errors
// (3163 text too long, 3349 out of range, 3421 a Decimal that is no number)
// pass on.
dao::Variant ConvertValue(const SourceValue& value, const dao::ColumnType& column);

// The moment a Jet date number stands for, to the second, as a plain number
// of days since 1899-12-30: Jet counts the whole days with their sign but
// the time of day always forwards, so -1.25 is 1899-12-29 06:00, which is
// -0.75 days. The time of day is rounded from the day's fraction:
// 36685.49689236111 is 2000-06-08 11:55:31 (its fraction is 11:55:31.49999).
double LinearDays(double jet_date);

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_COLUMN_MAPPING_H_
