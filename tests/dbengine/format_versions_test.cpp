// The format versions: the declared type of each field type in each version,
// what the engine reads back and stores, what the SQLite3 ODBC driver makes
// of the current declarations, and the upgrade of a file of version 1.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "dbengine/dao.h"
#include "dbengine/sqlite_engine.h"
#include "dbengine/sqlite_format.h"
#include "support/odbc_client.h"
#include "support/raised_error.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::dao {
namespace {

using test::ExecSql;
using test::QuerySql;

// One column of each field type, with the declarations of both versions, a
// value written through the engine, how SQLite stores it, and how the driver
// describes the current declaration and hands the value over.
struct FieldTypeCase {
  const char* name;
  int type;
  int size;
  bool counter;
  const char* version1;  // nullptr: a type that version 1 cannot hold
  const char* version2;
  int attributes;
  Variant value;
  const char* stored;  // typeof()
  int sql_type;
  long column_size;  // as SQLDescribeCol gives it
  const char* c_type;
  const char* fetched;
};

const std::vector<FieldTypeCase>& Cases() {
  static const std::vector<FieldTypeCase> cases = {
      {"B", kTypeBoolean, 1, false, "BIT", "BIT", 33, Variant(true), "integer", SQL_BIT, 1,
       "SQL_C_BIT", "1"},
      {"Y", kTypeByte, 1, false, "BYTE", "TINYINT UNSIGNED BYTE", 33, Variant(200), "integer",
       SQL_TINYINT, 4, "SQL_C_UTINYINT", "200"},
      {"I", kTypeInteger, 2, false, "SHORT", "SMALLINT SHORT", 33, Variant(-300), "integer",
       SQL_SMALLINT, 6, "SQL_C_SSHORT", "-300"},
      {"L", kTypeLong, 4, false, "LONG", "INTEGER LONG", 33, Variant(70000), "integer",
       SQL_INTEGER, 10, "SQL_C_SLONG", "70000"},
      {"N", kTypeLong, 4, true, "COUNTER", "INTEGER COUNTER", 49, Variant(7), "integer",
       SQL_INTEGER, 10, "SQL_C_SLONG", "7"},
      {"C", kTypeCurrency, 8, false, "CURRENCY", "NUMERIC CURRENCY", 33, Variant(12.3457), "real",
       SQL_DOUBLE, 54, "SQL_C_DOUBLE", "12.3457"},
      {"S", kTypeSingle, 4, false, "SINGLE", "NUMERIC SINGLE", 33, Variant(1.5), "real",
       SQL_DOUBLE, 54, "SQL_C_DOUBLE", "1.5"},
      {"D", kTypeDouble, 8, false, "DOUBLE", "DOUBLE", 33, Variant(0.1), "real", SQL_DOUBLE, 54,
       "SQL_C_DOUBLE", "0.1"},
      {"T", kTypeDate, 8, false, "DATETIME", "DATETIME", 33, Variant::Date("2024-03-01 10:20:30"),
       "text", SQL_TYPE_TIMESTAMP, 32, "SQL_C_TYPE_TIMESTAMP", "2024-03-01 10:20:30.000000000"},
      {"X", kTypeText, 50, false, "TEXT(50)", "VARCHAR TEXT(50)", 34, Variant("Miller"), "text",
       SQL_VARCHAR, 50, "SQL_C_CHAR", "Miller"},
      {"O", kTypeLongBinary, 0, false, "LONGBINARY", "LONGVARBINARY LONGBINARY", 33,
       Variant::Binary(std::string("\x00\xFF\x10", 3)), "blob", SQL_LONGVARBINARY, 65536,
       "SQL_C_BINARY", "00FF10"},
      {"M", kTypeMemo, 0, false, "MEMO TEXT", "MEMO TEXT", 33, Variant("007"), "text",
       SQL_LONGVARCHAR, 65536, "SQL_C_CHAR", "007"},
      // The driver knows no exact numeric type: the exact text, as a VARCHAR.
      {"P", kTypeDecimal, 16, false, nullptr, "VARCHAR DECIMAL(18,4)", 33,
       Variant::Decimal("-12345678901234.5678"), "text", SQL_VARCHAR, 18, "SQL_C_CHAR",
       "-12345678901234.5678"},
      // 2^53 + 1, which no double holds.
      {"G", kTypeBigInt, 8, false, nullptr, "BIGINT LARGENUMBER", 33,
       Variant(int64_t{9007199254740993}), "integer", SQL_BIGINT, 20, "SQL_C_SBIGINT",
       "9007199254740993"},
      {"E", kTypeDateExtended, 42, false, nullptr, "DATETIME EXTENDED", 33,
       Variant::Date("2024-03-01 10:20:30.1234567"), "text", SQL_TYPE_TIMESTAMP, 32,
       "SQL_C_TYPE_TIMESTAMP", "2024-03-01 10:20:30.123456700"},
  };
  return cases;
}

class FormatVersionsTest : public ::testing::Test {
 protected:
  static bool Holds(int version, const FieldTypeCase& c) { return version > 1 || c.version1; }

  // A file of `version` with table T (one column per case) holding the
  // cases' values, written through the engine.
  std::string WriteAllTypes(int version) {
    std::string path = dir_.File("v" + std::to_string(version) + ".mdb");
    std::unique_ptr<Database> db = engine_->CreateDatabase(path, version);
    std::shared_ptr<TableDef> table = db->CreateTableDef("T");
    for (const FieldTypeCase& c : Cases()) {
      if (!Holds(version, c)) continue;
      std::shared_ptr<Field> field = table->CreateField(c.name, c.type, c.size, 18, 4);
      if (c.counter) field->SetAttributes(field->Attributes() | kFieldAutoIncrement);
      table->Fields().Append(field);
    }
    db->TableDefs().Append(table);
    std::unique_ptr<Recordset> records = db->OpenRecordset("SELECT * FROM T");
    records->AddNew();
    for (const FieldTypeCase& c : Cases())
      if (Holds(version, c)) records->Fields().Item(c.name).SetValue(c.value);
    records->Update();
    records->Close();
    db->Close();
    return path;
  }

  test::TempDir dir_;
  std::unique_ptr<DatabaseEngine> engine_ = NewSqliteEngine();
};

TEST_F(FormatVersionsTest, EachFieldTypeIsDeclaredAsItsVersionSaysAndReadsBackTheSame) {
  for (int version : {kFirstFormatVersion, kFormatVersion}) {
    std::string path = WriteAllTypes(version);
    std::unique_ptr<Database> db = engine_->OpenDatabase(path);
    EXPECT_EQ(version, db->FormatVersion());
    std::unique_ptr<Recordset> records = db->OpenRecordset("SELECT * FROM T");
    for (const FieldTypeCase& c : Cases()) {
      if (!Holds(version, c)) continue;
      SCOPED_TRACE(std::string(c.name) + " in version " + std::to_string(version));
      std::string column = std::string("'") + c.name + "'";
      EXPECT_EQ(std::string(version == 1 ? c.version1 : c.version2) + "\n",
                QuerySql(path, "SELECT type FROM pragma_table_info('T') WHERE name = " + column));
      Field& field = db->TableDefs().Item("T").Fields().Item(c.name);
      EXPECT_EQ(c.type, field.Type());
      EXPECT_EQ(c.size, field.Size());
      EXPECT_EQ(c.attributes, field.Attributes());
      EXPECT_EQ(c.value, records->Fields().Item(c.name).Value());
      EXPECT_EQ(std::string(c.stored) + "\n",
                QuerySql(path, std::string("SELECT typeof(") + c.name + ") FROM T"));
    }
    records->Close();
    db->Close();
    EXPECT_EQ(version == 1 ? "0\n" : "2\n", QuerySql(path, "PRAGMA user_version"));
  }
}

TEST_F(FormatVersionsTest, TheOdbcDriverReportsEachFieldTypesSqlTypeAndSizeAndHandsItsValueOver) {
  test::OdbcClient client("Driver=SQLite3;Database=" + WriteAllTypes(kFormatVersion));
  std::vector<test::OdbcClient::Column> columns = client.Columns("T");
  test::OdbcClient::Result result = client.Query("SELECT * FROM T");
  ASSERT_EQ(Cases().size(), columns.size());
  ASSERT_EQ(1u, result.rows.size());
  for (size_t i = 0; i < Cases().size(); ++i) {
    const FieldTypeCase& c = Cases()[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.sql_type, columns[i].sql_type);
    EXPECT_EQ(c.sql_type, result.columns[i].sql_type);
    EXPECT_EQ(c.column_size, result.columns[i].size);
    EXPECT_EQ(c.c_type, result.rows[0][i].c_type);
    EXPECT_EQ(c.fetched, result.rows[0][i].text);
  }
}

// What applications bind: a date-time with a fraction of a second, a decimal
// number, a Boolean, bytes, a double into a Single.
TEST_F(FormatVersionsTest, ValuesAnOdbcClientWritesReadBackAsTheirFieldTypes) {
  std::string path = WriteAllTypes(kFormatVersion);
  {
    test::OdbcClient client("Driver=SQLite3;Database=" + path);
    client.Execute("UPDATE T SET T = ?, C = ?, B = ?, O = ?, S = ?, P = ?, E = ?",
                   {test::OdbcClient::Timestamp(2026, 3, 1, 9, 30, 0, 500000000),
                    test::OdbcClient::Decimal("12.34567"), test::OdbcClient::Bit(false),
                    test::OdbcClient::Binary(std::string("\x01\x00\x02", 3)),
                    test::OdbcClient::Double(0.1), test::OdbcClient::Decimal("12.34565"),
                    test::OdbcClient::Timestamp(2026, 3, 1, 9, 30, 0, 500000000)});
  }
  EXPECT_EQ("'2026-03-01 09:30:00.500'|12.34567|0|X'010002'|0.1|'12.34565'|'2026-03-01 09:30:00.500'\n",
            QuerySql(path, "SELECT quote(T), C, B, quote(O), S, quote(P), quote(E) FROM T"));
  std::unique_ptr<Database> db = engine_->OpenDatabase(path);
  std::unique_ptr<Recordset> records = db->OpenRecordset("SELECT * FROM T");
  Collection<Field>& fields = records->Fields();
  EXPECT_EQ(Variant::Date("2026-03-01 09:30:00"), fields.Item("T").Value());
  EXPECT_EQ(Variant(12.3457), fields.Item("C").Value());
  EXPECT_EQ(Variant(false), fields.Item("B").Value());
  EXPECT_EQ(Variant::Binary(std::string("\x01\x00\x02", 3)), fields.Item("O").Value());
  EXPECT_EQ(Variant(static_cast<double>(0.1f)), fields.Item("S").Value());
  EXPECT_EQ(Variant::Decimal("12.3456"), fields.Item("P").Value());  // halves to even
  EXPECT_EQ(Variant::Date("2026-03-01 09:30:00.5000000"), fields.Item("E").Value());
}

// --- The upgrade -------------------------------------------------------------

// Everything the engine reads of a database, as text: each table's
// attributes, link, fields, indexes and records.
std::vector<std::string> EngineDump(DatabaseEngine& engine, const std::string& path,
                                    const std::string& skipped = "") {
  std::unique_ptr<Database> db = engine.OpenDatabase(path, 0, true);
  std::vector<std::string> dump;
  for (int t = 0; t < db->TableDefs().Count(); ++t) {
    TableDef& table = db->TableDefs().Item(t);
    if (table.Name() == skipped) continue;
    dump.push_back(table.Name() + " " + std::to_string(table.Attributes()) + " " +
                   table.Connect() + " " + table.SourceTableName());
    for (int f = 0; f < table.Fields().Count(); ++f) {
      Field& field = table.Fields().Item(f);
      dump.push_back(" " + field.Name() + " " + std::to_string(field.Type()) + " " +
                     std::to_string(field.Size()) + " " + std::to_string(field.Attributes()));
    }
    for (int i = 0; !table.Connect().size() && i < table.Indexes().Count(); ++i) {
      Index& index = table.Indexes().Item(i);
      std::string line = " index " + index.Name() + (index.Primary() ? " primary" : "") +
                         (index.Unique() ? " unique" : "");
      for (int f = 0; f < index.Fields().Count(); ++f) line += " " + index.Fields().Item(f).Name();
      dump.push_back(line);
    }
    if (!table.Connect().empty()) continue;
    std::unique_ptr<Recordset> records =
        db->OpenRecordset("SELECT * FROM [" + table.Name() + "]", kSnapshot, kReadOnlyOption);
    for (; !records->Eof(); records->MoveNext()) {
      std::string row = " |";
      for (int f = 0; f < records->Fields().Count(); ++f)
        row += records->Fields().Item(f).Value().ToText() + "|";
      dump.push_back(row);
    }
  }
  db->Close();
  return dump;
}

// A version 1 file as the previous version of the engine wrote it and as a
// hand may have: every declaration of version 1, a composite key, indexes, a
// hidden table and a link in the catalogue, Memos declared MEMO alone whose
// texts SQLite stored as numbers (one of them a key), and a statement written
// with comments, quoted names and a default that looks like a list.
class UpgradeTest : public FormatVersionsTest {
 protected:
  void SetUp() override {
    path_ = WriteAllTypes(kFirstFormatVersion);
    std::unique_ptr<Database> db = engine_->OpenDatabase(path_, kOpenExclusive);
    AppendHiddenTable(*db);
    db->TableDefs().Append(db->CreateTableDef("Link", 0, "T", ";DATABASE=" + path_));
    db->Close();
    ExecSql(path_,
            "CREATE TABLE \"Order Lines\" ( -- a comment, (with a comma)\n"
            "  \"Order\" LONG NOT NULL, [Line No] SHORT, Note TEXT (20) COLLATE NOCASE"
            "  DEFAULT '(a, b)', Old MEMO COLLATE NOCASE, Size Text,"
            "  /* LONG */ PRIMARY KEY (\"Order\", [Line No]));"
            "CREATE UNIQUE INDEX ByNote ON \"Order Lines\" (Note DESC, \"Order\");"
            "CREATE INDEX ByOld ON \"Order Lines\" (Old);"
            "INSERT INTO \"Order Lines\" VALUES (1, 1, 'Miller', '00012', 'x'),"
            " (1, 2, 'schmidt', ' 12.50 ', NULL), (2, 1, 'O''Neil', 'text', 'y');"
            "CREATE TABLE Keyed (K MEMO PRIMARY KEY, V LONG);"
            "INSERT INTO Keyed VALUES ('007', 1), ('x', 2);");
  }

  // A table with attributes, which makes the catalogue.
  static void AppendHiddenTable(Database& db) {
    std::shared_ptr<TableDef> hidden = db.CreateTableDef("Hidden", kTableHidden, "", "");
    hidden->Fields().Append(hidden->CreateField("ID", kTypeLong));
    db.TableDefs().Append(hidden);
  }

  std::string path_;
};

TEST_F(UpgradeTest, UpgradeKeepsEveryValueIndexKeyAndCatalogueRow) {
  std::vector<std::string> before = EngineDump(*engine_, path_);
  std::unique_ptr<Database> db = engine_->OpenDatabase(path_, kOpenExclusive);
  db->UpgradeFormat();
  EXPECT_EQ(kFormatVersion, db->FormatVersion());
  // What the session creates from now on is declared as version 2 declares it.
  std::shared_ptr<TableDef> added = db->CreateTableDef("Added");
  added->Fields().Append(added->CreateField("A", kTypeByte));
  db->TableDefs().Append(added);
  db->Close();

  EXPECT_EQ(before, EngineDump(*engine_, path_, "Added"));
  EXPECT_EQ("2\n", QuerySql(path_, "PRAGMA user_version"));
  EXPECT_EQ("ok\n", QuerySql(path_, "PRAGMA integrity_check"));
  EXPECT_EQ("Order|INTEGER LONG|1|1\nLine No|SMALLINT SHORT|0|2\nNote|VARCHAR TEXT(20)|0|0\n"
            "Old|MEMO TEXT|0|0\nSize|VARCHAR TEXT(255)|0|0\n",
            QuerySql(path_, "SELECT name, type, \"notnull\", pk "
                            "FROM pragma_table_info('Order Lines')"));
  EXPECT_EQ("TINYINT UNSIGNED BYTE\n",
            QuerySql(path_, "SELECT type FROM pragma_table_info('Added')"));
  // The Memo's numbers became the texts the engine read; letter case is still
  // ignored, and the default is kept.
  EXPECT_EQ("12|text\n12.5|text\ntext|text\n",
            QuerySql(path_, "SELECT Old, typeof(Old) FROM \"Order Lines\" ORDER BY rowid"));
  EXPECT_EQ("1\n", QuerySql(path_, "SELECT count(*) FROM \"Order Lines\" WHERE Note = 'MILLER' "
                                   "AND Old = '12'"));
  ExecSql(path_, "INSERT INTO \"Order Lines\" (\"Order\", [Line No]) VALUES (3, 1)");
  EXPECT_EQ("(a, b)\n", QuerySql(path_, "SELECT Note FROM \"Order Lines\" WHERE \"Order\" = 3"));
  // The catalogue is declared as a new version 2 file declares it.
  std::string fresh = dir_.File("fresh.mdb");
  std::unique_ptr<Database> created = engine_->CreateDatabase(fresh);
  AppendHiddenTable(*created);
  created->Close();
  std::string catalogue = "SELECT sql FROM sqlite_schema WHERE name = 'MSysObjects'";
  EXPECT_EQ(QuerySql(fresh, catalogue), QuerySql(path_, catalogue));
}

TEST_F(UpgradeTest, FailedUpgradeLeavesTheDatabaseAsItWas) {
  // A check that refuses a Memo's text form makes the upgrade fail half-way.
  ExecSql(path_, "CREATE TABLE Checked (M MEMO CHECK (typeof(M) <> 'text'));"
                 "INSERT INTO Checked VALUES (42);");
  std::string schema = QuerySql(path_, "SELECT sql FROM sqlite_schema");
  std::vector<std::string> before = EngineDump(*engine_, path_);
  std::unique_ptr<Database> db = engine_->OpenDatabase(path_, kOpenExclusive);
  EXPECT_EQ(3000, test::RaisedError([&] { db->UpgradeFormat(); }).Number());
  EXPECT_EQ(kFirstFormatVersion, db->FormatVersion());
  std::unique_ptr<Recordset> records = db->OpenRecordset("SELECT * FROM Checked");
  EXPECT_EQ(Variant("42"), records->Fields().Item(0).Value());
  records->Close();
  db->Close();
  EXPECT_EQ(schema, QuerySql(path_, "SELECT sql FROM sqlite_schema"));
  EXPECT_EQ("0\n", QuerySql(path_, "PRAGMA user_version"));
  EXPECT_EQ(before, EngineDump(*engine_, path_));
}

TEST_F(UpgradeTest, KilledUpgradeLeavesTheOldFile) {
  std::string bytes = test::ReadFileBytes(path_);
  pid_t child = fork();
  if (child == 0) {
    std::unique_ptr<Database> db = engine_->OpenDatabase(path_, kOpenExclusive);
    db->UpgradeFormat();
    raise(SIGKILL);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(bytes == test::ReadFileBytes(path_));
  EXPECT_EQ(kFirstFormatVersion, engine_->OpenDatabase(path_)->FormatVersion());
}

TEST_F(UpgradeTest, CurrentFileIsLeftAloneAndReadOnlyOldFileRefused) {
  std::string current = WriteAllTypes(kFormatVersion);
  std::string bytes = test::ReadFileBytes(current);
  std::unique_ptr<Database> db = engine_->OpenDatabase(current, kOpenExclusive);
  db->UpgradeFormat();
  db->Close();
  EXPECT_TRUE(bytes == test::ReadFileBytes(current));
  db = engine_->OpenDatabase(path_, 0, true);
  EXPECT_EQ(3027, test::RaisedError([&] { db->UpgradeFormat(); }).Number());
  EXPECT_EQ(kFirstFormatVersion, db->FormatVersion());
}

TEST(ColumnTypeSpansTest, EachColumnsTypeIsFoundAndConstraintsPassedOver) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"CREATE TABLE T (A LONG, B TEXT(5) COLLATE NOCASE NOT NULL)", {"LONG", "TEXT(5)"}},
      {"CREATE TABLE \"a (b, c)\" ([x, y] DOUBLE PRECISION DEFAULT (1, 2), `z` MEMO)",
       {"DOUBLE PRECISION", "MEMO"}},
      {"CREATE TABLE T (A, B INT PRIMARY KEY, CONSTRAINT k UNIQUE (A), CHECK (B > 0))",
       {"", "INT"}},
      {"CREATE TABLE T (A DECIMAL ( 10, 2 ) /* a, b */ NOT NULL, -- c, d\n B text (7))",
       {"DECIMAL ( 10, 2 )", "text (7)"}},
      {"CREATE TABLE T (A LONG, B LONG AS (A * 2), FOREIGN KEY (A) REFERENCES U (ID))",
       {"LONG", "LONG"}},
  };
  for (const auto& [sql, types] : cases) {
    std::vector<std::string> found;
    std::string text = sql;
    for (const TypeSpan& span : ColumnTypeSpans(text))
      found.push_back(text.substr(span.begin, span.end - span.begin));
    EXPECT_EQ(types, found) << sql;
  }
}

}  // namespace
}  // namespace tabsync::dao
