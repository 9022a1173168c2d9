// Record sets and SQL of the SQLite engine, on real files made by hand.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbengine/dao.h"
#include "dbengine/error.h"
#include "dbengine/sqlite_engine.h"
#include "support/raised_error.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::dao {
namespace {

using test::ExecSql;
using test::RaisedError;
using test::QuerySql;


// Table T (ID 1 "one", 2 "two", 3 "three"); the database is opened shared on
// first use, so a test can add tables by hand before that.
class SqliteRecordsetTest : public testing::Test {
 protected:
  void SetUp() override {
    ExecSql(path_,
            "CREATE TABLE T (ID LONG PRIMARY KEY, Name TEXT(50) COLLATE NOCASE);"
            "INSERT INTO T VALUES (1, 'one'), (2, 'two'), (3, 'three');");
  }

  Database& Db() {
    if (!db_) db_ = engine_->OpenDatabase(path_);
    return *db_;
  }

  // Rows of |sql| as QuerySql gives them, read after the session's Close.
  std::string QueryAfterClose(const std::string& sql) {
    Db().Close();
    return QuerySql(path_, sql);
  }

  // The first column of every record of |sql|, walked from the first record.
  std::vector<std::string> FirstColumn(const std::string& sql) {
    auto rs = Db().OpenRecordset(sql);
    std::vector<std::string> values;
    if (rs->RecordCount() == 0) return values;
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext())
      values.push_back(rs->Fields().Item(0).Value().ToText());
    std::sort(values.begin(), values.end());
    return values;
  }

  void AddRecordThrough(const std::string& sql, const Variant& id, const Variant& name) {
    auto rs = Db().OpenRecordset(sql);
    AddRecord(*rs, id, name);
  }

  static void AddRecord(Recordset& rs, const Variant& id, const Variant& name) {
    rs.AddNew();
    rs.Fields().Item("ID").SetValue(id);
    rs.Fields().Item("Name").SetValue(name);
    rs.Update(kUpdateRegular, false);
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("test.mdb");
  std::unique_ptr<DatabaseEngine> engine_ = NewSqliteEngine();
  std::unique_ptr<Database> db_;
};

using Strings = std::vector<std::string>;

// --- Counting and moving ---

TEST_F(SqliteRecordsetTest, RecordCountIsZeroExactlyWhenNothingMatched) {
  auto none = Db().OpenRecordset("SELECT * FROM T WHERE ID = 99");
  EXPECT_EQ(0, none->RecordCount());
  EXPECT_TRUE(none->Eof());
  EXPECT_GE(Db().OpenRecordset("SELECT * FROM T WHERE ID = 3")->RecordCount(), 1);
  EXPECT_GE(Db().OpenRecordset("SELECT * FROM T")->RecordCount(), 1);
}

TEST_F(SqliteRecordsetTest, MoveFirstOnEmptySetRaises3021) {
  auto rs = Db().OpenRecordset("SELECT * FROM T WHERE ID = 99");
  Error error = RaisedError([&] { rs->MoveFirst(); });
  EXPECT_EQ(3021, error.Number());
  EXPECT_EQ("No current record.", error.Description());
}

TEST_F(SqliteRecordsetTest, MoveNextPastLastRecordRaises3021) {
  auto rs = Db().OpenRecordset("SELECT ID FROM T");
  rs->MoveFirst();
  int visited = 0;
  for (; !rs->Eof(); rs->MoveNext()) ++visited;
  EXPECT_EQ(3, visited);
  EXPECT_EQ(3, rs->RecordCount());
  EXPECT_EQ(3021, RaisedError([&] { rs->MoveNext(); }).Number());
  EXPECT_EQ(3021, RaisedError([&] { rs->Fields().Item(0).Value(); }).Number());
  EXPECT_EQ(3021, RaisedError([&] { rs->Edit(); }).Number());
}

// --- AddNew, Edit, Update ---

TEST_F(SqliteRecordsetTest, UpdateWithoutAddNewOrEditRaises3020) {
  auto rs = Db().OpenRecordset("SELECT * FROM T");
  Error error = RaisedError([&] { rs->Update(kUpdateRegular, false); });
  EXPECT_EQ(3020, error.Number());
  EXPECT_EQ("Update or CancelUpdate without AddNew or Edit.", error.Description());
  EXPECT_EQ(3020, RaisedError([&] { rs->Fields().Item("Name").SetValue("x"); }).Number());
}

TEST_F(SqliteRecordsetTest, SnapshotAndReadOnlyDynasetRefuseChangesWith3027) {
  auto snapshot = Db().OpenRecordset("SELECT * FROM T", kSnapshot);
  auto read_only = Db().OpenRecordset("SELECT * FROM T", kDynaset, kReadOnlyOption);
  for (Recordset* rs : {snapshot.get(), read_only.get()}) {
    rs->MoveFirst();
    Error error = RaisedError([&] { rs->AddNew(); });
    EXPECT_EQ(3027, error.Number());
    EXPECT_EQ("Cannot update. Database or object is read-only.", error.Description());
    EXPECT_EQ(3027, RaisedError([&] { rs->Edit(); }).Number());
  }
  EXPECT_EQ("3\n", QueryAfterClose("SELECT count(*) FROM T"));
}

TEST_F(SqliteRecordsetTest, AddingExistingKeyRaises3022) {
  auto rs = Db().OpenRecordset("SELECT * FROM T");
  Error error = RaisedError([&] { AddRecord(*rs, 2, "again"); });
  EXPECT_EQ(3022, error.Number());
  EXPECT_EQ(
      "The changes you requested to the table were not successful because they would create "
      "duplicate values in the index, primary key, or relationship.",
      error.Description());
  EXPECT_EQ("2|two\n", QueryAfterClose("SELECT * FROM T WHERE ID = 2"));
}

TEST_F(SqliteRecordsetTest, RequiredFieldLeftEmptyRaises3314NamingTableAndField) {
  ExecSql(path_, "CREATE TABLE Items (ID LONG PRIMARY KEY, Label TEXT(20) NOT NULL)");
  auto rs = Db().OpenRecordset("SELECT * FROM Items");
  rs->AddNew();
  rs->Fields().Item("ID").SetValue(1);
  Error error = RaisedError([&] { rs->Update(kUpdateRegular, false); });
  EXPECT_EQ(3314, error.Number());
  EXPECT_EQ("You must enter a value in the 'Items.Label' field.", error.Description());
}

TEST_F(SqliteRecordsetTest, EditWritesChangeAndShowsNewValue) {
  auto rs = Db().OpenRecordset("SELECT ID, Name FROM T WHERE ID = 1");
  rs->MoveFirst();
  rs->Edit();
  rs->Fields().Item("Name").SetValue("uno");
  rs->Update(kUpdateRegular, false);
  EXPECT_EQ("uno", rs->Fields().Item("Name").Value().ToText());
  rs->Close();
  EXPECT_EQ("1|uno\n2|two\n", QueryAfterClose("SELECT * FROM T WHERE ID < 3 ORDER BY ID"));
}

TEST_F(SqliteRecordsetTest, AddNewKeepsCurrentRecordAndGrowsRecordCount) {
  auto rs = Db().OpenRecordset("SELECT ID, Name FROM T WHERE ID = 2");
  int before = rs->RecordCount();
  AddRecord(*rs, 4, "four");
  EXPECT_EQ(before + 1, rs->RecordCount());
  EXPECT_EQ(2, rs->Fields().Item("ID").Value().AsInteger());
}

TEST_F(SqliteRecordsetTest, AdditionsThroughOneSetWriteTheColumnsEachOneSets) {
  auto rs = Db().OpenRecordset("SELECT ID, Name FROM T");
  AddRecord(*rs, 4, "four");
  rs->AddNew();
  rs->Fields().Item("ID").SetValue(5);
  rs->Update();
  rs->AddNew();
  rs->Fields().Item("Name").SetValue("six");
  rs->Fields().Item("ID").SetValue(6);
  rs->Update();
  EXPECT_EQ("4|four\n5|NULL\n6|six\n", QueryAfterClose("SELECT ID, Name FROM T WHERE ID > 3 ORDER BY ID"));
}

TEST_F(SqliteRecordsetTest, KeyQuerySeesRecordAddedEarlierInSession) {
  auto target = Db().OpenRecordset("SELECT [ID], [Name] FROM T;");
  AddRecord(*target, 7, "seven");
  auto key = Db().OpenRecordset("SELECT [ID], [Name] FROM T WHERE ID = 7;");
  ASSERT_GT(key->RecordCount(), 0);
  key->MoveFirst();
  EXPECT_EQ("seven", key->Fields().Item("Name").Value().ToText());
}

// --- COUNTER columns ---

TEST_F(SqliteRecordsetTest, CounterInEmptyTableStartsAtOne) {
  ExecSql(path_, "CREATE TABLE C (ID COUNTER PRIMARY KEY, Name TEXT(20) COLLATE NOCASE)");
  auto rs = Db().OpenRecordset("SELECT * FROM C");
  for (const char* name : {"a", "b"}) {
    rs->AddNew();
    rs->Fields().Item("Name").SetValue(name);
    rs->Update(kUpdateRegular, false);
  }
  rs->Close();
  EXPECT_EQ("1|a\n2|b\n", QueryAfterClose("SELECT ID, Name FROM C ORDER BY ID"));
}

TEST_F(SqliteRecordsetTest, CounterContinuesAfterLargestPresent) {
  ExecSql(path_,
          "CREATE TABLE C (ID COUNTER PRIMARY KEY, Name TEXT(20) COLLATE NOCASE);"
          "INSERT INTO C VALUES (9, 'x'), (5, 'y');");
  auto rs = Db().OpenRecordset("SELECT * FROM C");
  AddRecord(*rs, Variant::Null(), "z");
  rs->Close();
  EXPECT_EQ("10\n", QueryAfterClose("SELECT ID FROM C WHERE Name = 'z'"));
}

TEST_F(SqliteRecordsetTest, CounterOutsidePrimaryKeyIsNumbered) {
  ExecSql(path_,
          "CREATE TABLE L (Name TEXT(20) COLLATE NOCASE PRIMARY KEY, Seq COUNTER);"
          "INSERT INTO L VALUES ('x', 7);");
  auto rs = Db().OpenRecordset("SELECT * FROM L");
  rs->AddNew();
  rs->Fields().Item("Name").SetValue("y");
  rs->Update(kUpdateRegular, false);
  rs->Close();
  EXPECT_EQ("x|7\ny|8\n", QueryAfterClose("SELECT * FROM L ORDER BY Seq"));
}

// --- Field names ---

class SqliteStringTableTest : public SqliteRecordsetTest {
 protected:
  void SetUp() override {
    SqliteRecordsetTest::SetUp();
    ExecSql(path_,
            "CREATE TABLE StringTable (ID LONG PRIMARY KEY, GER TEXT(255) COLLATE NOCASE, "
            "ENG TEXT(255) COLLATE NOCASE, ReplaceRow BIT);"
            "INSERT INTO StringTable VALUES (12, 'Ja', 'Yes', 1);");
  }
};

TEST_F(SqliteStringTableTest, QualifiedNameFindsColumnListedTwice) {
  auto rs =
      Db().OpenRecordset("SELECT [ID], [GER], [ENG], [ReplaceRow] , ReplaceRow FROM StringTable");
  ASSERT_EQ(5, rs->Fields().Count());
  rs->MoveFirst();
  Field& qualified = rs->Fields().Item("stringtable.replacerow");
  EXPECT_EQ(&rs->Fields().Item(3), &qualified);
  EXPECT_EQ(&rs->Fields().Item(3), &rs->Fields().Item("REPLACEROW"));
  EXPECT_EQ("ReplaceRow", qualified.Name());
  EXPECT_TRUE(qualified.Value().AsBoolean());
  EXPECT_EQ("Yes", rs->Fields().Item("StringTable.ENG").Value().ToText());
}

TEST_F(SqliteStringTableTest, QualifiedNameInTargetQueryWithBlankBeforeComma) {
  auto rs = Db().OpenRecordset("SELECT [ID], [GER], [ENG] , ReplaceRow FROM StringTable;");
  ASSERT_EQ(4, rs->Fields().Count());
  rs->MoveFirst();
  EXPECT_TRUE(rs->Fields().Item("STRINGTABLE.REPLACEROW").Value().AsBoolean());
  Error error = RaisedError([&] { rs->Fields().Item("StringTable.Missing"); });
  EXPECT_EQ(3265, error.Number());
  EXPECT_EQ("Item not found in this collection.", error.Description());
}

// --- SQL the update logic sends ---

class SqliteTextComparisonTest : public SqliteRecordsetTest,
                                 public testing::WithParamInterface<const char*> {};

TEST_P(SqliteTextComparisonTest, FeatureMatchesInAnyLetterCaseAndIsReplaced) {
  ExecSql(path_, std::string("CREATE TABLE Services (Feature ") + GetParam() + ");" +
                     "INSERT INTO Services VALUES ('JobManagement'), ('JOBMANAGEMENT'), ('Reports');");
  auto rs = Db().OpenRecordset("SELECT Feature FROM Services WHERE Feature = 'Jobmanagement'");
  ASSERT_GT(rs->RecordCount(), 0);
  int changed = 0;
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext(), ++changed) {
    rs->Edit();
    rs->Fields().Item(0).SetValue("OnlineShop");
    rs->Update(kUpdateRegular, false);
  }
  rs->Close();
  EXPECT_EQ(2, changed);
  EXPECT_EQ("OnlineShop\nOnlineShop\nReports\n",
            QueryAfterClose("SELECT Feature FROM Services ORDER BY Feature"));
}

INSTANTIATE_TEST_SUITE_P(Declarations, SqliteTextComparisonTest,
                         testing::Values("TEXT(50) COLLATE NOCASE", "TEXT(50)", "MEMO"));

TEST_F(SqliteRecordsetTest, PrivilegeMissingUnderBothKeysIsAddedWithTableDefaults) {
  ExecSql(path_,
          "CREATE TABLE AccessPrivileges (GroupID SHORT NOT NULL, ID SHORT NOT NULL, "
          "Allowed BIT NOT NULL DEFAULT 1, PRIMARY KEY (GroupID, ID));"
          "INSERT INTO AccessPrivileges VALUES (5, 11, 0), (4, 12, 0);");
  const std::string sql = "SELECT GroupID, ID FROM AccessPrivileges WHERE GroupID=5 AND ID=12";
  auto rs = Db().OpenRecordset(sql);
  ASSERT_EQ(0, rs->RecordCount());
  rs->AddNew();
  rs->Fields().Item(0).SetValue(5);
  rs->Fields().Item(1).SetValue(12);
  rs->Update(kUpdateRegular, false);
  EXPECT_EQ(1, rs->RecordCount());
  rs->Close();
  EXPECT_GT(Db().OpenRecordset(sql)->RecordCount(), 0);
  EXPECT_EQ("5|12|1\n",
            QueryAfterClose("SELECT * FROM AccessPrivileges WHERE GroupID = 5 AND ID = 12"));
}

TEST_F(SqliteRecordsetTest, BracketedAndBareNamesWithTrailingSemicolon) {
  EXPECT_EQ(Strings{"2"}, FirstColumn("SELECT [ID], Name FROM [T] WHERE [Name] = 'TWO';"));
  EXPECT_EQ((Strings{"2", "3"}), FirstColumn("select id from t where not (id = 1)"));
  EXPECT_EQ((Strings{"1", "3"}), FirstColumn("SELECT ID FROM T WHERE ID <= 1 Or ID >= 3"));
  EXPECT_EQ(Strings{"3"}, FirstColumn("SELECT * FROM T WHERE (ID <> 2) And Not (Name = 'ONE')"));
}

TEST_F(SqliteRecordsetTest, KeyWithDoubledQuoteIsFound) {
  ExecSql(path_,
          "CREATE TABLE People (Name TEXT(50) COLLATE NOCASE PRIMARY KEY);"
          "INSERT INTO People VALUES ('O''Brien'), ('OBrien');");
  EXPECT_EQ(Strings{"O'Brien"}, FirstColumn("SELECT Name FROM People WHERE Name = 'O''Brien';"));
  Db().Execute("DELETE FROM People WHERE Name = 'o''brien'", kFailOnError);
  EXPECT_EQ("OBrien\n", QueryAfterClose("SELECT * FROM People"));
}

TEST_F(SqliteRecordsetTest, NumericRangeOnLongIdDeletesOnlyInside) {
  ExecSql(path_,
          "CREATE TABLE StringTable (ID LONG PRIMARY KEY, ENG TEXT(255) COLLATE NOCASE);"
          "INSERT INTO StringTable (ID) VALUES (5), (13099), (13100), (13150), (13208), (13209);");
  const std::string condition = "WHERE (ID > 13099) And (ID < 13209)";
  auto rs = Db().OpenRecordset("SELECT * FROM StringTable " + condition);
  EXPECT_GT(rs->RecordCount(), 0);
  EXPECT_EQ((Strings{"13100", "13150", "13208"}),
            FirstColumn("SELECT ID FROM StringTable WHERE (ID > '13099') And (ID < '13209')"));
  Db().Execute("DELETE FROM StringTable " + condition, kFailOnError);
  rs->Close();
  EXPECT_EQ("5\n13099\n13209\n", QueryAfterClose("SELECT ID FROM StringTable ORDER BY ID"));
}

TEST_F(SqliteRecordsetTest, QuotedRangeOnTextIdFollowsTextOrder) {
  ExecSql(path_,
          "CREATE TABLE StringTable (ID TEXT(10) COLLATE NOCASE PRIMARY KEY, ENG TEXT(255));"
          "INSERT INTO StringTable (ID) VALUES ('13099'), ('13100'), ('131'), ('1315'), "
          "('13208'), ('13209'), ('1309'), ('2');");
  const std::string condition = "WHERE (ID > '13099') And (ID < '13209')";
  EXPECT_EQ((Strings{"131", "13100", "1315", "13208"}),
            FirstColumn("SELECT * FROM StringTable " + condition));
  Db().Execute("DELETE FROM StringTable " + condition, kFailOnError);
  EXPECT_EQ("1309\n13099\n13209\n2\n", QueryAfterClose("SELECT ID FROM StringTable ORDER BY ID"));
}

TEST_F(SqliteRecordsetTest, ExecuteFailingPartwayDeletesNothing) {
  ExecSql(path_,
          "CREATE TRIGGER KeepThree BEFORE DELETE ON T WHEN OLD.ID = 3 "
          "BEGIN SELECT RAISE(ABORT, 'kept'); END;");
  EXPECT_NE(0, RaisedError([&] { Db().Execute("DELETE FROM T", kFailOnError); }).Number());
  EXPECT_EQ("3\n", QueryAfterClose("SELECT count(*) FROM T"));
}

// --- Statements refused ---

TEST_F(SqliteRecordsetTest, UnknownColumnRaises3061) {
  for (const char* sql : {"SELECT [ID], [Nope] FROM T", "SELECT ID FROM T WHERE Nope = 1",
                          "SELECT * FROM T WHERE (ID = 1) Or ([No pe] = 'x')"}) {
    Error error = RaisedError([&] { Db().OpenRecordset(sql); });
    EXPECT_EQ(3061, error.Number()) << sql;
    EXPECT_EQ("Too few parameters. Expected 1.", error.Description()) << sql;
  }
  EXPECT_EQ(3061, RaisedError([&] { Db().Execute("DELETE FROM T WHERE Nope = 1", 128); }).Number());
  EXPECT_EQ("3\n", QueryAfterClose("SELECT count(*) FROM T"));
}

TEST_F(SqliteRecordsetTest, UnknownTableRaises3078WithItsName) {
  Error error = RaisedError([&] { Db().OpenRecordset("SELECT * FROM Missing"); });
  EXPECT_EQ(3078, error.Number());
  EXPECT_EQ("The database engine cannot find the input table or query 'Missing'.",
            error.Description());
  EXPECT_EQ(3078, RaisedError([&] { Db().Execute("DELETE FROM Missing", 128); }).Number());
}

TEST_F(SqliteRecordsetTest, MalformedStatementsRaiseSyntaxErrors) {
  struct Case {
    const char* sql;
    int number;
  };
  for (const Case& c : {Case{"SELEKT ID FROM T", 3075}, Case{"SELECT ID, FROM T", 3075},
                        Case{"SELECT [ID FROM T", 3075}, Case{"SELECT ID FROM", 3131},
                        Case{"SELECT ID FROM T WHERE", 3145},
                        Case{"SELECT ID FROM T WHERE ID =", 3145},
                        Case{"SELECT ID FROM T WHERE (ID = 1", 3145},
                        Case{"SELECT ID FROM T WHERE Name = 'one", 3145},
                        Case{"SELECT ID FROM T WHERE ID = 1 ORDER BY ID", 3145}}) {
    EXPECT_EQ(c.number, RaisedError([&] { Db().OpenRecordset(c.sql); }).Number()) << c.sql;
  }
  EXPECT_EQ(3145, RaisedError([&] { Db().Execute("DELETE FROM T WHERE ID = = 1", 128); }).Number());
}

TEST_F(SqliteRecordsetTest, ExecuteOfSelectRaises3065) {
  EXPECT_EQ(3065, RaisedError([&] { Db().Execute("SELECT * FROM T", kFailOnError); }).Number());
}

TEST_F(SqliteRecordsetTest, OpenRecordsetOfDeleteRaises3219AndDeletesNothing) {
  EXPECT_EQ(3219, RaisedError([&] { Db().OpenRecordset("DELETE FROM T WHERE ID = 1"); }).Number());
  EXPECT_EQ("3\n", QueryAfterClose("SELECT count(*) FROM T"));
}

}  // namespace
}  // namespace tabsync::dao

namespace tabsync::dao {
namespace {

// --- Key queries repeated with other keys (planned once per shape) ---

class RepeatedQueryTest : public SqliteRecordsetTest {
 protected:
  std::string NameOf(const std::string& sql) {
    auto rs = Db().OpenRecordset(sql);
    return rs->Eof() ? "<none>" : rs->Fields().Item("Name").Value().ToText();
  }
};

TEST_F(RepeatedQueryTest, EachKeyFindsItsOwnRecord) {
  AddRecordThrough("SELECT ID, Name FROM T", -4, "minus four");
  AddRecordThrough("SELECT ID, Name FROM T", 5, "it's");
  EXPECT_EQ("one", NameOf("SELECT [ID], [Name] FROM T WHERE [ID] = 1;"));
  EXPECT_EQ("three", NameOf("SELECT [ID], [Name] FROM T WHERE [ID] = 3;"));
  EXPECT_EQ("minus four", NameOf("SELECT [ID], [Name] FROM T WHERE [ID] = -4;"));
  EXPECT_EQ("<none>", NameOf("SELECT [ID], [Name] FROM T WHERE [ID] = 9;"));
  EXPECT_EQ("two", NameOf("SELECT [ID], [Name] FROM T WHERE [Name] = 'TWO';"));
  EXPECT_EQ("it's", NameOf("SELECT [ID], [Name] FROM T WHERE [Name] = 'it''s';"));
  EXPECT_EQ("one", NameOf("SELECT [ID], [Name] FROM T WHERE [Name] = 'one';"));
  // A text where the last key was a number, and text that is no literal.
  EXPECT_EQ("<none>", NameOf("SELECT [ID], [Name] FROM T WHERE [ID] = '7';"));
  EXPECT_EQ("one", NameOf("SELECT [ID], [Name] FROM T WHERE [Name] = 'x' OR [ID] = 1;"));
  EXPECT_EQ(errors::kTooFewParameters,
            test::RaisedError([&] { NameOf("SELECT [ID], [Name] FROM T WHERE [ID] = x;"); }).Number());
}

TEST_F(RepeatedQueryTest, ReadOnlyRequestOfTheSameTextGetsReadOnlySet) {
  auto dynaset = Db().OpenRecordset("SELECT [ID], [Name] FROM T WHERE [ID] = 1;", kDynaset);
  dynaset->Edit();
  auto snapshot = Db().OpenRecordset("SELECT [ID], [Name] FROM T WHERE [ID] = 2;", kSnapshot);
  EXPECT_EQ(errors::kReadOnly, test::RaisedError([&] { snapshot->Edit(); }).Number());
  auto read_only = Db().OpenRecordset("SELECT [ID], [Name] FROM T WHERE [ID] = 3;", kDynaset,
                                      kReadOnlyOption);
  EXPECT_EQ(errors::kReadOnly, test::RaisedError([&] { read_only->AddNew(); }).Number());
}

TEST_F(RepeatedQueryTest, RenamedColumnIsNotReadThroughTheOldPlan) {
  EXPECT_EQ("one", NameOf("SELECT [ID], [Name] FROM T WHERE [ID] = 1;"));
  Db().TableDefs().Item("T").Fields().Item("Name").SetName("Label");
  EXPECT_EQ(errors::kTooFewParameters,
            test::RaisedError([&] { NameOf("SELECT [ID], [Name] FROM T WHERE [ID] = 2;"); }).Number());
  auto rs = Db().OpenRecordset("SELECT [ID], [Label] FROM T WHERE [ID] = 2;");
  EXPECT_EQ(Variant("two"), rs->Fields().Item("Label").Value());
}

TEST_F(RepeatedQueryTest, MoveFirstReadsTheRecordAgainAfterAChange) {
  auto key = Db().OpenRecordset("SELECT [ID], [Name] FROM T WHERE [ID] = 2;");
  auto other = Db().OpenRecordset("SELECT [ID], [Name] FROM T WHERE [ID] = 2;");
  other->Edit();
  other->Fields().Item("Name").SetValue("zwei");
  other->Update();
  key->MoveFirst();
  EXPECT_EQ(Variant("zwei"), key->Fields().Item("Name").Value());
}

}  // namespace
}  // namespace tabsync::dao
