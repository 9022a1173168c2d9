// The file format as another program writes it: databases made with plain
// SQLite, read back through the engine.

#include <gtest/gtest.h>

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
          " bin LONGBINARY, memo MEMO COLLATE NOCASE, lt text(12), ll long, lc Counter)");
  const std::vector<ExpectedField> expected = {
      {"b", kTypeBoolean, 1, 33}, {"y", kTypeByte, 1, 33},      {"s", kTypeInteger, 2, 33},
      {"l", kTypeLong, 4, 33},    {"c", kTypeLong, 4, 49},      {"m", kTypeCurrency, 8, 33},
      {"f", kTypeSingle, 4, 33},  {"d", kTypeDouble, 8, 33},    {"t", kTypeDate, 8, 33},
      {"tx", kTypeText, 40, 34},  {"t255", kTypeText, 255, 34}, {"bin", kTypeLongBinary, 0, 33},
      {"memo", kTypeMemo, 0, 33}, {"lt", kTypeText, 12, 34},    {"ll", kTypeLong, 4, 33},
      {"lc", kTypeLong, 4, 49}};
  ExpectFields("AllTypes", expected);
}

TEST_F(DatabaseFormatTest, OtherDeclaredTypesMapBySqliteAffinity) {
  // "FLOATING POINT" holds "INT", which SQLite checks first.
  ExecSql(path_,
          "CREATE TABLE Imported (a INTEGER, b BIGINT, c VARCHAR(30), d CLOB, e NCHAR(5),"
          " f REAL, g FLOAT, h DOUBLE PRECISION, i BLOB, j, k NUMERIC, l DECIMAL(10,2),"
          " m BOOLEAN, n DATE, o FLOATING POINT)");
  const std::vector<ExpectedField> expected = {
      {"a", kTypeLong, 4, 33},       {"b", kTypeLong, 4, 33},   {"c", kTypeMemo, 0, 33},
      {"d", kTypeMemo, 0, 33},       {"e", kTypeMemo, 0, 33},   {"f", kTypeDouble, 8, 33},
      {"g", kTypeDouble, 8, 33},     {"h", kTypeDouble, 8, 33}, {"i", kTypeLongBinary, 0, 33},
      {"j", kTypeLongBinary, 0, 33}, {"k", kTypeDouble, 8, 33}, {"l", kTypeDouble, 8, 33},
      {"m", kTypeDouble, 8, 33},     {"n", kTypeDouble, 8, 33}, {"o", kTypeLong, 4, 33}};
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

}  // namespace
}  // namespace tabsync::dao
