#include "import/column_mapping.h"

#include <cmath>

#include "dbengine/dao.h"
#include "dbengine/decimal.h"
#include "import/import_errors.h"

namespace tabsync::import {

namespace {

// Currency is stored as a real rounded to 4 places: exact below 10^11, where
// every such value has at most 15 significant digits.
constexpr int64_t kExactCurrencyUnits = 1000000000000000;  // 10^11 in 1/10000
constexpr int kGuidTextSize = 38;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"

dao::ColumnType Plain(int type) { return {type, dao::FixedSize(type), false}; }

ColumnPlan Refused(std::string what) {
  ColumnPlan plan;
  plan.refusal = std::move(what);
  return plan;
}

ColumnPlan Omitted(std::string warning) {
  ColumnPlan plan;
  plan.omitted = true;
  plan.warning = std::move(warning);
  return plan;
}

ColumnPlan PlanComplex(const SourceColumn& column) {
  const char* what = column.complex == ComplexKind::kAttachments ? "attachments" : "multiple values";
  switch (column.complex) {
    case ComplexKind::kAttachments:
    case ComplexKind::kMultipleValues:
      if (column.detail.empty())
        return Refused(std::string("a complex column (") + what + ") in a table without a primary key");
      return Omitted("");
    case ComplexKind::kVersionHistory:
      return Omitted("the version history of column '" + column.detail +
                     "' is not kept; that column holds its current value");
    default: return Refused("a complex column of an unknown kind");
  }
}

ColumnPlan PlanByType(const SourceColumn& column) {
  ColumnPlan plan;
  switch (column.type) {
    case jet::kBoolean: plan.column = Plain(dao::kTypeBoolean); plan.not_null = true; break;
    case jet::kByte: plan.column = Plain(dao::kTypeByte); break;
    case jet::kInteger: plan.column = Plain(dao::kTypeInteger); break;
    case jet::kLong: plan.column = {dao::kTypeLong, 4, column.auto_number}; break;
    case jet::kCurrency: plan.column = Plain(dao::kTypeCurrency); break;
    case jet::kSingle: plan.column = Plain(dao::kTypeSingle); break;
    case jet::kDouble: plan.column = Plain(dao::kTypeDouble); break;
    case jet::kDateTime: plan.column = Plain(dao::kTypeDate); break;
    case jet::kBigInt: plan.column = Plain(dao::kTypeBigInt); break;
    case jet::kText:
      plan.column = {dao::kTypeText, column.size >= 1 && column.size <= 255 ? column.size : 255, false};
      break;
    case jet::kMemo: plan.column = Plain(dao::kTypeMemo); break;
    case jet::kOle:
    case jet::kBinary: plan.column = Plain(dao::kTypeLongBinary); break;
    case jet::kGuid: plan.column = {dao::kTypeText, kGuidTextSize, false}; break;
    case jet::kDecimal:
      if (column.precision < 1 || column.precision > dao::kMaxDecimalPrecision || column.scale < 0 ||
          column.scale > column.precision)
        return Refused("a Decimal column of precision " + std::to_string(column.precision) + " and scale " +
                       std::to_string(column.scale));
      plan.column = {dao::kTypeDecimal, dao::FixedSize(dao::kTypeDecimal), false, column.precision, column.scale};
      break;
    case jet::kComplex: return PlanComplex(column);
    case jet::kDateTimeExtended: plan.column = Plain(dao::kTypeDateExtended); break;
    default: return Refused("a column of the unknown type " + std::to_string(column.type));
  }
  return plan;
}

Error ValueRefused(const std::string& what) { return Error(errors::kUnsupported, what); }

dao::Variant CurrencyValue(int64_t units) {
  if (units >= kExactCurrencyUnits || units <= -kExactCurrencyUnits)
    throw ValueRefused("a Currency value of 100,000,000,000 or more");
  return dao::Variant(static_cast<double>(units) / 10000.0);
}


dao::Variant DateValue(double jet_date) {
  try {
    return dao::ConvertForField(dao::Variant(LinearDays(jet_date)), dao::ColumnType{dao::kTypeDate, 8});
  } catch (const Error&) {
    throw ValueRefused("a date outside the years 100 to 9999");
  }
}

dao::Variant NaturalValue(const SourceValue& value) {
  switch (value.kind) {
    case ValueKind::kInteger: return dao::Variant(value.integer);
    case ValueKind::kCurrency: return CurrencyValue(value.integer);
    case ValueKind::kDouble: return dao::Variant(value.number);
    case ValueKind::kDate: return DateValue(value.number);
    case ValueKind::kText: return dao::Variant(value.bytes);
    case ValueKind::kBinary: return dao::Variant::Binary(value.bytes);
    case ValueKind::kDecimal: return dao::Variant::Decimal(value.bytes);
    case ValueKind::kExtendedDate: return dao::Variant::Date(value.bytes);
    case ValueKind::kUndecodable: throw ValueRefused("text that cannot be decoded");
    default: return dao::Variant();
  }
}

}  // namespace

ColumnPlan PlanColumn(const SourceColumn& column) {
  ColumnPlan plan = PlanByType(column);
  plan.not_null = plan.not_null || column.required;
  if (column.calculated && plan.refusal.empty()) {
    plan.not_null = column.required;  // a calculated Boolean is Null where its expression is
    plan.warning = "a calculated column: its values are kept, its expression '" + column.expression +
                   "' is not";
  }
  return plan;
}

dao::Variant ConvertValue(const SourceValue& value, const dao::ColumnType& column) {
  if (column.type == dao::kTypeBoolean && value.kind == ValueKind::kInteger)
    return dao::Variant(value.integer != 0);
  return dao::ConvertForField(NaturalValue(value), column);
}

double LinearDays(double jet_date) {
  double days = std::trunc(jet_date);
  // The time of day to the second, from the fraction alone: rounding the
  // whole number times 86400 would round digits that the day number
  // pushed out of the fraction.
  double seconds = std::round(std::fabs(jet_date - days) * 86400.0);
  return days + seconds / 86400.0;
}

}  // namespace tabsync::import
