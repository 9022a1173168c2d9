// The file format as another program writes it: databases made with plain
// SQLite, read back through the engine.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dao.h"
#include "dbengine/error.h"
#include "dbengine/sqlite_engine.h"
#include "support/raised_error.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::dao {
namespace {

using test::ExecSql;
using test::ExpectError;

struct ExpectedField {
  const char* name;
  int type;
  int size;
  int attributes;
};

class DatabaseFormatTest : public ::testing::Test {
 protected:
  Database& Open() {
    db_ = engine_->OpenDatabase(path_);
    return *db_;
  }

  void ExpectFields(const std::string& table, const std::vector<ExpectedField>& expected) {
    Collection<Field>& fields = Open().TableDefs().Item(table).Fields();
    ASSERT_EQ(static_cast<int>(expected.size()), fields.Count());
    for (int i = 0; i < fields.Count(); ++i) {
      const ExpectedField& want = expected[i];
      Field& field = fields.Item(i);
      EXPECT_EQ(want.name, field.Name());
      EXPECT_EQ(want.type, field.Type()) << want.name;
      EXPECT_EQ(want.size, field.Size()) << want.name;
      EXPECT_EQ(want.attributes, field.Attributes()) << want.name;
    }
  }

  void ExpectIndexFields(Index& index, const std::vector<std::string>& names) {
    ASSERT_EQ(static_cast<int>(names.size()), index.Fields().Count()) << index.Name();
    for (int i = 0; i < index.Fields().Count(); ++i) {
      EXPECT_EQ(names[i], index.Fields().Item(i).Name()) << index.Name();
    }
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("handmade.mdb");
  std::unique_ptr<DatabaseEngine> engine_ = NewSqliteEngine();
  std::unique_ptr<Database> db_;
};

// --- Declared types ----------------------------------------------------------

TEST_F(DatabaseFormatTest, EngineDeclaredTypesGiveTypeSizeAndAttributes) {
  ExecSql(path_,
          "CREATE TABLE AllTypes (b BIT, y BYTE, s SHORT, l LONG, c COUNTER, m CURRENCY,"
          " f SINGLE, d DOUBLE, t DATETIME, tx TEXT(40) COLLATE NOCASE, t255 TEXT,"
          " bin LONGBINARY, memo MEMO COLLATE NOCASE, lt text(12), ll long, lc Counter,"
          " y2 tinyint unsigned byte, t2 Varchar  Text ( 12 ), c2 INTEGER COUNTER,"
          " p VARCHAR DECIMAL(18,4), p2 varchar  decimal ( 57 , 0 ), g BIGINT LARGENUMBER)");
  const std::vector<ExpectedField> expected = {
      {"b", kTypeBoolean, 1, 33}, {"y", kTypeByte, 1, 33},      {"s", kTypeInteger, 2, 33},
      {"l", kTypeLong, 4, 33},    {"c", kTypeLong, 4, 49},      {"m", kTypeCurrency, 8, 33},
      {"f", kTypeSingle, 4, 33},  {"d", kTypeDouble, 8, 33},    {"t", kTypeDate, 8, 33},
      {"tx", kTypeText, 40, 34},  {"t255", kTypeText, 255, 34}, {"bin", kTypeLongBinary, 0, 33},
      {"memo", kTypeMemo, 0, 33}, {"lt", kTypeText, 12, 34},    {"ll", kTypeLong, 4, 33},
      {"lc", kTypeLong, 4, 49},   {"y2", kTypeByte, 1, 33},     {"t2", kTypeText, 12, 34},
      {"c2", kTypeLong, 4, 49},   {"p", kTypeDecimal, 16, 33},  {"p2", kTypeDecimal, 16, 33},
      {"g", kTypeBigInt, 8, 33}};
  ExpectFields("AllTypes", expected);
  Collection<Field>& fields = Open().TableDefs().Item("AllTypes").Fields();
  EXPECT_EQ(18, fields.Item("p").Precision());
  EXPECT_EQ(4, fields.Item("p").Scale());
  EXPECT_EQ(57, fields.Item("p2").Precision());
  EXPECT_EQ(0, fields.Item("l").Precision());
}

TEST_F(DatabaseFormatTest, OtherDeclaredTypesMapBySqliteAffinity) {
  // "FLOATING POINT" holds "INT", which SQLite checks first.
  ExecSql(path_,
          "CREATE TABLE Imported (a INTEGER, b BIGINT, c VARCHAR(30), d CLOB, e NCHAR(5),"
          " f REAL, g FLOAT, h DOUBLE PRECISION, i BLOB, j, k NUMERIC, l DECIMAL(10,2),"
          " m BOOLEAN, n DATE, o FLOATING POINT, p VARCHAR DECIMAL(5,6), q VARCHAR DECIMAL(58,0),"
          " r VARCHAR DECIMAL)");
  const std::vector<ExpectedField> expected = {
      {"a", kTypeLong, 4, 33},       {"b", kTypeLong, 4, 33},   {"c", kTypeMemo, 0, 33},
      {"d", kTypeMemo, 0, 33},       {"e", kTypeMemo, 0, 33},   {"f", kTypeDouble, 8, 33},
      {"g", kTypeDouble, 8, 33},     {"h", kTypeDouble, 8, 33}, {"i", kTypeLongBinary, 0, 33},
      {"j", kTypeLongBinary, 0, 33}, {"k", kTypeDouble, 8, 33}, {"l", kTypeDouble, 8, 33},
      {"m", kTypeDouble, 8, 33},     {"n", kTypeDouble, 8, 33}, {"o", kTypeLong, 4, 33},
      {"p", kTypeMemo, 0, 33},       {"q", kTypeMemo, 0, 33},   {"r", kTypeMemo, 0, 33}};
  ExpectFields("Imported", expected);
}

// --- Keys and indexes --------------------------------------------------------

TEST_F(DatabaseFormatTest, MultiColumnPrimaryKeyIsReportedInKeyOrder) {
  ExecSql(path_,
          "CREATE TABLE Lines (OrderNo LONG, LineNo SHORT, Item TEXT(20),"
          " PRIMARY KEY (LineNo, OrderNo));"
          "CREATE UNIQUE INDEX ItemPerOrder ON Lines (OrderNo, Item);"
          "CREATE INDEX ByItem ON Lines (Item);");
  Collection<Index>& indexes = Open().TableDefs().Item("Lines").Indexes();
  ASSERT_EQ(3, indexes.Count());
  Index& key = indexes.Item("PrimaryKey");
  EXPECT_TRUE(key.Primary());
  EXPECT_TRUE(key.Unique());
  ExpectIndexFields(key, {"LineNo", "OrderNo"});
  Index& per_order = indexes.Item("itemperorder");
  EXPECT_EQ("ItemPerOrder", per_order.Name());
  EXPECT_FALSE(per_order.Primary());
  EXPECT_TRUE(per_order.Unique());
  ExpectIndexFields(per_order, {"OrderNo", "Item"});
  EXPECT_FALSE(indexes.Item("ByItem").Unique());
}

TEST_F(DatabaseFormatTest, ColumnPrimaryKeyIsReportedAlsoOnRowidAlias) {
  ExecSql(path_,
          "CREATE TABLE Named (Code TEXT(10) PRIMARY KEY);"
          "CREATE TABLE Numbered (ID INTEGER PRIMARY KEY, Title TEXT);");
  Database& db = Open();
  ExpectIndexFields(db.TableDefs().Item("Named").Indexes().Item("PrimaryKey"), {"Code"});
  Collection<Index>& numbered = db.TableDefs().Item("Numbered").Indexes();
  ASSERT_EQ(1, numbered.Count());
  EXPECT_TRUE(numbered.Item("PrimaryKey").Primary());
  ExpectIndexFields(numbered.Item("PrimaryKey"), {"ID"});
}

TEST_F(DatabaseFormatTest, TableWithoutKeyHasNoPrimaryKeyIndex) {
  ExecSql(path_, "CREATE TABLE Loose (A LONG, B TEXT(5))");
  Collection<Index>& indexes = Open().TableDefs().Item("Loose").Indexes();
  EXPECT_EQ(0, indexes.Count());
  ExpectError(3265, [&] { indexes.Item("PrimaryKey"); });
}

// --- Catalogue rows ----------------------------------------------------------

TEST_F(DatabaseFormatTest, CatalogueRowsGiveLinksAndTableAttributes) {
  const std::string source = dir_.File("source.mdb");
  ExecSql(source, "CREATE TABLE Products (ID LONG PRIMARY KEY)");
  ExecSql(path_,
          "CREATE TABLE MSysObjects (Name TEXT(255) COLLATE NOCASE PRIMARY KEY,"
          " Type SHORT NOT NULL, Attributes LONG NOT NULL DEFAULT 0, Connect MEMO,"
          " ForeignName TEXT(255));"
          "CREATE TABLE Secret (ID LONG);"
          "CREATE TABLE Plain (ID LONG);"
          "INSERT INTO MSysObjects (Name, Type, Attributes) VALUES ('Secret', 1, 1);"
          "INSERT INTO MSysObjects VALUES"
          " ('Remote', 4, 536936448, 'ODBC;DSN=Sales', 'dbo.Orders');");
  ExecSql(path_, "INSERT INTO MSysObjects VALUES ('Goods', 6, 1073741824, ';DATABASE=" + source +
                     "', 'Products')");
  Database& db = Open();
  EXPECT_EQ(5, db.TableDefs().Count());
  const char* order[] = {"Goods", "MSysObjects", "Plain", "Remote", "Secret"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(order[i], db.TableDefs().Item(i).Name());

  TableDef& goods = db.TableDefs().Item("goods");
  EXPECT_EQ(kTableAttached, goods.Attributes());
  EXPECT_EQ(";DATABASE=" + source, goods.Connect());
  EXPECT_EQ("Products", goods.SourceTableName());

  TableDef& remote = db.TableDefs().Item("Remote");
  EXPECT_EQ(kTableAttachedOdbc | kTableAttachExclusive, remote.Attributes());
  EXPECT_EQ("ODBC;DSN=Sales", remote.Connect());
  EXPECT_EQ("dbo.Orders", remote.SourceTableName());

  TableDef& secret = db.TableDefs().Item("Secret");
  EXPECT_EQ(kTableHidden, secret.Attributes());
  EXPECT_EQ("", secret.Connect());
  EXPECT_EQ("", secret.SourceTableName());

  EXPECT_EQ(0, db.TableDefs().Item("Plain").Attributes());
  EXPECT_EQ(kTableSystemObject, db.TableDefs().Item("MSysObjects").Attributes());
}

// --- Stored values -----------------------------------------------------------

class StoredValuesTest : public DatabaseFormatTest {
 protected:
  void SetUp() override {
    ExecSql(path_,
            "CREATE TABLE Vals (ID LONG PRIMARY KEY, Flag BIT, Stamp DATETIME, Price CURRENCY,"
            " Qty SHORT, Ratio DOUBLE, Title TEXT(20), Notes MEMO, Data LONGBINARY);"
            "INSERT INTO Vals VALUES (1, 1, '2024-02-29 13:45:00', 12.3456, 7, 0.5, 'abc',"
            " 'long text', X'00FF');"
            "INSERT INTO Vals VALUES (2, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL);"
            "INSERT INTO Vals (ID, Flag, Price) VALUES (3, 5, 3);");
  }

  // The given field of record ID, read through a snapshot.
  Variant Read(int id, const std::string& field) {
    auto rs = db_->OpenRecordset("SELECT * FROM Vals WHERE ID = " + std::to_string(id), kSnapshot);
    return rs->Fields().Item(field).Value();
  }
};

TEST_F(StoredValuesTest, BitReadsAsBooleanAnyNonZeroTrue) {
  Open();
  EXPECT_EQ(Variant(true), Read(1, "Flag"));
  EXPECT_EQ(Variant(false), Read(2, "Flag"));
  EXPECT_EQ(Variant(true), Read(3, "Flag"));
}

TEST_F(StoredValuesTest, ValuesReadAsKindOfFieldType) {
  Open();
  EXPECT_EQ(Variant::Date("2024-02-29 13:45:00"), Read(1, "Stamp"));
  Variant price = Read(1, "Price");
  EXPECT_EQ(Variant::Kind::kDouble, price.kind());
  EXPECT_DOUBLE_EQ(12.3456, price.AsDouble());
  // CURRENCY has SQLite's NUMERIC affinity, which keeps 3 as an integer.
  EXPECT_EQ(Variant(3.0), Read(3, "Price"));
  EXPECT_EQ(Variant(7), Read(1, "Qty"));
  EXPECT_EQ(Variant(0.5), Read(1, "Ratio"));
  EXPECT_EQ(Variant("abc"), Read(1, "Title"));
  EXPECT_EQ(Variant("long text"), Read(1, "Notes"));
  EXPECT_EQ(Variant::Binary(std::string("\x00\xFF", 2)), Read(1, "Data"));
}

TEST_F(StoredValuesTest, SqlNullReadsAsNullInEveryType) {
  Open();
  for (const char* field : {"Stamp", "Price", "Qty", "Ratio", "Title", "Notes", "Data"}) {
    EXPECT_TRUE(Read(2, field).IsNull()) << field;
  }
}

// --- The worked example of docs/database-format.md ---------------------------

// The example's files, made with the sqlite3 command-line tool as the
// document shows, read back as the document says the engine reads them.
class DocumentedExampleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunSqliteTool(shared_,
                  "PRAGMA user_version = 2;\n"
                  "CREATE TABLE Currencies (Code VARCHAR TEXT(3) COLLATE NOCASE PRIMARY KEY, "
                  "Rate DOUBLE);\n"
                  "INSERT INTO Currencies VALUES ('EUR', 1.0), ('USD', 1.08);\n");
    RunSqliteTool(customers_, R"(
PRAGMA user_version = 2;
CREATE TABLE Customers (
  ID INTEGER COUNTER PRIMARY KEY,
  Name VARCHAR TEXT(50) COLLATE NOCASE NOT NULL,
  ZipCode VARCHAR TEXT(10) COLLATE NOCASE,
  Active BIT,
  Balance NUMERIC CURRENCY,
  Joined DATETIME,
  Notes MEMO TEXT COLLATE NOCASE
);
CREATE INDEX CustomersByName ON Customers (Name);
INSERT INTO Customers VALUES
  (1, 'Miller', '01234', 1, 12.5, '2024-03-01 09:30:00', NULL),
  (2, 'O''Neil', NULL, 0, 0.1235, '2024-03-02 00:00:00', 'Pays by transfer');
INSERT INTO Customers (ID, Name, Active)
  VALUES ((SELECT coalesce(max(ID), 0) + 1 FROM Customers), 'Schmidt', 1);
CREATE TABLE Settings (Key VARCHAR TEXT(30) COLLATE NOCASE PRIMARY KEY, Value MEMO TEXT COLLATE NOCASE);
INSERT INTO Settings VALUES ('Theme', 'dark');
CREATE TABLE MSysObjects (Name VARCHAR TEXT(255) COLLATE NOCASE PRIMARY KEY,
  Type SMALLINT SHORT NOT NULL, Attributes INTEGER LONG NOT NULL DEFAULT 0,
  Connect MEMO TEXT, ForeignName VARCHAR TEXT(255));
INSERT INTO MSysObjects (Name, Type, Attributes, Connect, ForeignName) VALUES
  ('Currencies', 6, 1073741824, ';DATABASE=)" + shared_ + R"(', 'Currencies'),
  ('Settings', 1, 1, NULL, NULL);
)");
    db_ = engine_->OpenDatabase(customers_, kOpenExclusive);
  }

  void RunSqliteTool(const std::string& database, const std::string& script) {
    std::string script_path = dir_.File("script.sql");
    FILE* file = fopen(script_path.c_str(), "w");
    ASSERT_NE(nullptr, file);
    fputs(script.c_str(), file);
    fclose(file);
    std::string command = "sqlite3 '" + database + "' < '" + script_path + "'";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
  }

  test::TempDir dir_;
  std::string customers_ = dir_.File("customers.db");
  std::string shared_ = dir_.File("shared.db");
  std::unique_ptr<DatabaseEngine> engine_ = NewSqliteEngine();
  std::unique_ptr<Database> db_;
};

TEST_F(DocumentedExampleTest, TablesInNameOrderWithTheirAttributes) {
  EXPECT_EQ(2, db_->FormatVersion());
  Collection<TableDef>& tables = db_->TableDefs();
  ASSERT_EQ(4, tables.Count());
  const std::vector<std::pair<std::string, int32_t>> expected = {
      {"Currencies", 1073741824}, {"Customers", 0}, {"MSysObjects", -2147483646}, {"Settings", 1}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(expected[i].first, tables.Item(i).Name());
    EXPECT_EQ(expected[i].second, tables.Item(i).Attributes()) << expected[i].first;
  }
  EXPECT_EQ(";DATABASE=" + shared_, tables.Item("currencies").Connect());
}

TEST_F(DocumentedExampleTest, CustomersFieldsIndexesAndNextCounter) {
  TableDef& customers = db_->TableDefs().Item("Customers");
  const std::vector<std::vector<int>> expected = {{4, 4, 49},  {10, 50, 34}, {10, 10, 34},
                                                  {1, 1, 33},  {5, 8, 33},   {8, 8, 33},
                                                  {12, 0, 33}};
  ASSERT_EQ(7, customers.Fields().Count());
  for (int i = 0; i < 7; ++i) {
    Field& field = customers.Fields().Item(i);
    EXPECT_EQ(expected[i], (std::vector<int>{field.Type(), field.Size(), field.Attributes()}))
        << field.Name();
  }
  ASSERT_EQ(2, customers.Indexes().Count());
  EXPECT_EQ("PrimaryKey", customers.Indexes().Item(0).Name());
  EXPECT_EQ("ID", customers.Indexes().Item(0).Fields().Item(0).Name());
  EXPECT_EQ("CustomersByName", customers.Indexes().Item(1).Name());
  EXPECT_FALSE(customers.Indexes().Item(1).Unique());

  auto rs = db_->OpenRecordset("SELECT [ID], [Name] FROM Customers WHERE ID = 2;");
  rs->AddNew();
  rs->Fields().Item("Name").SetValue("Nakamura");
  rs->Update();
  rs = db_->OpenRecordset("SELECT * FROM Customers WHERE Name = 'nakamura'");
  EXPECT_EQ(Variant(4), rs->Fields().Item("ID").Value());
  rs = db_->OpenRecordset("SELECT * FROM Customers WHERE ID = 2");
  std::vector<std::string> texts;
  for (int i = 0; i < rs->Fields().Count(); ++i) texts.push_back(rs->Fields().Item(i).Value().ToText());
  EXPECT_EQ((std::vector<std::string>{"2", "O'Neil", "", "False", "0.1235", "2024-03-02 00:00:00",
                                      "Pays by transfer"}),
            texts);
}

TEST_F(DocumentedExampleTest, LinkedTableReadsTheSharedFile) {
  TableDef& currencies = db_->TableDefs().Item("Currencies");
  ASSERT_EQ(2, currencies.Fields().Count());
  EXPECT_EQ(kTypeText, currencies.Fields().Item("Code").Type());
  EXPECT_EQ(kTypeDouble, currencies.Fields().Item("Rate").Type());
  auto rs = db_->OpenRecordset("SELECT Code, Rate FROM Currencies WHERE Code = 'usd'");
  ASSERT_EQ(1, rs->RecordCount());
  EXPECT_EQ(Variant(1.08), rs->Fields().Item("Rate").Value());
}

}  // namespace
}  // namespace tabsync::dao
