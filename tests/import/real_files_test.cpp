// tabsync-import on the real files of tests/import/data, checked against
// what mdbtools' own programs (mdb-export, mdb-schema: an independent
// reader) say about the same files.

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cmath>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "dbengine/dao.h"
#include "dbengine/field_types.h"
#include "dbengine/names.h"
#include "dbengine/sqlite_engine.h"
#include "import/run_command.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync {
namespace {

using test::CommandResult;
using test::ImportData;
using test::RunCommand;

using Row = std::vector<std::string>;

constexpr const char* kDateFormat = "%Y-%m-%d %H:%M:%S";

// A real file and the options it converts with.
struct RealFile {
  const char* name;
  std::vector<std::string> options;
};

// The files whose every table converts.
const RealFile kConvertible[] = {
    {"testV1997.mdb", {}}, {"testV2000.mdb", {}}, {"testUnicodeCompV2003.mdb", {}},
    {"linkerTestV2007.accdb", {}}, {"odbcLinkerTestV2007.accdb", {}}, {"aliasNaming.accdb", {}},
    {"corrupted.accdb", {}}, {"testAccess2.accdb", {}}, {"testIndexPropertiesV2000.mdb", {}},
    {"testIndexCodes.mdb", {}}, {"MsAccessBulkUpdate.accdb", {}},
    {"MsAccessSchema.accdb", {}}, {"empty2019.accdb", {}},
    {"V2000_with-password.mdb", {"--password", "password"}},
    {"fixedNumericTestV2003.mdb", {}}, {"bigint.accdb", {}}};
// The files whose indexes libmdb (and so mdb-schema) reads as the file
// defines them.
constexpr const char* kMdbSchemaAgrees[] = {"testV1997.mdb", "testV2000.mdb", "testUnicodeCompV2003.mdb",
                                            "linkerTestV2007.accdb", "odbcLinkerTestV2007.accdb"};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string Unescape(const std::string& text) {
  static const std::map<char, char> kEscapes = {{'n', '\n'}, {'t', '\t'}, {'r', '\r'}, {'\\', '\\'}};
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    auto escape = i + 1 < text.size() && text[i] == '\\' ? kEscapes.find(text[i + 1]) : kEscapes.end();
    if (escape != kEscapes.end()) {
      out += escape->second;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// mdb-export's CSV (-e: invisible characters escaped, so one record a line).
std::vector<Row> ParseCsv(const std::string& csv) {
  std::vector<Row> rows;
  for (const std::string& line : Lines(csv)) {
    Row row(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      char c = line[i];
      if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        row.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = !quoted;
      } else if (c == ',' && !quoted) {
        row.emplace_back();
      } else {
        row.back() += c;
      }
    }
    for (std::string& field : row) field = Unescape(field);
    rows.push_back(row);
  }
  return rows;
}

// mdb-export's rows of the table, the column names first.
std::vector<Row> MdbExport(const std::string& file, const std::string& table) {
  CommandResult result = RunCommand({MDB_EXPORT, "-e", "-b", "hex", "-D", kDateFormat, "-T",
                                     kDateFormat, file, table});
  EXPECT_EQ(0, result.status) << result.err;
  return ParseCsv(result.out);
}

std::vector<std::string> UserTables(const std::string& file) {
  return Lines(RunCommand({MDB_TABLES, "-1", file}).out);
}

struct Column {
  std::string name;
  dao::ColumnType type;
  bool not_null = false;
  int key_position = 0;
};

// The file's columns and records with plain SQLite; each value as text in
// mdb-export's terms, numbers kept for the comparison.
class Output {
 public:
  explicit Output(const std::string& path) { sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr); }
  ~Output() { sqlite3_close(db_); }

  std::vector<Column> Columns(const std::string& table) {
    std::vector<Column> columns;
    Query("SELECT name, type, \"notnull\", pk FROM pragma_table_info('" + table + "')", [&](sqlite3_stmt* s) {
      columns.push_back({Text(s, 0), dao::ParseDeclaredType(Text(s, 1)), sqlite3_column_int(s, 2) != 0,
                         sqlite3_column_int(s, 3)});
    });
    return columns;
  }

  // "UNIQUE a,b" per index other than the primary key's.
  std::set<std::string> Indexes(const std::string& table) {
    std::set<std::string> indexes;
    std::vector<std::pair<std::string, bool>> names;
    Query("SELECT name, \"unique\" FROM pragma_index_list('" + table + "') WHERE origin = 'c'",
          [&](sqlite3_stmt* s) { names.push_back({Text(s, 0), sqlite3_column_int(s, 1) != 0}); });
    for (const auto& [name, unique] : names) {
      std::string columns;
      Query("SELECT name FROM pragma_index_info('" + name + "') ORDER BY seqno",
            [&](sqlite3_stmt* s) { columns += (columns.empty() ? "" : ",") + dao::LowerName(Text(s, 0)); });
      indexes.insert(std::string(unique ? "UNIQUE " : "") + columns);
    }
    return indexes;
  }

  // Calls `row` with each record's statement, in the order of insertion.
  void ForEachRow(const std::string& table, const std::function<void(sqlite3_stmt*)>& row) {
    Query("SELECT * FROM " + dao::QuoteName(table) + " ORDER BY rowid", row);
  }

 private:
  static std::string Text(sqlite3_stmt* s, int i) {
    const unsigned char* text = sqlite3_column_text(s, i);
    return text ? reinterpret_cast<const char*>(text) : "";
  }
  void Query(const std::string& sql, const std::function<void(sqlite3_stmt*)>& row) {
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr)) << sql;
    while (sqlite3_step(statement) == SQLITE_ROW) row(statement);
    sqlite3_finalize(statement);
  }

  sqlite3* db_ = nullptr;
};

std::string Hex(const void* data, int size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (int i = 0; i < size; ++i) {
    unsigned char byte = static_cast<const unsigned char*>(data)[i];
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

// Compares one stored value with mdb-export's text of it. mdb-export prints
// Null and an empty text alike, so both compare as "".
void ExpectSameValue(const std::string& exported, sqlite3_value* value, const Column& column,
                     const std::string& where) {
  // mdb-export's text for a date it cannot print (before 1900), and for a
  // Large Number, which it does not know; such values are checked against
  // the bytes the file stores below.
  if (column.type.type == dao::kTypeDate && exported == "1900-01-00 00:00:00") return;
  if (column.type.type == dao::kTypeBigInt && exported.empty()) return;
  int kind = sqlite3_value_type(value);
  switch (column.type.type) {
    case dao::kTypeSingle:
    case dao::kTypeDouble:
    case dao::kTypeCurrency: {
      if (kind == SQLITE_NULL) {
        EXPECT_EQ("", exported) << where;
        return;
      }
      double expected = std::strtod(exported.c_str(), nullptr);
      double tolerance = column.type.type == dao::kTypeSingle ? 1e-7 : 1e-15;
      EXPECT_NEAR(expected, sqlite3_value_double(value), tolerance * std::max(1.0, std::fabs(expected))) << where;
      return;
    }
    case dao::kTypeLongBinary:
      EXPECT_EQ(dao::LowerName(exported), dao::LowerName(Hex(sqlite3_value_blob(value), sqlite3_value_bytes(value))))
          << where;
      return;
    default: {
      const unsigned char* text = sqlite3_value_text(value);
      // With -b hex, mdb-export prints a GUID as the hex digits of its text,
      // which libmdb 1.0 writes without the fourth dash.
      std::string expected = exported;
      if (column.type.size == 38 && expected.size() == 74) {
        expected.clear();
        for (size_t i = 0; i < exported.size(); i += 2) expected += static_cast<char>(std::stoi(exported.substr(i, 2), nullptr, 16));
        expected.insert(24, "-");
      }
      EXPECT_EQ(expected, text ? reinterpret_cast<const char*>(text) : "") << where;
    }
  }
}

class ImportedFile : public ::testing::Test {
 protected:
  std::string Convert(const RealFile& file) { return Convert(file.name, file.options); }
  std::string Convert(const std::string& file, const std::vector<std::string>& options = {}) {
    std::string output = dir_.File(file + ".db");
    std::vector<std::string> arguments = options;
    arguments.push_back(ImportData(file));
    arguments.push_back(output);
    CommandResult result = test::RunImport(arguments);
    EXPECT_EQ(0, result.status) << file << ": " << result.err;
    last_ = result;
    return output;
  }

  test::TempDir dir_;
  CommandResult last_;
};

TEST_F(ImportedFile, EveryTableHoldsTheValuesMdbExportPrints) {
  for (const RealFile& file : kConvertible) {
    Output output(Convert(file));
    for (const std::string& table : UserTables(ImportData(file.name))) {
      std::string where = std::string(file.name) + " " + table;
      std::vector<Row> expected = MdbExport(ImportData(file.name), table);
      ASSERT_FALSE(expected.empty()) << where;
      std::vector<Column> columns = output.Columns(table);
      std::vector<size_t> exported;  // each output column's place in mdb-export's rows
      for (const Column& column : columns) {
        auto found = std::find(expected[0].begin(), expected[0].end(), column.name);
        ASSERT_NE(expected[0].end(), found) << where << "." << column.name;
        exported.push_back(found - expected[0].begin());
      }
      size_t r = 1;
      output.ForEachRow(table, [&](sqlite3_stmt* row) {
        ASSERT_LT(r, expected.size()) << where;
        ASSERT_EQ(expected[0].size(), expected[r].size()) << where;
        for (size_t c = 0; c < columns.size(); ++c)
          ExpectSameValue(expected[r][exported[c]], sqlite3_column_value(row, static_cast<int>(c)), columns[c],
                          where + "." + columns[c].name + " record " + std::to_string(r));
        ++r;
      });
      EXPECT_EQ(expected.size(), r) << where;
      EXPECT_NE(std::string::npos, last_.out.find("table '" + table + "': " + std::to_string(r - 1) + " records"));
    }
  }
}

// mdb-schema's name of a Jet type, as the format's type code and size.
dao::ColumnType FromMdbSchema(const std::string& type) {
  std::smatch match;
  if (std::regex_match(type, match, std::regex(R"(Text \((\d+)\))"))) return {dao::kTypeText, std::stoi(match[1]), false};
  static const std::map<std::string, int> kTypes = {
      {"Boolean", dao::kTypeBoolean}, {"Byte", dao::kTypeByte},         {"Integer", dao::kTypeInteger},
      {"Long Integer", dao::kTypeLong}, {"Currency", dao::kTypeCurrency}, {"Single", dao::kTypeSingle},
      {"Double", dao::kTypeDouble},   {"DateTime", dao::kTypeDate},     {"Memo/Hyperlink (255)", dao::kTypeMemo},
      {"OLE (255)", dao::kTypeLongBinary}};
  if (type == "Replication ID") return {dao::kTypeText, 38, false};
  auto found = kTypes.find(type);
  EXPECT_NE(kTypes.end(), found) << type;
  return {found == kTypes.end() ? 0 : found->second, 0, false};
}

std::string SchemaOf(const std::string& file, const std::string& table, const char* backend) {
  std::vector<std::string> argv = {MDB_SCHEMA, "-T", table, file};
  if (backend) argv.push_back(backend);
  return RunCommand(argv).out;
}

TEST_F(ImportedFile, ColumnsKeysAndIndexesAreThoseMdbSchemaPrints) {
  const std::regex column_line(R"(^\t\[(.+)\]\t+(.+?)( NOT NULL)?,? ?$)");
  for (const char* file : kMdbSchemaAgrees) {
    Output output(Convert(file));
    for (const std::string& table : UserTables(ImportData(file))) {
      std::string where = std::string(file) + " " + table;
      std::vector<Column> columns = output.Columns(table);
      std::vector<Column> expected;
      for (const std::string& line : Lines(SchemaOf(ImportData(file), table, nullptr))) {
        std::smatch match;
        if (std::regex_match(line, match, column_line))
          expected.push_back({match[1], FromMdbSchema(match[2]), match[3].matched, 0});
      }
      ASSERT_EQ(expected.size(), columns.size()) << where;
      for (size_t i = 0; i < columns.size(); ++i) {
        EXPECT_EQ(expected[i].name, columns[i].name) << where;
        EXPECT_EQ(expected[i].type.type, columns[i].type.type) << where << "." << columns[i].name;
        if (expected[i].type.type == dao::kTypeText) {
          EXPECT_EQ(expected[i].type.size, columns[i].type.size) << where;
        }
        EXPECT_EQ(expected[i].not_null, columns[i].not_null) << where << "." << columns[i].name;
      }
      // Keys and indexes from the PostgreSQL form, which prints them (with
      // names in lower case).
      std::string postgres = SchemaOf(ImportData(file), table, "postgres");
      std::string key, serial;
      std::set<std::string> indexes;
      std::smatch match;
      for (auto it = postgres.cbegin();
           std::regex_search(it, postgres.cend(), match, std::regex(R"(PRIMARY KEY \(([^)]*)\))")); it = match[0].second)
        key = match[1];
      for (auto it = postgres.cbegin();
           std::regex_search(it, postgres.cend(), match, std::regex(R"(CREATE (UNIQUE )?INDEX "[^"]*" ON "[^"]*" \(([^)]*)\))"));
           it = match[0].second)
        indexes.insert(std::regex_replace(std::string(match[1]) + std::string(match[2]), std::regex(R"(\"| )"), ""));
      for (auto it = postgres.cbegin(); std::regex_search(it, postgres.cend(), match, std::regex(R"x(\t"([^"]+)"\t+SERIAL)x"));
           it = match[0].second)
        serial += std::string(match[1]) + ",";
      std::string our_key, our_serial;
      for (int position = 1; position <= static_cast<int>(columns.size()); ++position)
        for (const Column& column : columns)
          if (column.key_position == position) our_key += (our_key.empty() ? "" : ",") + dao::LowerName(column.name);
      for (const Column& column : columns)
        if (column.type.counter) our_serial += dao::LowerName(column.name) + ",";
      EXPECT_EQ(std::regex_replace(key, std::regex(R"(\"| )"), ""), our_key) << where;
      EXPECT_EQ(serial, our_serial) << where;
      std::set<std::string> ours;
      for (const std::string& index : output.Indexes(table))
        ours.insert(std::regex_replace(index, std::regex("UNIQUE "), "UNIQUE"));
      EXPECT_EQ(indexes, ours) << where;
    }
  }
}

// Keys and indexes as the file's own definition pages give them: each
// logical index entry with the columns of the physical definition it names
// (read with an independent reader of the pages). libmdb matches them by
// position and mdb-schema prints what it makes of them.
TEST_F(ImportedFile, KeysAndIndexesAreThoseTheFileDefines) {
  struct Case {
    RealFile file;
    const char* table;
    const char* key;
    std::set<std::string> indexes;
  };
  const Case cases[] = {
      {{"testAccess2.accdb", {}}, "Table1", "id", {"numberfield"}},
      {{"testAccess2.accdb", {}}, "Table2", "id", {}},
      {{"testIndexPropertiesV2000.mdb", {}}, "TableIgnoreNulls1_temp", "row", {"data"}},
      {{"testIndexPropertiesV2000.mdb", {}}, "TableIgnoreNulls2", "row", {"data1,data2"}},
      {{"testIndexPropertiesV2000.mdb", {}}, "TableUnique2_temp", "row", {"UNIQUE data1,data2"}},
      // The key's physical definition comes first, its logical entry last.
      {{"testIndexCodes.mdb", {}}, "Table1_desc", "name", {"data"}},
      // Columns numbered 0 and 3, and 1 to 3: deleted columns before them.
      {{"testIndexCodes.mdb", {}}, "Table3", "name", {"data"}},
      {{"testIndexCodes.mdb", {}}, "Table12", "row", {"data1,data2"}},
      // Unique in the file, but its records break it: a plain index.
      {{"corrupted.accdb", {}}, "UK", "id", {"uk"}},
      {{"MsAccessSchema.accdb", {}}, "IndexesTest", "id",
       {"colindex1,colindex2desc,colindex3", "UNIQUE coluniqueindex"}},
      {{"MsAccessBulkUpdate.accdb", {}}, "BulkUpdateTestCompositePK", "id1,id2", {}},
  };
  std::map<std::string, std::string> converted;
  for (const Case& c : cases) {
    if (!converted.count(c.file.name)) converted[c.file.name] = Convert(c.file);
    Output output(converted[c.file.name]);
    std::vector<Column> columns = output.Columns(c.table);
    std::string key;
    for (int position = 1; position <= static_cast<int>(columns.size()); ++position)
      for (const Column& column : columns)
        if (column.key_position == position) key += (key.empty() ? "" : ",") + dao::LowerName(column.name);
    EXPECT_EQ(c.key, key) << c.file.name << " " << c.table;
    EXPECT_EQ(c.indexes, output.Indexes(c.table)) << c.file.name << " " << c.table;
  }
}

std::string Utf8(unsigned code_point) {
  std::string text;
  if (code_point < 0x10000) return "";  // the file's characters are all beyond
  text += static_cast<char>(0xf0 | (code_point >> 18));
  text += static_cast<char>(0x80 | ((code_point >> 12) & 0x3f));
  text += static_cast<char>(0x80 | ((code_point >> 6) & 0x3f));
  text += static_cast<char>(0x80 | (code_point & 0x3f));
  return text;
}

std::string StoredDouble(double value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

// What mdb-export cannot print, against what the file stores: dates before
// 1900 (it prints 1900-01-00), characters beyond the Basic Multilingual
// Plane (it writes "?"), a GUID's fourth dash.
TEST_F(ImportedFile, ValuesMdbExportCannotPrintAreThoseTheFileStores) {
  std::string codes = Convert("testIndexCodes.mdb");
  std::string stored = test::ReadFileBytes(ImportData("testIndexCodes.mdb"));
  const std::tuple<double, const char*, const char*> dates[] = {
      {-23.0, "row3", "1899-12-07 00:00:00"},        {-34534.0, "row4", "1805-06-12 00:00:00"},
      {-84533.0, "row8", "1668-07-20 00:00:00"},     {0.000345134, "row9", "1899-12-30 00:00:30"},
      {-0.00035134, "row10", "1899-12-30 00:00:30"}, {-94.430034345, "row14", "1899-09-27 10:19:15"},
      {-1.1, "row19", "1899-12-29 02:24:00"}};
  for (const auto& [number, record, text] : dates) {
    EXPECT_NE(std::string::npos, stored.find(StoredDouble(number))) << record;
    EXPECT_EQ(std::string(text) + "\n", test::QuerySql(codes, std::string("SELECT data FROM Table6 WHERE name = '") + record + "'"));
  }

  // Each record of testEmoticonsV2010 holds "a", the character whose code
  // point is its key, "a"; stored as a surrogate pair.
  Output emoticons(Convert("testEmoticonsV2010.accdb"));
  int records = 0;
  emoticons.ForEachRow("data", [&](sqlite3_stmt* row) {
    unsigned key = static_cast<unsigned>(sqlite3_column_int64(row, 0));
    EXPECT_EQ("a" + Utf8(key) + "a", reinterpret_cast<const char*>(sqlite3_column_text(row, 1))) << key;
    ++records;
  });
  EXPECT_EQ(80, records);

  // A GUID; a Decimal (sign, then four 32-bit words, the most significant
  // first); a calculated Decimal (scale 28, sign, high 32 and low 64 bits);
  // a Large Number.
  const std::tuple<const char*, std::string, const char*, const char*> values[] = {
      {"MsAccessBulkUpdate.accdb", "\xAB\xEF\xCD\xAB\x34\x12\x78\x56\x91\x23\xAB\xCD\xEF\xAB\xCD\xEF",
       "SELECT ColGuid FROM BulkUpdateTest WHERE Id = 3", "{ABCDEFAB-1234-5678-9123-ABCDEFABCDEF}"},
      {"calcFieldTestV2010.accdb", std::string("\0\0\0\0\0\0\0\0\0\x1c\x7c\x6a\x01\xf1\xf4\xed\xe1", 17),
       "SELECT Popularity FROM Table1 WHERE ID = 4", "102030405060.654321"},
      {"calcFieldTestV2010.accdb", std::string("\x0e\0\x1c\x80\xfe\x1d\x89\x02\xcc\x7b\x3b\x5a\xd0\x9f\x19\x71", 16),
       "SELECT BigNumTest FROM Table1 WHERE ID = 2", "-0.0784734499180612994241100748"},
      {"bigint.accdb", std::string("\x2a\0\0\0\0\0\0\0", 8), "SELECT Numeric FROM [Table] WHERE ID = 1", "42"},
  };
  std::map<std::string, std::string> converted;
  for (const auto& [file, bytes, query, text] : values) {
    if (!converted.count(file)) converted[file] = Convert(file);
    EXPECT_NE(std::string::npos, test::ReadFileBytes(ImportData(file)).find(bytes)) << query;
    EXPECT_EQ(std::string(text) + "\n", test::QuerySql(converted[file], query));
  }
}

}  // namespace
}  // namespace tabsync
