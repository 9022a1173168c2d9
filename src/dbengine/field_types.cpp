#include "dbengine/field_types.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "dbengine/dao.h"
#include "dbengine/decimal.h"
#include "dbengine/error.h"
#include "dbengine/names.h"

namespace tabsync::dao {

namespace {

// The declared types of the engine's field types in each format version
// (docs/database-format.md): by_version[v - 1] is what version v writes. A
// Text declaration is followed by the field's size in parentheses. To add a
// format version, raise kFormatVersion (dao.h) and give every row its
// declaration in the new version; a field type that only a later version can
// hold has nullptr in the versions before it. Every declaration must be told
// apart from all others and from the type names other programs use, and a
// field type should keep its SQLite affinity from version to version, so
// that its values keep their storage (UpgradeFormat re-stores the values of
// a column whose affinity changes).
//
// Version 2 puts first a word from which the SQLite3 ODBC driver takes the
// SQL type the field type means, then, where that word alone would not tell
// the field type, the version 1 word; the Byte's "UNSIGNED" makes the driver
// hand its values (0 to 255) over as unsigned numbers.
//
// The driver knows no exact numeric type ("NUMERIC" and "DECIMAL" give a
// double, and NUMERIC affinity would store a double), so a Decimal is
// declared a VARCHAR: SQLite keeps its text as written and the driver hands
// that text over. "BIGINT" gives SQL_BIGINT, and INTEGER affinity keeps all
// 64 bits; "LARGENUMBER" tells it from the BIGINT of other programs, which
// the engine reads as a Long. "DATETIME EXTENDED" gives SQL_TYPE_TIMESTAMP,
// whose fraction the driver hands over to the nanosecond. These were added
// to version 2 after that version first appeared: no declaration of it
// changed, and an engine that predates them reads such columns by SQLite's
// affinity rules (a Memo holding the same text, a Long holding the same
// number, a Double holding the date's text), whatever version the file
// stores.
struct Declarations {
  int type;
  bool counter;
  const char* by_version[kFormatVersion];
};

constexpr Declarations kDeclarations[] = {
    {kTypeBoolean, false, {"BIT", "BIT"}},
    {kTypeByte, false, {"BYTE", "TINYINT UNSIGNED BYTE"}},
    {kTypeInteger, false, {"SHORT", "SMALLINT SHORT"}},
    {kTypeLong, false, {"LONG", "INTEGER LONG"}},
    {kTypeLong, true, {"COUNTER", "INTEGER COUNTER"}},
    {kTypeCurrency, false, {"CURRENCY", "NUMERIC CURRENCY"}},
    {kTypeSingle, false, {"SINGLE", "NUMERIC SINGLE"}},
    {kTypeDouble, false, {"DOUBLE", "DOUBLE"}},
    {kTypeDate, false, {"DATETIME", "DATETIME"}},
    {kTypeText, false, {"TEXT", "VARCHAR TEXT"}},
    {kTypeLongBinary, false, {"LONGBINARY", "LONGVARBINARY LONGBINARY"}},
    {kTypeMemo, false, {"MEMO TEXT", "MEMO TEXT"}},
    {kTypeDecimal, false, {nullptr, "VARCHAR DECIMAL"}},
    {kTypeBigInt, false, {nullptr, "BIGINT LARGENUMBER"}},
    {kTypeDateExtended, false, {nullptr, "DATETIME EXTENDED"}},
};

// Memo columns of the earliest files, read as Memo and never written.
constexpr char kBareMemo[] = "memo";

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// A declared type in lower case, its words one blank apart, with no blank
// around a size's parentheses: "Text ( 50 )" reads as "text(50)".
std::string NormalizedDeclaration(std::string_view declared) {
  std::string lower;
  for (char c : LowerName(Trim(declared))) {
    bool blank = std::isspace(static_cast<unsigned char>(c));
    char last = lower.empty() ? '(' : lower.back();
    if (blank && (last == ' ' || last == '(' || last == ',')) continue;
    if ((c == '(' || c == ')' || c == ',') && last == ' ') lower.pop_back();
    lower += blank ? ' ' : c;
  }
  return lower;
}

// `name` alone (size 255) or "name(n)" with n from 1 to 255: the Text type
// with its size.
std::optional<int> ParseTextSize(std::string_view lower, std::string_view name) {
  if (!SameName(lower.substr(0, name.size()), name)) return std::nullopt;
  std::string_view rest = lower.substr(name.size());
  if (rest.empty()) return 255;
  if (rest.size() < 3 || rest.front() != '(' || rest.back() != ')') return std::nullopt;
  rest = rest.substr(1, rest.size() - 2);
  int size = 0;
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), size);
  if (ec != std::errc() || end != rest.data() + rest.size() || size < 1 || size > 255)
    return std::nullopt;
  return size;
}

// A whole number from 0 to 99 at *pos, then `end`.
bool ReadSmallNumber(std::string_view text, size_t* pos, char end, int* value) {
  size_t begin = *pos;
  *value = 0;
  while (*pos < text.size() && *pos - begin < 2 && std::isdigit(static_cast<unsigned char>(text[*pos])))
    *value = *value * 10 + (text[(*pos)++] - '0');
  return *pos > begin && *pos < text.size() && text[(*pos)++] == end;
}

// `name` followed by "(p,s)": a Decimal of precision p (1 to 28) and scale s
// (0 to p).
std::optional<ColumnType> ParseDecimal(std::string_view lower, std::string_view name) {
  if (!SameName(lower.substr(0, name.size()), name)) return std::nullopt;
  size_t pos = name.size();
  int precision = 0, scale = 0;
  if (pos >= lower.size() || lower[pos++] != '(' || !ReadSmallNumber(lower, &pos, ',', &precision) ||
      !ReadSmallNumber(lower, &pos, ')', &scale) || pos != lower.size())
    return std::nullopt;
  if (precision < 1 || precision > kMaxDecimalPrecision || scale > precision) return std::nullopt;
  return ColumnType{kTypeDecimal, FixedSize(kTypeDecimal), false, precision, scale};
}

// The field type of a declaration that some format version of the engine
// writes (or "memo" alone); nothing for other declarations.
std::optional<ColumnType> EngineColumnType(const std::string& lower) {
  for (const Declarations& row : kDeclarations) {
    for (const char* name : row.by_version) {
      if (!name) continue;
      if (row.type == kTypeText) {
        if (auto size = ParseTextSize(lower, name)) return ColumnType{kTypeText, *size, false};
      } else if (row.type == kTypeDecimal) {
        if (auto decimal = ParseDecimal(lower, name)) return decimal;
      } else if (SameName(lower, name)) {
        return ColumnType{row.type, FixedSize(row.type), row.counter};
      }
    }
  }
  if (lower == kBareMemo) return ColumnType{kTypeMemo, 0, false};
  return std::nullopt;
}

// SQLite's own affinity rules, for declared types written by other programs.
int TypeByAffinity(Affinity affinity) {
  switch (affinity) {
    case Affinity::kInteger: return kTypeLong;
    case Affinity::kText: return kTypeMemo;
    case Affinity::kBlob: return kTypeLongBinary;
    default: return kTypeDouble;
  }
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

// The same to 100 ns, in "YYYY-MM-DD HH:MM:SS.fffffff", for the years 1 to
// 9999.
std::string ExtendedDateFromSerial(double serial) {
  constexpr int64_t kSerialEpoch = -25569;
  constexpr int64_t kTicksPerDay = 864000000000;
  double scaled = serial * static_cast<double>(kTicksPerDay);
  if (!(std::fabs(scaled) < 9.2e18)) throw NumericOverflow();
  int64_t ticks = std::llround(scaled);
  int64_t days = ticks >= 0 ? ticks / kTicksPerDay : -((-ticks + kTicksPerDay - 1) / kTicksPerDay);
  int64_t tick_of_day = ticks - days * kTicksPerDay;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days + kSerialEpoch, &year, &month, &day);
  if (year < 1 || year > 9999) throw NumericOverflow();
  int64_t second = tick_of_day / 10000000;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%07d", static_cast<int>(year), month, day,
                static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                static_cast<int>(second % 60), static_cast<int>(tick_of_day % 10000000));
  return text;
}

// Reads a number of `min` to `max` digits at *pos.
bool ReadDigits(std::string_view text, size_t* pos, size_t min, size_t max, int* value) {
  size_t begin = *pos, end = begin;
  while (end < text.size() && end - begin < max && std::isdigit(static_cast<unsigned char>(text[end])))
    ++end;
  if (end - begin < min) return false;
  std::from_chars(text.data() + begin, text.data() + end, *value);
  *pos = end;
  return true;
}

bool ReadChar(std::string_view text, size_t* pos, char c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

struct DateParts {
  int year = 1899, month = 12, day = 30;  // a time alone is a time of day 0
  int hour = 0, minute = 0, second = 0;
  int ticks = 0;  // the second's fraction in 100 ns, its first 7 digits
};

bool ReadDay(std::string_view text, size_t* pos, DateParts* parts) {
  return ReadDigits(text, pos, 4, 4, &parts->year) && ReadChar(text, pos, '-') &&
         ReadDigits(text, pos, 1, 2, &parts->month) && ReadChar(text, pos, '-') &&
         ReadDigits(text, pos, 1, 2, &parts->day);
}

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.fff" with any number of fraction digits,
// of which the first 7 are kept (100 ns, what a Date/Time Extended holds).
bool ReadTime(std::string_view text, size_t* pos, DateParts* parts) {
  if (!ReadDigits(text, pos, 1, 2, &parts->hour) || !ReadChar(text, pos, ':') ||
      !ReadDigits(text, pos, 1, 2, &parts->minute))
    return false;
  if (!ReadChar(text, pos, ':')) return true;
  if (!ReadDigits(text, pos, 1, 2, &parts->second)) return false;
  if (!ReadChar(text, pos, '.')) return true;
  size_t fraction = *pos;
  int scale = 1000000;
  for (; *pos < text.size() && std::isdigit(static_cast<unsigned char>(text[*pos])); ++*pos, scale /= 10)
    parts->ticks += (text[*pos] - '0') * scale;
  return *pos > fraction;
}

bool ValidDate(const DateParts& p) {
  if (p.month < 1 || p.month > 12 || p.day < 1 || p.hour > 23 || p.minute > 59 || p.second > 59)
    return false;
  unsigned month = 0, day = 0;
  int64_t year = 0;
  CivilFromDays(DaysFromCivil(p.year, p.month, p.day), &year, &month, &day);
  return static_cast<int>(day) == p.day;  // 2023-02-30 and the like
}

// The shape of the engine's own form. A text of that shape needs no
// parsing: NormalizeDate would give it back as it is, or fail on it.
bool InEngineForm(std::string_view text) {
  return text.size() == 19 && text[4] == '-' && text[7] == '-' && text[10] == ' ' &&
         text[13] == ':' && text[16] == ':';
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
    if (auto date = NormalizeDate(value.AsString())) return Variant::Date(*date);
    throw ConversionError();
  }
  if (value.IsNumber() && value.kind() != Variant::Kind::kBoolean)
    return Variant::Date(DateFromSerial(value.AsDouble()));
  throw ConversionError();
}

Variant ToExtendedDate(const Variant& value) {
  if (value.kind() == Variant::Kind::kDate || value.kind() == Variant::Kind::kText) {
    if (auto date = NormalizeExtendedDate(value.AsString())) return Variant::Date(*date);
    throw ConversionError();
  }
  if (value.IsNumber() && value.kind() != Variant::Kind::kBoolean)
    return Variant::Date(ExtendedDateFromSerial(value.AsDouble()));
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

// The decimal text a number or a text stands for; nothing for other values.
std::optional<std::string> DecimalSource(const Variant& value) {
  switch (value.kind()) {
    case Variant::Kind::kBoolean:
    case Variant::Kind::kInteger: return std::to_string(value.AsInteger());
    case Variant::Kind::kDouble:
      if (!std::isfinite(value.AsDouble())) return std::nullopt;
      return NumberText(value.AsDouble());
    case Variant::Kind::kDecimal:
    case Variant::Kind::kText: return value.AsString();
    default: return std::nullopt;
  }
}

// A whole number of 64 bits: whole numbers as they are, decimals and texts
// exactly (rounded halves to even), doubles by the platform's rounding.
Variant ToBigInt(const Variant& value) {
  if (value.kind() == Variant::Kind::kInteger) return value;
  if (value.kind() == Variant::Kind::kDecimal || value.kind() == Variant::Kind::kText) {
    std::optional<std::string> text = DecimalText(value.AsString(), kMaxDecimalPrecision, 0);
    if (!text) throw ConversionError();
    int64_t number = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), number);
    if (ec != std::errc()) throw NumericOverflow();
    return Variant(number);
  }
  double rounded = std::nearbyint(NumberOf(value));
  if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)) throw NumericOverflow();
  return Variant(static_cast<int64_t>(rounded));
}

Variant ToDecimal(const Variant& value, const ColumnType& column) {
  std::optional<std::string> source = DecimalSource(value);
  std::optional<std::string> text;
  if (source) text = DecimalText(*source, column.precision, column.scale);
  if (!text) throw ConversionError();
  return Variant::Decimal(std::move(*text));
}

}  // namespace

ColumnType ParseDeclaredType(std::string_view declared) {
  if (auto column = EngineColumnType(NormalizedDeclaration(declared))) return *column;
  int type = TypeByAffinity(AffinityOf(declared));
  return {type, FixedSize(type), false};
}

std::string DeclaredType(const ColumnType& column, int version) {
  if (version < 1) throw InvalidArgument();
  int index = std::min(version, kFormatVersion) - 1;
  for (const Declarations& row : kDeclarations) {
    if (row.type != column.type || row.counter != column.counter) continue;
    if (!row.by_version[index]) break;
    std::string name = row.by_version[index];
    if (row.type == kTypeText) return name + "(" + std::to_string(column.size) + ")";
    if (row.type == kTypeDecimal)
      return name + "(" + std::to_string(column.precision) + "," + std::to_string(column.scale) + ")";
    return name;
  }
  throw InvalidFieldType();
}

std::string DeclaredTypeFor(const ColumnType& column, int version) {
  std::string declared = DeclaredType(column, version);
  // Every Text and Memo column compares without regard to letter case, in
  // SQL and in the indexes SQLite builds on it.
  return IsTextType(column.type) ? declared + " COLLATE NOCASE" : declared;
}

std::string UpgradedDeclaration(std::string_view declared) {
  std::string lower = NormalizedDeclaration(declared);
  std::optional<ColumnType> column = EngineColumnType(lower);
  if (!column) return "";
  std::string current = DeclaredType(*column);
  return NormalizedDeclaration(current) == lower ? "" : current;
}

Affinity AffinityOf(std::string_view declared) {
  std::string lower = LowerName(declared);
  auto has = [&](const char* word) { return lower.find(word) != std::string::npos; };
  if (has("int")) return Affinity::kInteger;
  if (has("char") || has("clob") || has("text")) return Affinity::kText;
  if (has("blob") || Trim(lower).empty()) return Affinity::kBlob;
  if (has("real") || has("floa") || has("doub")) return Affinity::kReal;
  return Affinity::kNumeric;
}

bool IsKnownType(int type) {
  return (type >= kTypeBoolean && type <= kTypeDate) || (type >= kTypeText && type <= kTypeMemo) ||
         type == kTypeDecimal || type == kTypeBigInt || type == kTypeDateExtended;
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
    case kTypeDate:
    case kTypeBigInt: return 8;
    case kTypeDecimal: return 16;
    case kTypeDateExtended: return 42;
    default: return 0;
  }
}

int StoredAttributes(const ColumnType& column) {
  int attributes = kFieldUpdatable | (column.type == kTypeText ? kFieldVariable : kFieldFixed);
  if (column.counter) attributes |= kFieldAutoIncrement;
  return attributes;
}

Variant ConvertForField(const Variant& value, const ColumnType& column) {
  if (value.IsNull()) return value;
  int type = column.type, size = column.size;
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
    case kTypeDecimal: return ToDecimal(value, column);
    case kTypeBigInt: return ToBigInt(value);
    case kTypeDateExtended: return ToExtendedDate(value);
    default: throw InvalidFieldType();
  }
}

namespace {

// A date, a time, or both, in one of the forms NormalizeDate takes.
std::optional<DateParts> ParseDate(std::string_view text) {
  text = Trim(text);
  DateParts parts;
  size_t pos = 0;
  bool day = ReadDay(text, &pos, &parts);
  if (!day) pos = 0;
  bool time = !day || pos < text.size();
  if (day && time && !ReadChar(text, &pos, ' ') && !ReadChar(text, &pos, 'T')) return std::nullopt;
  if (time && !ReadTime(text, &pos, &parts)) return std::nullopt;
  if (pos != text.size() || !ValidDate(parts)) return std::nullopt;
  return parts;
}

}  // namespace

std::optional<std::string> NormalizeDate(std::string_view text) {
  std::optional<DateParts> parts = ParseDate(text);
  if (!parts) return std::nullopt;
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", parts->year, parts->month,
                parts->day, parts->hour, parts->minute, parts->second);
  return std::string(out);
}

std::optional<std::string> NormalizeExtendedDate(std::string_view text) {
  std::optional<DateParts> parts = ParseDate(text);
  if (!parts || parts->year < 1) return std::nullopt;
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d.%07d", parts->year, parts->month,
                parts->day, parts->hour, parts->minute, parts->second, parts->ticks);
  return std::string(out);
}

namespace {

// A Single holds what a float holds; a client that writes a double into it
// reads back the Single it became.
double AsSingle(double number) {
  if (std::fabs(number) > std::numeric_limits<float>::max()) return number;
  return static_cast<double>(static_cast<float>(number));
}

Variant ReadInteger(int64_t number, int type) {
  switch (type) {
    case kTypeBoolean: return Variant(number != 0);
    case kTypeSingle: return Variant(AsSingle(static_cast<double>(number)));
    case kTypeCurrency:
    case kTypeDouble: return Variant(static_cast<double>(number));
    case kTypeDate: return Variant::Date(DateFromSerial(static_cast<double>(number)));
    case kTypeDateExtended: return Variant::Date(ExtendedDateFromSerial(static_cast<double>(number)));
    case kTypeText:
    case kTypeMemo: return Variant(std::to_string(number));
    default: return Variant(number);
  }
}

// A fraction that a client wrote into a whole-number field reads as the
// whole number the engine would have stored (halves to even).
Variant ReadWholeNumber(double number) {
  if (std::fabs(number) >= 9.2e18) return Variant(number);
  return Variant(static_cast<int64_t>(std::nearbyint(number)));
}

Variant ReadDouble(double number, int type) {
  switch (type) {
    case kTypeBoolean: return Variant(number != 0);
    case kTypeByte:
    case kTypeInteger:
    case kTypeLong:
    case kTypeBigInt: return ReadWholeNumber(number);
    case kTypeCurrency: return Variant(RoundCurrency(number));
    case kTypeSingle: return Variant(AsSingle(number));
    case kTypeDate: return Variant::Date(DateFromSerial(number));
    case kTypeDateExtended: return Variant::Date(ExtendedDateFromSerial(number));
    case kTypeText:
    case kTypeMemo: return Variant(NumberText(number));
    default: return Variant(number);
  }
}

std::string ValueBytes(sqlite3_value* value) {
  const void* data = sqlite3_value_blob(value);
  int length = sqlite3_value_bytes(value);
  return data ? std::string(static_cast<const char*>(data), length) : std::string();
}

// A date as the engine writes it; other forms that name a date (those of
// ODBC clients) in the engine's form; anything else as it is.
std::string DateText(std::string text) {
  if (InEngineForm(text)) return text;
  std::optional<std::string> date = NormalizeDate(text);
  if (date) return *date;
  return text;
}

// A Date/Time Extended as the engine writes it; other forms that name a
// date in that form; anything else as it is.
std::string ExtendedDateText(std::string text) {
  if (text.size() == 27 && InEngineForm(std::string_view(text).substr(0, 19)) && text[19] == '.') return text;
  std::optional<std::string> date = NormalizeExtendedDate(text);
  if (date) return *date;
  return text;
}

// A Decimal as stored: its text at the column's scale; a text that is no
// number, or too large a number for the column, as it is.
Variant ReadDecimal(std::string text, const ColumnType& column) {
  try {
    if (std::optional<std::string> decimal = DecimalText(text, column.precision, column.scale))
      return Variant::Decimal(std::move(*decimal));
  } catch (const Error&) {
    // Beyond the precision: a value a client wrote, read as it lies.
  }
  return Variant(std::move(text));
}

// The body of ReadColumn and ReadValue, which a merge calls for every column
// of two records per record.
inline Variant ReadStored(sqlite3_value* value, const ColumnType& column) {
  int type = column.type;
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL: return Variant();
    case SQLITE_INTEGER:
      if (type == kTypeDecimal) return ReadDecimal(std::to_string(sqlite3_value_int64(value)), column);
      return ReadInteger(sqlite3_value_int64(value), type);
    case SQLITE_FLOAT:
      if (type == kTypeDecimal) return ReadDecimal(NumberText(sqlite3_value_double(value)), column);
      return ReadDouble(sqlite3_value_double(value), type);
    case SQLITE_BLOB:
      if (IsTextType(type)) return Variant(ValueBytes(value));
      return Variant::Binary(ValueBytes(value));
    default: {
      const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      std::string bytes(text ? text : "", sqlite3_value_bytes(value));
      if (type == kTypeDate) return Variant::Date(DateText(std::move(bytes)));
      if (type == kTypeDateExtended) return Variant::Date(ExtendedDateText(std::move(bytes)));
      if (type == kTypeLongBinary) return Variant::Binary(std::move(bytes));
      if (type == kTypeDecimal) return ReadDecimal(std::move(bytes), column);
      return Variant(std::move(bytes));
    }
  }
}

}  // namespace

Variant ReadColumn(sqlite3_stmt* statement, int index, const ColumnType& column) {
  // One lookup of the column, then its value's own accessors.
  return ReadStored(sqlite3_column_value(statement, index), column);
}

Variant ReadValue(sqlite3_value* value, int type) {
  return ReadStored(value, ColumnType{type, FixedSize(type), false, kMaxDecimalPrecision, 0});
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
