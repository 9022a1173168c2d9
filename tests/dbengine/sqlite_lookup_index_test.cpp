// The helper index a session makes for repeated key lookups on a column that
// SQLite could only scan: made from the second lookup, used at once, kept out
// of the Indexes collection, and never written to the file.

#include <sqlite3.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "dbengine/dao.h"
#include "dbengine/sqlite_engine.h"
#include "dbengine/sqlite_session.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::dao {
namespace {

using test::ExecSql;
using test::QuerySql;

class LookupIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ExecSql(path_,
            "CREATE TABLE Plain (ID LONG, Code TEXT(10) COLLATE NOCASE, Amount DOUBLE);"
            "CREATE TABLE Keyed (ID LONG PRIMARY KEY, Code TEXT(10));"
            "CREATE INDEX KeyedByCode ON Keyed (Code);"
            "CREATE TABLE Rowid (ID INTEGER PRIMARY KEY, Code TEXT(10));"
            "INSERT INTO Plain VALUES (1, 'a', 1.5), (2, 'b', 2.5), (3, 'c', 3.5);"
            "INSERT INTO Keyed VALUES (1, 'a'), (2, 'b');");
    schema_before_ = Schema();
  }

  std::shared_ptr<Session> OpenSession() { return Session::Open(path_, Session::Options{true}); }

  // The indexes SQLite has on a table, as the session sees them.
  static std::string IndexesOf(Session& session, const std::string& table) {
    Statement list = session.Prepare("SELECT name FROM pragma_index_list(?) ORDER BY name");
    list.BindText(1, table);
    std::string names;
    while (list.Step())
      names += std::string(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0))) + ";";
    return names;
  }

  std::string Schema() { return QuerySql(path_, "SELECT type, name, sql FROM sqlite_schema ORDER BY name"); }

  test::TempDir dir_;
  std::string path_ = dir_.File("lookups.mdb");
  std::string schema_before_;
};

TEST_F(LookupIndexTest, SecondLookupOnUnindexedColumnMakesIndexThatCloseDrops) {
  std::shared_ptr<Session> session = OpenSession();
  session->NoteEqualityLookup("Plain", "ID", false);
  EXPECT_EQ("", IndexesOf(*session, "Plain")) << "one lookup alone scans";
  session->NoteEqualityLookup("plain", "id", false);
  EXPECT_EQ("tabsync_lookup_1;", IndexesOf(*session, "Plain"));
  EXPECT_TRUE(session->IsHelperIndex("tabsync_lookup_1"));
  session->NoteEqualityLookup("Plain", "ID", false);
  EXPECT_EQ("tabsync_lookup_1;", IndexesOf(*session, "Plain")) << "made once";
  session->Close();
  EXPECT_EQ(schema_before_, Schema());
}

TEST_F(LookupIndexTest, ColumnsThatSqliteCanSeekGetNoHelper) {
  std::shared_ptr<Session> session = OpenSession();
  for (int i = 0; i < 2; ++i) {
    session->NoteEqualityLookup("Keyed", "ID", false);    // the primary key's index
    session->NoteEqualityLookup("Keyed", "Code", false);  // an exact text index
    session->NoteEqualityLookup("Rowid", "ID", false);    // the rowid itself
  }
  EXPECT_EQ("KeyedByCode;sqlite_autoindex_Keyed_1;", IndexesOf(*session, "Keyed"));
  EXPECT_EQ("", IndexesOf(*session, "Rowid"));
  session->Close();
}

TEST_F(LookupIndexTest, TextLookupIgnoringCaseGetsHelperBesideBinaryIndex) {
  // KeyedByCode compares exactly, so it cannot serve a lookup that ignores
  // letter case.
  std::shared_ptr<Session> session = OpenSession();
  session->NoteEqualityLookup("Keyed", "Code", true);
  session->NoteEqualityLookup("Keyed", "Code", true);
  EXPECT_EQ("KeyedByCode;sqlite_autoindex_Keyed_1;tabsync_lookup_1;", IndexesOf(*session, "Keyed"));
  session->Close();
  EXPECT_EQ(schema_before_, Schema());
}

TEST_F(LookupIndexTest, HelperNameAvoidsTheFilesOwnIndexesWhichCloseKeeps) {
  ExecSql(path_, "CREATE INDEX tabsync_lookup_1 ON Keyed (Code, ID);");
  std::string schema = Schema();
  std::shared_ptr<Session> session = OpenSession();
  session->NoteEqualityLookup("Plain", "Amount", false);
  session->NoteEqualityLookup("Plain", "Amount", false);
  EXPECT_EQ("tabsync_lookup_2;", IndexesOf(*session, "Plain"));
  EXPECT_FALSE(session->IsHelperIndex("tabsync_lookup_1"));
  session->Close();
  EXPECT_EQ(schema, Schema());
}

TEST_F(LookupIndexTest, KeyQueriesBesideAnOpenDynasetFindAddedRowsAndLeaveNoIndex) {
  // The record merge's pattern: additions through one open set, one key
  // query per record; the helper index appears between two of them.
  std::unique_ptr<DatabaseEngine> engine = NewSqliteEngine();
  std::unique_ptr<Database> db = engine->OpenDatabase(path_, kOpenExclusive);
  std::unique_ptr<Recordset> all = db->OpenRecordset("SELECT [ID], [Code] FROM [Plain];");
  for (int id = 10; id < 14; ++id) {
    auto key = db->OpenRecordset("SELECT [ID], [Code] FROM [Plain] WHERE [ID] = " +
                                 std::to_string(id) + ";");
    ASSERT_EQ(0, key->RecordCount()) << id;
    key->Close();
    all->AddNew();
    all->Fields().Item(0).SetValue(id);
    all->Fields().Item(1).SetValue("k" + std::to_string(id));
    all->Update();
    auto again = db->OpenRecordset("SELECT [ID], [Code] FROM [Plain] WHERE [Code] = 'K" +
                                   std::to_string(id) + "';");
    ASSERT_EQ(1, again->RecordCount()) << id;
    EXPECT_EQ(Variant(int64_t{id}), again->Fields().Item(0).Value());
  }
  EXPECT_EQ(0, db->TableDefs().Item("Plain").Indexes().Count());
  all->Close();
  db->Close();
  EXPECT_EQ(schema_before_, Schema());
  EXPECT_EQ("4\n", QuerySql(path_, "SELECT count(*) FROM Plain WHERE ID >= 10"));
}

}  // namespace
}  // namespace tabsync::dao
