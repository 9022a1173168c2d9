#include "engine/field_rules.h"

#include <cmath>
#include <cstdlib>
#include <optional>

#include "dbengine/decimal.h"
#include "dbengine/field_types.h"
#include "dbengine/names.h"
#include "engine/runtime_errors.h"

namespace tabsync::engine {
namespace {

using dao::Variant;

std::optional<double> ParseNumberText(const std::string& text) {
  const char* begin = text.c_str();
  while (*begin == ' ') ++begin;
  char* end = nullptr;
  double number = std::strtod(begin, &end);
  if (end == begin) return std::nullopt;
  while (*end == ' ') ++end;
  if (*end != '\0') return std::nullopt;
  return number;
}

double NumberOf(const Variant& value) {
  if (value.IsNull()) throw InvalidUseOfNull();
  if (value.IsNumber()) return value.AsDouble();
  if (value.IsText()) {
    if (std::optional<double> number = ParseNumberText(value.AsString())) return *number;
  }
  throw TypeMismatch();
}

// A date as its stored text; a number as the date it stands for (days from
// 1899-12-30). Nothing for the other kinds.
std::optional<std::string> DateText(const Variant& value) {
  if (value.kind() == Variant::Kind::kDate) return value.AsString();
  if (!value.IsNumber() || value.kind() == Variant::Kind::kBoolean) return std::nullopt;
  try {
    return dao::ConvertForField(value, dao::ColumnType{dao::kTypeDate}).AsString();
  } catch (const Error&) {
    return std::nullopt;  // no date at all, so equal to none
  }
}

// A date without a fraction of all zeros: a Date/Time Extended of a whole
// second ("2024-03-01 09:30:00.0000000") is that Date/Time.
std::string_view WholeSecondDate(const std::string& text) {
  std::string_view date(text);
  if (date.size() > 20 && date[19] == '.' && date.find_first_not_of('0', 20) == std::string_view::npos)
    date = date.substr(0, 19);
  return date;
}

// A number as the exact decimal it is written as: a double by its shortest
// text that reads back as it.
std::optional<std::string> NormalNumber(const Variant& value) {
  switch (value.kind()) {
    case Variant::Kind::kDouble: return dao::NormalDecimal(dao::NumberText(value.AsDouble()));
    case Variant::Kind::kDecimal: return dao::NormalDecimal(value.AsString());
    default: return std::to_string(value.AsInteger());
  }
}

bool SameValue(const Variant& a, const Variant& b) {
  using Kind = Variant::Kind;
  if (a.IsText() || b.IsText()) return a.IsText() && b.IsText() && a.AsString() == b.AsString();
  if (a.kind() == Kind::kBinary || b.kind() == Kind::kBinary)
    return a.kind() == b.kind() && a.AsString() == b.AsString();
  if (a.kind() == Kind::kDate && b.kind() == Kind::kDate)
    return WholeSecondDate(a.AsString()) == WholeSecondDate(b.AsString());
  if (a.kind() == Kind::kDate || b.kind() == Kind::kDate) {
    std::optional<std::string> left = DateText(a), right = DateText(b);
    return left && right && *left == *right;
  }
  // Whole numbers beyond 2^53 differ where their doubles would not.
  if (a.kind() == Kind::kInteger && b.kind() == Kind::kInteger) return a.AsInteger() == b.AsInteger();
  // Decimals by their exact value, also beside other numbers (12.5 and
  // "12.50" are one number; 0.1 is the decimal 0.1).
  if (a.kind() == Kind::kDecimal || b.kind() == Kind::kDecimal) {
    std::optional<std::string> left = NormalNumber(a), right = NormalNumber(b);
    return left && right && *left == *right;
  }
  return a.AsDouble() == b.AsDouble();
}

bool HasStringIds(const UpdateContext& context) {
  const std::string& file = context.CurrentDatabaseFile();
  return file == "config.mdb" || file == "resource.mdb";
}

}  // namespace

bool UsesStringIdRule(const UpdateContext& context, const std::string& T, dao::Field& source) {
  return HasStringIds(context) && source.Type() != dao::kTypeText &&
         IsStringIdColumn(context, T, source.Name());
}

std::string FormatStringId(int16_t n) {
  if (n < 0) throw InvalidProcedureCall();
  std::string digits = std::to_string(n);
  return std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') + digits;
}

int16_t StringIdNumber(const Variant& value) {
  // The platform's rounding: to the nearest, halves to the even neighbour.
  double rounded = std::nearbyint(NumberOf(value));
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) throw Overflow();
  return static_cast<int16_t>(rounded);
}

bool IsStringIdColumn(const UpdateContext& context, const std::string& T,
                      const std::string& column) {
  if (!HasStringIds(context)) return false;
  const std::string& file = context.CurrentDatabaseFile();
  std::string table = dao::LowerName(T);
  std::string name = dao::LowerName(column);
  if (file == "config.mdb" && table == "links")
    return name == "namestringid" || name == "tooltipstringid";
  return file == "resource.mdb" && table == "stringtable" && name == "id";
}

bool FieldValuesEqual(const UpdateContext& context, const std::string& T, dao::Field& source,
                      dao::Field& target) {
  // The target's value is read only when the source's is not Null.
  const Variant& source_value = source.Value();
  if (source_value.IsNull()) return true;
  return FieldValuesEqual(source_value, target.Value(), UsesStringIdRule(context, T, source));
}

bool FieldValuesEqual(const Variant& source, const Variant& target, bool stringId) {
  if (source.IsNull()) return true;
  if (target.IsNull()) return false;
  if (stringId) return target.ToText() == FormatStringId(StringIdNumber(source));
  return SameValue(source, target);
}

void CopyFieldValue(const UpdateContext& context, const std::string& T, int16_t i,
                    dao::Recordset& from, dao::Recordset& to) {
  dao::Field& source = from.Fields().Item(i);
  CopyFieldValue(source, to.Fields().Item(i), UsesStringIdRule(context, T, source));
}

void CopyFieldValue(dao::Field& source, dao::Field& target, bool stringId) {
  const Variant& value = source.Value();
  if (stringId && !value.IsNull()) {
    target.SetValue(Variant(FormatStringId(StringIdNumber(value))));
  } else {
    target.SetValue(value);
  }
}

}  // namespace tabsync::engine
