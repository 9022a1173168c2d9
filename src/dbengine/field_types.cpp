#include "dbengine/field_types.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "dbengine/dao.h"
#include "dbengine/error.h"
#include "dbengine/names.h"

namespace tabsync::dao {

namespace {

struct NamedType {
  const char* name;
  int type;
  bool counter;
};

constexpr NamedType kNamedTypes[] = {
    {"bit", kTypeBoolean, false},       {"byte", kTypeByte, false},
    {"short", kTypeInteger, false},     {"long", kTypeLong, false},
    {"counter", kTypeLong, true},       {"currency", kTypeCurrency, false},
    {"single", kTypeSingle, false},     {"double", kTypeDouble, false},
    {"datetime", kTypeDate, false},     {"longbinary", kTypeLongBinary, false},
    {"memo", kTypeMemo, false},         {"memo text", kTypeMemo, false},
};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// "TEXT", "TEXT(n)" or "TEXT (n)": the Text type with its size.
std::optional<int> ParseTextSize(std::string_view lower) {
  if (lower.substr(0, 4) != "text") return std::nullopt;
  std::string_view rest = Trim(lower.substr(4));
  if (rest.empty()) return 255;
  if (rest.front() != '(' || rest.back() != ')') return std::nullopt;
  rest = Trim(rest.substr(1, rest.size() - 2));
  int size = 0;
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), size);
  if (ec != std::errc() || end != rest.data() + rest.size() || size < 1 || size > 255)
    return std::nullopt;
  return size;
}

// SQLite's own affinity rules, for declared types written by other programs.
int TypeByAffinity(const std::string& lower) {
  auto has = [&](const char* word) { return lower.find(word) != std::string::npos; };
  if (has("int")) return kTypeLong;
  if (has("char") || has("clob") || has("text")) return kTypeMemo;
  if (has("blob") || lower.empty()) return kTypeLongBinary;
  return kTypeDouble;
}

std::optional<double> ParseNumber(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<bool> ParseBooleanWord(std::string_view text) {
  std::string lower = LowerName(Trim(text));
  if (lower == "true" || lower == "yes" || lower == "on") return true;
  if (lower == "false" || lower == "no" || lower == "off") return false;
  return std::nullopt;
}

// Days from 1970-01-01 to a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

// A date serial counts days from 1899-12-30; the fraction is the time of day.
std::string DateFromSerial(double serial) {
  constexpr int64_t kSerialEpoch = -25569;  // 1899-12-30 in days from 1970-01-01
  int64_t seconds = static_cast<int64_t>(std::llround(serial * 86400.0));
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t second_of_day = seconds - days * 86400;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days + kSerialEpoch, &year, &month, &day);
  if (year < 100 || year > 9999) throw NumericOverflow();
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(year), month,
                day, static_cast<int>(second_of_day / 3600), static_cast<int>(second_of_day / 60 % 60),
                static_cast<int>(second_of_day % 60));
  return text;
}

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS", checked and
// written in the stored form.
std::optional<std::string> NormalizeDateText(std::string_view text) {
  text = Trim(text);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  std::string copy(text);
  int fields = std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  bool shape_ok = (fields == 3 && copy.size() == 10) || fields == 5 || fields == 6;
  if (!shape_ok || fields == 7) return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0)
    return std::nullopt;
  unsigned month = 0, day = 0;
  int64_t year = 0;
  CivilFromDays(DaysFromCivil(y, mo, d), &year, &month, &day);
  if (static_cast<int>(day) != d) return std::nullopt;  // 2023-02-30 and the like
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  return std::string(out);
}

// Number of characters of a UTF-8 text (continuation bytes not counted).
size_t CharacterCount(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++count;
  return count;
}

double NumberOf(const Variant& value) {
  if (value.IsNumber()) return value.AsDouble();
  if (value.kind() == Variant::Kind::kText) {
    if (auto number = ParseNumber(value.AsString())) return *number;
  }
  throw ConversionError();
}

Variant ToWholeNumber(const Variant& value, double low, double high) {
  double number = NumberOf(value);
  // The usual rounding of the platform: to the nearest, halves to even.
  double rounded = std::nearbyint(number);
  if (rounded < low || rounded > high) throw NumericOverflow();
  return Variant(static_cast<int64_t>(rounded));
}

Variant ToBoolean(const Variant& value) {
  if (value.kind() == Variant::Kind::kText) {
    if (auto word = ParseBooleanWord(value.AsString())) return Variant(*word);
  }
  return Variant(NumberOf(value) != 0);
}

Variant ToDate(const Variant& value) {
  if (value.kind() == Variant::Kind::kDate) return value;
  if (value.kind() == Variant::Kind::kText) {
    if (auto date = NormalizeDateText(value.AsString())) return Variant::Date(*date);
    throw ConversionError();
  }
  if (value.IsNumber() && value.kind() != Variant::Kind::kBoolean)
    return Variant::Date(DateFromSerial(value.AsDouble()));
  throw ConversionError();
}

Variant ToText(const Variant& value, int type, int size) {
  if (value.kind() == Variant::Kind::kBinary) throw ConversionError();
  std::string text = value.ToText();
  if (type == kTypeText && CharacterCount(text) > static_cast<size_t>(size)) throw FieldTooSmall();
  return Variant(std::move(text));
}

Variant ToBinary(const Variant& value) {
  if (value.kind() == Variant::Kind::kBinary) return value;
  if (value.kind() == Variant::Kind::kText) return Variant::Binary(value.AsString());
  throw ConversionError();
}

Variant ToSingle(const Variant& value) {
  double number = NumberOf(value);
  if (std::fabs(number) > std::numeric_limits<float>::max()) throw NumericOverflow();
  return Variant(static_cast<double>(static_cast<float>(number)));
}

double RoundCurrency(double value) { return std::nearbyint(value * 10000.0) / 10000.0; }

}  // namespace

ColumnType ParseDeclaredType(std::string_view declared) {
  std::string lower = LowerName(Trim(declared));
  for (const NamedType& named : kNamedTypes) {
    if (lower == named.name) return {named.type, FixedSize(named.type), named.counter};
  }
  if (auto size = ParseTextSize(lower)) return {kTypeText, *size, false};
  int type = TypeByAffinity(lower);
  return {type, FixedSize(type), false};
}

std::string DeclaredTypeFor(const ColumnType& column) {
  if (column.counter) return "COUNTER";
  switch (column.type) {
    case kTypeBoolean: return "BIT";
    case kTypeByte: return "BYTE";
    case kTypeInteger: return "SHORT";
    case kTypeLong: return "LONG";
    case kTypeCurrency: return "CURRENCY";
    case kTypeSingle: return "SINGLE";
    case kTypeDouble: return "DOUBLE";
    case kTypeDate: return "DATETIME";
    case kTypeText: return "TEXT(" + std::to_string(column.size) + ") COLLATE NOCASE";
    case kTypeLongBinary: return "LONGBINARY";
    // "TEXT" gives the column SQLite's text affinity, so that a memo such as
    // "007" is stored as written; "MEMO" first keeps the ODBC driver
    // reporting a long text.
    case kTypeMemo: return "MEMO TEXT COLLATE NOCASE";
    default: throw InvalidFieldType();
  }
}

bool IsKnownType(int type) {
  return (type >= kTypeBoolean && type <= kTypeDate) || (type >= kTypeText && type <= kTypeMemo);
}

bool IsTextType(int type) { return type == kTypeText || type == kTypeMemo; }

int FixedSize(int type) {
  switch (type) {
    case kTypeBoolean:
    case kTypeByte: return 1;
    case kTypeInteger: return 2;
    case kTypeLong:
    case kTypeSingle: return 4;
    case kTypeCurrency:
    case kTypeDouble:
    case kTypeDate: return 8;
    default: return 0;
  }
}

int StoredAttributes(const ColumnType& column) {
  int attributes = kFieldUpdatable | (column.type == kTypeText ? kFieldVariable : kFieldFixed);
  if (column.counter) attributes |= kFieldAutoIncrement;
  return attributes;
}

Variant ConvertForField(const Variant& value, int type, int size) {
  if (value.IsNull()) return value;
  switch (type) {
    case kTypeBoolean: return ToBoolean(value);
    case kTypeByte: return ToWholeNumber(value, 0, 255);
    case kTypeInteger: return ToWholeNumber(value, -32768, 32767);
    case kTypeLong: return ToWholeNumber(value, -2147483648.0, 2147483647.0);
    case kTypeCurrency: return Variant(RoundCurrency(NumberOf(value)));
    case kTypeSingle: return ToSingle(value);
    case kTypeDouble: return Variant(NumberOf(value));
    case kTypeDate: return ToDate(value);
    case kTypeText:
    case kTypeMemo: return ToText(value, type, size);
    case kTypeLongBinary: return ToBinary(value);
    default: throw InvalidFieldType();
  }
}

namespace {

Variant ReadInteger(int64_t number, int type) {
  switch (type) {
    case kTypeBoolean: return Variant(number != 0);
    case kTypeCurrency:
    case kTypeSingle:
    case kTypeDouble: return Variant(static_cast<double>(number));
    case kTypeDate: return Variant::Date(DateFromSerial(static_cast<double>(number)));
    case kTypeText:
    case kTypeMemo: return Variant(std::to_string(number));
    default: return Variant(number);
  }
}

Variant ReadDouble(double number, int type) {
  switch (type) {
    case kTypeBoolean: return Variant(number != 0);
    case kTypeCurrency: return Variant(RoundCurrency(number));
    case kTypeDate: return Variant::Date(DateFromSerial(number));
    case kTypeText:
    case kTypeMemo: return Variant(NumberText(number));
    default: return Variant(number);
  }
}

std::string ColumnBytes(sqlite3_stmt* statement, int index) {
  const void* data = sqlite3_column_blob(statement, index);
  int length = sqlite3_column_bytes(statement, index);
  return data ? std::string(static_cast<const char*>(data), length) : std::string();
}

}  // namespace

Variant ReadColumn(sqlite3_stmt* statement, int index, int type) {
  // One lookup of the column, then its value's own accessors: a merge reads
  // every column of two records per record.
  sqlite3_value* column = sqlite3_column_value(statement, index);
  switch (sqlite3_value_type(column)) {
    case SQLITE_NULL: return Variant();
    case SQLITE_INTEGER: return ReadInteger(sqlite3_value_int64(column), type);
    case SQLITE_FLOAT: return ReadDouble(sqlite3_value_double(column), type);
    case SQLITE_BLOB:
      if (IsTextType(type)) return Variant(ColumnBytes(statement, index));
      return Variant::Binary(ColumnBytes(statement, index));
    default: {
      const char* text = reinterpret_cast<const char*>(sqlite3_value_text(column));
      std::string value(text ? text : "", sqlite3_value_bytes(column));
      if (type == kTypeDate) return Variant::Date(std::move(value));
      if (type == kTypeLongBinary) return Variant::Binary(std::move(value));
      return Variant(std::move(value));
    }
  }
}

void BindVariant(sqlite3_stmt* statement, int index, const Variant& value) {
  switch (value.kind()) {
    case Variant::Kind::kNull: sqlite3_bind_null(statement, index); break;
    case Variant::Kind::kBoolean: sqlite3_bind_int(statement, index, value.AsBoolean() ? 1 : 0); break;
    case Variant::Kind::kInteger: sqlite3_bind_int64(statement, index, value.AsInteger()); break;
    case Variant::Kind::kDouble: sqlite3_bind_double(statement, index, value.AsDouble()); break;
    case Variant::Kind::kBinary:
      sqlite3_bind_blob64(statement, index, value.AsString().data(), value.AsString().size(),
                          SQLITE_TRANSIENT);
      break;
    default:
      sqlite3_bind_text64(statement, index, value.AsString().data(), value.AsString().size(),
                          SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
  }
}

}  // namespace tabsync::dao
