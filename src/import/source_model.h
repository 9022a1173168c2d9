#ifndef TABSYNC_IMPORT_SOURCE_MODEL_H_
#define TABSYNC_IMPORT_SOURCE_MODEL_H_

// What the reader finds in a Jet or ACE file, in the terms of that file:
// libmdb's column type codes, the catalogue's flags, the values as stored.
// The reader (child process) fills these; the writer (parent) decides what
// becomes of them. Nothing here knows the output format.

#include <cstdint>
#include <string>
#include <vector>

namespace tabsync::import {

// Column type codes of the Jet file (libmdb's MDB_BOOL ... MDB_COMPLEX).
namespace jet {
constexpr int kBoolean = 0x01;
constexpr int kByte = 0x02;
constexpr int kInteger = 0x03;
constexpr int kLong = 0x04;
constexpr int kCurrency = 0x05;
constexpr int kSingle = 0x06;
constexpr int kDouble = 0x07;
constexpr int kDateTime = 0x08;
constexpr int kBinary = 0x09;
constexpr int kText = 0x0a;
constexpr int kOle = 0x0b;
constexpr int kMemo = 0x0c;
constexpr int kGuid = 0x0f;
constexpr int kDecimal = 0x10;
constexpr int kComplex = 0x12;
constexpr int kBigInt = 0x13;
constexpr int kDateTimeExtended = 0x14;

// MSysObjects Flags bits.
constexpr uint32_t kFlagHidden = 0x8;
constexpr uint32_t kFlagSystemMask = 0x80000002u;
}  // namespace jet

// What a complex column (jet::kComplex) holds.
enum class ComplexKind : uint8_t {
  kNone = 0,
  kAttachments = 1,
  kMultipleValues = 2,
  kVersionHistory = 3,  // the earlier values of an append-only Memo
  kUnknown = 4,
};

struct SourceColumn {
  std::string name;
  int type = 0;          // jet::k...; a calculated column: the type of its result
  int size = 0;          // Text: characters; others: bytes as stored
  int precision = 0;     // Decimal only
  int scale = 0;         // Decimal only
  bool auto_number = false;
  bool required = false;
  bool calculated = false;
  std::string expression;  // a calculated column's expression, as the file gives it
  ComplexKind complex = ComplexKind::kNone;
  // Attachments and multiple values: the table that the reader makes of
  // them (empty when it cannot: the table has no primary key). Version
  // history: the Memo column whose history it is.
  std::string detail;
};

struct SourceIndex {
  std::string name;
  bool primary = false;
  bool foreign_key = false;  // kept by the file for a relationship
  bool unique = false;
  std::vector<int> columns;  // positions in SourceTable::columns
};

struct SourceTable {
  std::string name;
  uint32_t flags = 0;  // MSysObjects Flags
  std::vector<SourceColumn> columns;
  std::vector<SourceIndex> indexes;
};

// A catalogue row of a linked table: Type 6 (another Jet file, `database`
// holds its path) or Type 4 (ODBC, `connect` may hold a password).
struct SourceLink {
  std::string name;
  int type = 0;
  uint32_t flags = 0;
  std::string database;
  std::string connect;
  std::string foreign_name;
};

// A catalogue object that is not converted (query, form, relationship...).
struct SourceObject {
  std::string kind;  // "query", "form", ...
  std::string name;
};

enum class ValueKind : uint8_t {
  kNull = 0,
  kInteger = 1,      // Boolean (1/0), Byte, Integer, Long, Large Number
  kCurrency = 2,     // the stored 64-bit count of 1/10000
  kDouble = 3,       // Single (widened exactly) and Double
  kDate = 4,         // the stored day number with the time as its fraction
  kText = 5,         // UTF-8
  kBinary = 6,
  kDecimal = 7,      // the exact decimal text, "-12.3400"
  kUndecodable = 8,  // text that libmdb could not decode (it gave "?")
  kExtendedDate = 9, // "YYYY-MM-DD HH:MM:SS.fffffff", from a Date/Time Extended
};

struct SourceValue {
  ValueKind kind = ValueKind::kNull;
  int64_t integer = 0;
  double number = 0;
  std::string bytes;
};

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_SOURCE_MODEL_H_
