// Tables linked to another database file or through ODBC: how they are
// stored and reported, how RefreshLink checks them, and reading through them.

#include <gtest/gtest.h>

#include <fstream>
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


class SqliteLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ExecSql(source_,
            "CREATE TABLE Products (ID LONG PRIMARY KEY, Name TEXT(30) COLLATE NOCASE);"
            "INSERT INTO Products VALUES (1, 'Bolt');"
            "INSERT INTO Products VALUES (2, 'Nut');");
    ExecSql(path_, "CREATE TABLE Local (ID LONG PRIMARY KEY)");
  }

  Database& Open() {
    db_ = engine_->OpenDatabase(path_);
    return *db_;
  }

  // Appends a link named name to source_table of connect; gives the stored
  // table definition.
  TableDef& AppendLink(const std::string& name, const std::string& source_table,
                       const std::string& connect, int32_t attributes = 0) {
    db_->TableDefs().Append(db_->CreateTableDef(name, attributes, source_table, connect));
    return db_->TableDefs().Item(name);
  }

  // The catalogue row of name, after Close.
  std::string CatalogueRow(const std::string& name) {
    const std::string columns = "Name, Type, Attributes, Connect, ForeignName";
    return QuerySql(path_, "SELECT " + columns + " FROM MSysObjects WHERE Name = '" + name + "'");
  }

  test::TempDir dir_;
  std::string source_ = dir_.File("source.mdb");
  std::string path_ = dir_.File("main.mdb");
  std::unique_ptr<DatabaseEngine> engine_ = NewSqliteEngine();
  std::unique_ptr<Database> db_;
};

// --- Stored and reported -----------------------------------------------------

TEST_F(SqliteLinkTest, FileLinkReportsAttachedBitConnectAndSource) {
  Open();
  TableDef& goods =
      AppendLink("Goods", "Products", ";DATABASE=" + source_, kTableAttachSavePassword);
  EXPECT_EQ(kTableAttached | kTableAttachSavePassword, goods.Attributes());
  EXPECT_EQ(";DATABASE=" + source_, goods.Connect());
  EXPECT_EQ("Products", goods.SourceTableName());
}

TEST_F(SqliteLinkTest, FileLinkPersistsInCatalogueAfterClose) {
  Open();
  AppendLink("Goods", "Products", ";DATABASE=" + source_);
  db_->Close();
  EXPECT_EQ("Goods|6|1073741824|;DATABASE=" + source_ + "|Products\n", CatalogueRow("Goods"));
  // A link is no SQLite table of the file.
  EXPECT_EQ("0\n", QuerySql(path_, "SELECT count(*) FROM sqlite_master WHERE name = 'Goods'"));

  TableDef& goods = Open().TableDefs().Item("goods");
  EXPECT_EQ(kTableAttached, goods.Attributes());
  EXPECT_EQ(";DATABASE=" + source_, goods.Connect());
  EXPECT_EQ("Products", goods.SourceTableName());
}

TEST_F(SqliteLinkTest, OdbcLinkReportsOdbcBitAndPersists) {
  Open();
  TableDef& remote = AppendLink("Remote", "dbo.Orders", "ODBC;DSN=x");
  EXPECT_EQ(kTableAttachedOdbc, remote.Attributes());
  db_->Close();
  EXPECT_EQ("Remote|4|536870912|ODBC;DSN=x|dbo.Orders\n", CatalogueRow("Remote"));
  EXPECT_EQ("ODBC;DSN=x", Open().TableDefs().Item("Remote").Connect());
}

TEST_F(SqliteLinkTest, LinkWithNameOfLocalTableRaises3010) {
  Open();
  EXPECT_EQ("Table 'Local' already exists.",
            ExpectError(3010, [&] { AppendLink("Local", "Products", ";DATABASE=" + source_); }));
  EXPECT_EQ("", db_->TableDefs().Item("Local").Connect());
}

// --- Connect and RefreshLink -------------------------------------------------

// Appending the link does not check it; RefreshLink does.
TEST_F(SqliteLinkTest, RefreshLinkToMissingFileRaises3024) {
  Open();
  const std::string missing = dir_.File("missing.mdb");
  TableDef& link = AppendLink("Goods", "Products", ";DATABASE=" + missing);
  EXPECT_EQ("Could not find file '" + missing + "'.",
            ExpectError(3024, [&] { link.RefreshLink(); }));
}

TEST_F(SqliteLinkTest, RefreshLinkToFileThatIsNoDatabaseRaises3343) {
  const std::string garbage = dir_.File("garbage.mdb");
  std::ofstream(garbage) << "this is no database, only a line of text that is long enough\n";
  Open();
  TableDef& link = AppendLink("Goods", "Products", ";DATABASE=" + garbage);
  EXPECT_EQ("Unrecognized database format '" + garbage + "'.",
            ExpectError(3343, [&] { link.RefreshLink(); }));
}

TEST_F(SqliteLinkTest, RefreshLinkToMissingTableRaises3011) {
  Open();
  TableDef& link = AppendLink("Goods", "Nothing", ";DATABASE=" + source_);
  EXPECT_EQ("The database engine could not find the object 'Nothing'.",
            ExpectError(3011, [&] { link.RefreshLink(); }));
}

TEST_F(SqliteLinkTest, SetConnectRepairsLinkAndPersists) {
  Open();
  TableDef& link = AppendLink("Goods", "Products", ";DATABASE=" + dir_.File("old.mdb"));
  link.SetConnect(";DATABASE=" + source_);
  EXPECT_EQ(";DATABASE=" + source_, link.Connect());
  link.RefreshLink();
  db_->Close();
  EXPECT_EQ("Goods|6|1073741824|;DATABASE=" + source_ + "|Products\n", CatalogueRow("Goods"));
}

TEST_F(SqliteLinkTest, SetConnectToMissingFileMakesRefreshLinkRaise3024) {
  Open();
  TableDef& link = AppendLink("Goods", "Products", ";DATABASE=" + source_);
  link.RefreshLink();
  link.SetConnect(";DATABASE=" + dir_.File("gone.mdb"));
  ExpectError(3024, [&] { link.RefreshLink(); });
}

TEST_F(SqliteLinkTest, RefreshLinkOnOdbcLinkRaises3146) {
  Open();
  TableDef& remote = AppendLink("Remote", "dbo.Orders", "ODBC;DSN=x");
  EXPECT_EQ("ODBC--call failed.", ExpectError(3146, [&] { remote.RefreshLink(); }));
}

TEST_F(SqliteLinkTest, ConnectAndRefreshLinkOnLocalTableRaise3219) {
  TableDef& local = Open().TableDefs().Item("Local");
  EXPECT_EQ("Invalid operation.",
            ExpectError(3219, [&] { local.SetConnect(";DATABASE=" + source_); }));
  ExpectError(3219, [&] { local.RefreshLink(); });
  EXPECT_EQ("", local.Connect());
}

// --- Reading through a link --------------------------------------------------

TEST_F(SqliteLinkTest, LinkedTableHasFieldsOfSourceTable) {
  Open();
  Collection<Field>& fields = AppendLink("Goods", "Products", ";DATABASE=" + source_).Fields();
  ASSERT_EQ(2, fields.Count());
  EXPECT_EQ("ID", fields.Item(0).Name());
  EXPECT_EQ(kTypeLong, fields.Item(0).Type());
  EXPECT_EQ("Name", fields.Item(1).Name());
  EXPECT_EQ(kTypeText, fields.Item(1).Type());
  EXPECT_EQ(30, fields.Item(1).Size());
}

TEST_F(SqliteLinkTest, RecordsetOnLinkReadsLinkedRowsAfterReopen) {
  Open();
  AppendLink("Goods", "Products", ";DATABASE=" + source_);
  db_->Close();
  Database& db = Open();
  auto rs = db.OpenRecordset("SELECT Name FROM Goods WHERE ID = 2", kSnapshot);
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(Variant("Nut"), rs->Fields().Item("Name").Value());
  auto bolt = db.OpenRecordset("SELECT * FROM Goods WHERE Name = 'BOLT'");
  ASSERT_FALSE(bolt->Eof());
  EXPECT_EQ(Variant(1), bolt->Fields().Item("ID").Value());
}

TEST_F(SqliteLinkTest, RecordsetOnLinkRefusesChangesWith3027) {
  Open();
  AppendLink("Goods", "Products", ";DATABASE=" + source_);
  auto rs = db_->OpenRecordset("SELECT * FROM Goods WHERE ID = 1", kDynaset);
  EXPECT_EQ("Cannot update. Database or object is read-only.",
            ExpectError(3027, [&] { rs->AddNew(); }));
  ExpectError(3027, [&] { rs->Edit(); });
  rs->Close();
  db_->Close();
  EXPECT_EQ("1|Bolt\n2|Nut\n", QuerySql(source_, "SELECT ID, Name FROM Products ORDER BY ID"));
}

}  // namespace
}  // namespace tabsync::dao
