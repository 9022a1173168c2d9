// Table definitions, fields and indexes of the SQLite engine: lookup,
// renames, tables built in memory and stored at once, and the catalogue.

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
using test::QuerySql;


std::string TableNames(Database& db) {
  std::string names;
  for (int i = 0; i < db.TableDefs().Count(); ++i) {
    names += (i ? "," : "") + db.TableDefs().Item(i).Name();
  }
  return names;
}

class SqliteSchemaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Gamma's AUTOINCREMENT makes SQLite add its own sqlite_sequence table.
    ExecSql(path_,
            "CREATE TABLE beta (ID LONG PRIMARY KEY, Name TEXT(40) COLLATE NOCASE);"
            "CREATE TABLE Alpha (ID LONG PRIMARY KEY, Name TEXT(40) COLLATE NOCASE);"
            "INSERT INTO Alpha VALUES (1, 'first');"
            "CREATE TABLE Gamma (Seq INTEGER PRIMARY KEY AUTOINCREMENT);");
  }

  Database& Open() {
    db_ = engine_->OpenDatabase(path_);
    return *db_;
  }
  std::string Query(const std::string& sql) { return QuerySql(path_, sql); }

  Database& StoreItemsAndReopen() {
    Database& db = Open();
    db.TableDefs().Append(BuildItems(db));
    db.Close();
    return Open();
  }

  // A table of every field type the engine writes, keyed on (Label, Amount),
  // the reverse of their column order, with a non-unique index on Stamp.
  std::shared_ptr<TableDef> BuildItems(Database& db) {
    auto td = db.CreateTableDef("Items");
    const struct {
      const char* name;
      int type;
      int size;
    } columns[] = {
        {"Flag", kTypeBoolean, 0},  {"Small", kTypeByte, 0},         {"Short", kTypeInteger, 0},
        {"Amount", kTypeLong, 0},   {"Price", kTypeCurrency, 0},     {"Ratio", kTypeSingle, 0},
        {"Weight", kTypeDouble, 0}, {"Stamp", kTypeDate, 0},         {"Label", kTypeText, 40},
        {"Code", kTypeText, 0},     {"Picture", kTypeLongBinary, 0}, {"Notes", kTypeMemo, 0}};
    for (const auto& c : columns) td->Fields().Append(td->CreateField(c.name, c.type, c.size));
    auto counter = td->CreateField("Number", kTypeLong);
    counter->SetAttributes(kFieldFixed | kFieldAutoIncrement);
    td->Fields().Append(counter);

    auto key = td->CreateIndex("PrimaryKey");
    key->SetPrimary(true);
    key->Fields().Append(key->CreateField("Label"));
    key->Fields().Append(key->CreateField("Amount"));
    td->Indexes().Append(key);
    auto by_stamp = td->CreateIndex("ByStamp");
    by_stamp->Fields().Append(by_stamp->CreateField("Stamp"));
    td->Indexes().Append(by_stamp);
    return td;
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("schema.mdb");
  std::unique_ptr<DatabaseEngine> engine_ = NewSqliteEngine();
  std::unique_ptr<Database> db_;
};

// --- TableDefs enumeration and lookup ----------------------------------------

TEST_F(SqliteSchemaTest, TableDefsEnumerateAndFindByNameIgnoringCaseWithoutSqliteTables) {
  Database& db = Open();
  EXPECT_EQ("Alpha,beta,Gamma", TableNames(db));
  EXPECT_EQ("beta", db.TableDefs().Item("BETA").Name());
}

TEST_F(SqliteSchemaTest, MissingNameOrPositionRaises3265) {
  Database& db = Open();
  EXPECT_EQ("Item not found in this collection.",
            ExpectError(3265, [&] { db.TableDefs().Item("Delta"); }));
  ExpectError(3265, [&] { db.TableDefs().Item(3); });
  ExpectError(3265, [&] { db.TableDefs().Item(-1); });
  ExpectError(3265, [&] { db.TableDefs().Item("Alpha").Fields().Item("Missing"); });
  ExpectError(3265, [&] { db.TableDefs().Item("Alpha").Indexes().Item("Missing"); });
}

// --- Table renames -----------------------------------------------------------

TEST_F(SqliteSchemaTest, RenamedTableIsSameObjectFoundUnderNewNameAndResorted) {
  Database& db = Open();
  TableDef* alpha = &db.TableDefs().Item("Alpha");
  alpha->SetName("Zeta");
  EXPECT_EQ("Zeta", alpha->Name());
  EXPECT_EQ(alpha, &db.TableDefs().Item("zeta"));
  EXPECT_EQ("beta,Gamma,Zeta", TableNames(db));
  ExpectError(3265, [&] { db.TableDefs().Item("Alpha"); });
  db.Close();
  EXPECT_EQ("first\n", Query("SELECT Name FROM Zeta"));
}

TEST_F(SqliteSchemaTest, RenameChangingOnlyLetterCaseWorks) {
  Database& db = Open();
  db.TableDefs().Item("Alpha").SetName("ALPHA");
  EXPECT_EQ("ALPHA,beta,Gamma", TableNames(db));
  db.Close();
  // No temporary table is left behind.
  EXPECT_EQ("ALPHA\nGamma\nbeta\nsqlite_sequence\n",
            Query("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"));
  EXPECT_EQ("first\n", Query("SELECT Name FROM ALPHA"));
}

TEST_F(SqliteSchemaTest, RenameToNameInUseRaises3010) {
  Database& db = Open();
  TableDef& alpha = db.TableDefs().Item("Alpha");
  EXPECT_EQ("Table 'beta' already exists.", ExpectError(3010, [&] { alpha.SetName("beta"); }));
  ExpectError(3010, [&] { alpha.SetName("GAMMA"); });
  EXPECT_EQ("Alpha", alpha.Name());
  EXPECT_EQ("Alpha,beta,Gamma", TableNames(db));
}

// --- Column renames ----------------------------------------------------------

TEST_F(SqliteSchemaTest, RenamedColumnIsStoredAndFoundUnderNewName) {
  Database& db = Open();
  Field& name = db.TableDefs().Item("Alpha").Fields().Item("Name");
  name.SetName("FullName");
  EXPECT_EQ(&name, &db.TableDefs().Item("Alpha").Fields().Item("fullname"));
  db.Close();
  EXPECT_EQ("ID\nFullName\n", Query("SELECT name FROM pragma_table_info('Alpha')"));
  EXPECT_EQ("first\n", Query("SELECT FullName FROM Alpha"));
}

TEST_F(SqliteSchemaTest, ColumnRenameChangingOnlyLetterCaseWorks) {
  Database& db = Open();
  db.TableDefs().Item("Alpha").Fields().Item("Name").SetName("NAME");
  EXPECT_EQ("NAME", db.TableDefs().Item("Alpha").Fields().Item(1).Name());
  db.Close();
  EXPECT_EQ("ID\nNAME\n", Query("SELECT name FROM pragma_table_info('Alpha')"));
}

TEST_F(SqliteSchemaTest, ColumnRenameToNameInUseRaises3191) {
  Database& db = Open();
  Field& name = db.TableDefs().Item("Alpha").Fields().Item("Name");
  EXPECT_EQ("Cannot define field more than once.", ExpectError(3191, [&] { name.SetName("id"); }));
  EXPECT_EQ("Name", name.Name());
}

// --- Tables built in memory --------------------------------------------------

TEST_F(SqliteSchemaTest, NewTableIsStoredOnlyWhenAppended) {
  Database& db = Open();
  auto td = BuildItems(db);
  ExpectError(3265, [&] { db.TableDefs().Item("Items"); });
  db.TableDefs().Append(td);
  EXPECT_EQ("Alpha,beta,Gamma,Items", TableNames(db));
  db.Close();
  EXPECT_EQ(
      "Flag|BIT|0\nSmall|BYTE|0\nShort|SHORT|0\nAmount|LONG|2\nPrice|CURRENCY|0\n"
      "Ratio|SINGLE|0\nWeight|DOUBLE|0\nStamp|DATETIME|0\nLabel|TEXT(40)|1\n"
      "Code|TEXT(255)|0\nPicture|LONGBINARY|0\nNotes|MEMO TEXT|0\nNumber|COUNTER|0\n",
      Query("SELECT name, type, pk FROM pragma_table_info('Items')"));
  // Text and Memo columns compare ignoring case.
  ExecSql(path_,
          "INSERT INTO Items (Label, Amount, Code, Notes, Number) "
          "VALUES ('abc', 1, 'xyz', 'some memo', 1)");
  EXPECT_EQ("1\n", Query("SELECT count(*) FROM Items "
                         "WHERE Label = 'ABC' AND Code = 'XYZ' AND Notes = 'SOME MEMO'"));
}

TEST_F(SqliteSchemaTest, NewTableFieldsReadBackWithSizesAndAttributes) {
  Collection<Field>& fields = StoreItemsAndReopen().TableDefs().Item("Items").Fields();
  ASSERT_EQ(13, fields.Count());
  EXPECT_EQ(kTypeLong, fields.Item("Number").Type());
  EXPECT_EQ(49, fields.Item("Number").Attributes());
  EXPECT_EQ(33, fields.Item("Amount").Attributes());
  EXPECT_EQ(40, fields.Item("Label").Size());
  EXPECT_EQ(34, fields.Item("Label").Attributes());
  EXPECT_EQ(255, fields.Item("Code").Size());
}

TEST_F(SqliteSchemaTest, IndexesReportPrimaryKeyInKeyOrderAndOtherIndexesByName) {
  Collection<Index>& indexes = StoreItemsAndReopen().TableDefs().Item("Items").Indexes();
  ASSERT_EQ(2, indexes.Count());
  Index& key = indexes.Item("primarykey");
  EXPECT_EQ("PrimaryKey", key.Name());
  EXPECT_TRUE(key.Primary());
  EXPECT_TRUE(key.Unique());
  ASSERT_EQ(2, key.Fields().Count());
  EXPECT_EQ("Label", key.Fields().Item(0).Name());
  EXPECT_EQ("Amount", key.Fields().Item(1).Name());
  Index& by_stamp = indexes.Item("ByStamp");
  EXPECT_FALSE(by_stamp.Primary());
  EXPECT_FALSE(by_stamp.Unique());
  EXPECT_EQ("Stamp", by_stamp.Fields().Item(0).Name());
}

TEST_F(SqliteSchemaTest, AppendingTableWithNameInUseRaises3010AndStoresNothing) {
  Database& db = Open();
  auto td = db.CreateTableDef("Alpha");
  td->Fields().Append(td->CreateField("Other", kTypeLong));
  EXPECT_EQ("Table 'Alpha' already exists.", ExpectError(3010, [&] { db.TableDefs().Append(td); }));
  auto upper = db.CreateTableDef("ALPHA");
  upper->Fields().Append(upper->CreateField("Other", kTypeLong));
  ExpectError(3010, [&] { db.TableDefs().Append(upper); });
  EXPECT_EQ(3, db.TableDefs().Count());
  db.Close();
  EXPECT_EQ("ID\nName\n", Query("SELECT name FROM pragma_table_info('Alpha')"));
}

TEST_F(SqliteSchemaTest, AppendingTableWithoutFieldsRaises3264) {
  Database& db = Open();
  auto td = db.CreateTableDef("Empty");
  EXPECT_EQ("No field defined--cannot append TableDef or Index.",
            ExpectError(3264, [&] { db.TableDefs().Append(td); }));
  ExpectError(3265, [&] { db.TableDefs().Item("Empty"); });
  db.Close();
  EXPECT_EQ("0\n", Query("SELECT count(*) FROM sqlite_master WHERE name = 'Empty'"));
}

TEST_F(SqliteSchemaTest, DuplicateFieldOnNewTableRaises3191) {
  Database& db = Open();
  auto td = db.CreateTableDef("Items");
  td->Fields().Append(td->CreateField("Code", kTypeText, 10));
  ExpectError(3191, [&] { td->Fields().Append(td->CreateField("CODE", kTypeLong)); });
  EXPECT_EQ(1, td->Fields().Count());
}

// --- Fields added to a stored table ------------------------------------------

TEST_F(SqliteSchemaTest, FieldAppendedToStoredTableAddsColumn) {
  Database& db = Open();
  TableDef& alpha = db.TableDefs().Item("Alpha");
  alpha.Fields().Append(alpha.CreateField("Extra", kTypeLong));
  ASSERT_EQ(3, alpha.Fields().Count());
  EXPECT_EQ(kTypeLong, alpha.Fields().Item("EXTRA").Type());
  db.Close();
  EXPECT_EQ("1|first|NULL\n", Query("SELECT ID, Name, Extra FROM Alpha"));
}

TEST_F(SqliteSchemaTest, FieldAppendedToStoredTableWithNameInUseRaises3191) {
  Database& db = Open();
  TableDef& alpha = db.TableDefs().Item("Alpha");
  auto name = alpha.CreateField("NAME", kTypeMemo);
  EXPECT_EQ("Cannot define field more than once.",
            ExpectError(3191, [&] { alpha.Fields().Append(name); }));
  EXPECT_EQ(2, alpha.Fields().Count());
}

// --- Field definition errors -------------------------------------------------

TEST_F(SqliteSchemaTest, UnknownFieldTypeRaises3259) {
  auto td = Open().CreateTableDef("Items");
  for (int type : {0, 13, 99}) {
    EXPECT_EQ("Invalid field data type.", ExpectError(3259, [&] { td->CreateField("F", type); }))
        << type;
  }
}

TEST_F(SqliteSchemaTest, TextFieldLongerThan255Raises3001) {
  auto td = Open().CreateTableDef("Items");
  EXPECT_EQ("Invalid argument.", ExpectError(3001, [&] { td->CreateField("F", kTypeText, 256); }));
}

TEST_F(SqliteSchemaTest, UnknownAttributeBitOrAutoIncrementOnNonLongRaises3001) {
  auto td = Open().CreateTableDef("Items");
  auto field = td->CreateField("F", kTypeLong);
  for (int bits : {4, 8, 64, 8192}) ExpectError(3001, [&] { field->SetAttributes(bits); });
  for (int type : {kTypeInteger, kTypeDouble, kTypeText}) {
    auto other = td->CreateField("G", type);
    ExpectError(3001, [&] { other->SetAttributes(kFieldAutoIncrement); });
  }
}

TEST_F(SqliteSchemaTest, AttributesOfStoredFieldRaise3219) {
  Field& id = Open().TableDefs().Item("Alpha").Fields().Item("ID");
  EXPECT_EQ("Invalid operation.", ExpectError(3219, [&] { id.SetAttributes(kFieldFixed); }));
}

TEST_F(SqliteSchemaTest, ValueOfTableFieldRaises3219) {
  Field& name = Open().TableDefs().Item("Alpha").Fields().Item("Name");
  ExpectError(3219, [&] { name.Value(); });
  ExpectError(3219, [&] { name.SetValue(Variant("x")); });
}

// --- The catalogue -----------------------------------------------------------

TEST_F(SqliteSchemaTest, PlainTablesNeedNoCatalogue) {
  Database& db = Open();
  auto td = db.CreateTableDef("Plain");
  td->Fields().Append(td->CreateField("ID", kTypeLong));
  db.TableDefs().Append(td);
  ExpectError(3265, [&] { db.TableDefs().Item("MSysObjects"); });
  db.Close();
  EXPECT_EQ("0\n", Query("SELECT count(*) FROM sqlite_master WHERE name = 'MSysObjects'"));
}

TEST_F(SqliteSchemaTest, HiddenLocalTableIsStoredWithCatalogueRow) {
  Database& db = Open();
  auto td = db.CreateTableDef("Secret", kTableHidden, "", "");
  td->Fields().Append(td->CreateField("Value", kTypeMemo));
  db.TableDefs().Append(td);
  EXPECT_EQ(kTableHidden, db.TableDefs().Item("secret").Attributes());
  EXPECT_EQ(kTableSystemObject, db.TableDefs().Item("MSysObjects").Attributes());
  EXPECT_EQ("Alpha,beta,Gamma,MSysObjects,Secret", TableNames(db));
  db.Close();
  EXPECT_EQ("Name|TEXT(255)\nType|SHORT\nAttributes|LONG\nConnect|MEMO\nForeignName|TEXT(255)\n",
            Query("SELECT name, type FROM pragma_table_info('MSysObjects')"));
  EXPECT_EQ("Secret|1|1\n", Query("SELECT Name, Type, Attributes FROM MSysObjects"));
  EXPECT_EQ("Value\n", Query("SELECT name FROM pragma_table_info('Secret')"));
  EXPECT_EQ(kTableHidden, Open().TableDefs().Item("Secret").Attributes());
}

}  // namespace
}  // namespace tabsync::dao
