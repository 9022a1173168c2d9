#include "engine/table_creation.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbengine/dao.h"
#include "support/raised_error.h"
#include "support/sqlite_merge_test.h"

namespace tabsync::engine {
namespace {

using Lines = std::vector<std::string>;

constexpr char kTableNamesSql[] =
    "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name COLLATE NOCASE";

// A database file without tables (SQLite writes no file for no statement).
constexpr char kNoTables[] = "PRAGMA user_version = 1;";

// "name type size attributes" of each field, one line each.
std::string DescribeFields(dao::Collection<dao::Field>& fields) {
  std::string text;
  for (int i = 0; i < fields.Count(); ++i) {
    dao::Field& field = fields.Item(i);
    text += field.Name() + " " + std::to_string(field.Type()) + " " +
            std::to_string(field.Size()) + " " + std::to_string(field.Attributes()) + "\n";
  }
  return text;
}

// The names of an index's fields, in its order, joined by ",".
std::string IndexFieldNames(dao::Index& index) {
  std::string names;
  for (int i = 0; i < index.Fields().Count(); ++i)
    names += (i ? "," : "") + index.Fields().Item(i).Name();
  return names;
}

std::string ColumnsSql(const std::string& table) {
  return "SELECT name, type, pk FROM pragma_table_info('" + table + "')";
}

std::string IndexesSql(const std::string& table) {
  return "SELECT origin FROM pragma_index_list('" + table + "')";
}

// ---- AddTable -------------------------------------------------------------

constexpr char kUpdateStations[] =
    "CREATE TABLE Stations (ID COUNTER PRIMARY KEY, Name TEXT(40) COLLATE NOCASE);"
    "INSERT INTO Stations VALUES (1, 'Oslo');";

// Tables of the update information go into the database in use, the way
// round the merge of one table uses it.
class AddTableTest : public test::SqliteMergeTest {
 protected:
  void Add(const std::string& table) {
    AddTable(context_, Existing(), Update().TableDefs().Item(table));
  }
  dao::TableDef& Added(const std::string& table) { return Existing().TableDefs().Item(table); }
};

TEST_F(AddTableTest, CounterKeyAndTextColumnGoIntoAnEmptyDatabase) {
  OpenDatabases(kNoTables, kUpdateStations);
  Add("Stations");
  EXPECT_EQ((Lines{"ADD TABLE Stations", "    COLUMN 0: ID (4)", "    COLUMN 1: Name (10)",
                   "    Primary Key: ID"}),
            LogLines());
  dao::TableDef& table = Added("Stations");
  EXPECT_EQ("Stations", table.Name());
  EXPECT_EQ("ID 4 4 49\nName 10 40 34\n", DescribeFields(table.Fields()));
  EXPECT_NE(0, table.Fields().Item("ID").Attributes() & dao::kFieldAutoIncrement);
  ASSERT_EQ(1, table.Indexes().Count());
  dao::Index& key = table.Indexes().Item(0);
  EXPECT_EQ("PrimaryKey", key.Name());
  EXPECT_TRUE(key.Primary());
  EXPECT_TRUE(key.Unique());
  EXPECT_EQ("ID", IndexFieldNames(key));
  EXPECT_EQ("Stations\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("ID|COUNTER|1\nName|TEXT(40)|0\n", QueryExisting(ColumnsSql("Stations")));
  EXPECT_EQ("0\n", QueryExisting("SELECT count(*) FROM Stations"));
}

TEST_F(AddTableTest, TwoFieldKeyKeepsTheIndexOrder) {
  OpenDatabases(kNoTables,
                "CREATE TABLE Rates (Region TEXT(10) COLLATE NOCASE, Code TEXT(5) COLLATE NOCASE,"
                " Rate DOUBLE, PRIMARY KEY (Code, Region));");
  Add("Rates");
  EXPECT_EQ((Lines{"ADD TABLE Rates", "    COLUMN 0: Region (10)", "    COLUMN 1: Code (10)",
                   "    COLUMN 2: Rate (7)", "    Primary Key: Code", "    Primary Key: Region"}),
            LogLines());
  dao::TableDef& table = Added("Rates");
  EXPECT_EQ("Region 10 10 34\nCode 10 5 34\nRate 7 8 33\n", DescribeFields(table.Fields()));
  ASSERT_EQ(1, table.Indexes().Count());
  EXPECT_EQ("PrimaryKey", table.Indexes().Item(0).Name());
  EXPECT_EQ("Code,Region", IndexFieldNames(table.Indexes().Item(0)));
  EXPECT_EQ("Region|TEXT(10)|2\nCode|TEXT(5)|1\nRate|DOUBLE|0\n",
            QueryExisting(ColumnsSql("Rates")));
}

TEST_F(AddTableTest, TableWithoutPrimaryKeyGetsNoIndex) {
  OpenDatabases(kNoTables,
                "CREATE TABLE Notes (Stamp DATETIME, Body MEMO COLLATE NOCASE);"
                "CREATE UNIQUE INDEX NotesByStamp ON Notes (Stamp);");
  ASSERT_EQ(1, Update().TableDefs().Item("Notes").Indexes().Count());
  Add("Notes");
  EXPECT_EQ((Lines{"ADD TABLE Notes", "    COLUMN 0: Stamp (8)", "    COLUMN 1: Body (12)"}),
            LogLines());
  EXPECT_EQ("Stamp 8 8 33\nBody 12 0 33\n", DescribeFields(Added("Notes").Fields()));
  EXPECT_EQ(0, Added("Notes").Indexes().Count());
  EXPECT_EQ("", QueryExisting(IndexesSql("Notes")));
}

TEST_F(AddTableTest, IndexesOtherThanThePrimaryKeyAreNotCopied) {
  OpenDatabases(kNoTables,
                std::string(kUpdateStations) + "CREATE INDEX StationsByName ON Stations (Name);");
  ASSERT_EQ(2, Update().TableDefs().Item("Stations").Indexes().Count());
  Add("Stations");
  EXPECT_EQ((Lines{"ADD TABLE Stations", "    COLUMN 0: ID (4)", "    COLUMN 1: Name (10)",
                   "    Primary Key: ID"}),
            LogLines());
  ASSERT_EQ(1, Added("Stations").Indexes().Count());
  EXPECT_TRUE(Added("Stations").Indexes().Item(0).Primary());
  EXPECT_EQ("pk\n", QueryExisting(IndexesSql("Stations")));
}

TEST_F(AddTableTest, TableOfThatNameInTheTargetRaises3010AndStaysAsItWas) {
  OpenDatabases(
      "CREATE TABLE stations (Code TEXT(5) COLLATE NOCASE);"
      "INSERT INTO stations VALUES ('AB');",
      kUpdateStations);
  test::ExpectError(errors::kTableExists, [this] { Add("Stations"); });
  // Every step is logged as it is built; only the last one reaches the file.
  EXPECT_EQ((Lines{"ADD TABLE Stations", "    COLUMN 0: ID (4)", "    COLUMN 1: Name (10)",
                   "    Primary Key: ID"}),
            LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ(1, Existing().TableDefs().Count());
  EXPECT_EQ("Code 10 5 34\n", DescribeFields(Added("Stations").Fields()));
  EXPECT_EQ("stations\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("Code|TEXT(5)|0\n", QueryExisting(ColumnsSql("stations")));
  EXPECT_EQ("", QueryExisting(IndexesSql("stations")));
  EXPECT_EQ("AB\n", QueryExisting("SELECT Code FROM stations"));
}

// ---- AddColumns -----------------------------------------------------------

class AddColumnsTest : public test::SqliteMergeTest {
 protected:
  dao::TableDef& UpdateTable(const std::string& table) { return Update().TableDefs().Item(table); }
};

// "CREATE TABLE <table> (ID LONG PRIMARY KEY, <prefix>01 LONG, ...)" with
// `columns` numbered columns.
std::string WideTableSql(const std::string& table, const std::string& prefix, int columns) {
  std::string sql = "CREATE TABLE " + table + " (ID LONG PRIMARY KEY";
  for (int i = 1; i <= columns; ++i)
    sql += ", " + prefix + (i < 10 ? "0" : "") + std::to_string(i) + " LONG";
  return sql + ");";
}

TEST_F(AddColumnsTest, MissingColumnsAreAddedWithNameTypeAndSize) {
  OpenDatabases(
      "CREATE TABLE Users (ID LONG PRIMARY KEY, Name TEXT(50) COLLATE NOCASE,"
      " Email TEXT(80) COLLATE NOCASE, Logins SHORT, Joined DATETIME);",
      "CREATE TABLE Users (ID LONG PRIMARY KEY, Name TEXT(50) COLLATE NOCASE, Joined DATETIME);"
      "INSERT INTO Users VALUES (1, 'Ann', '2024-03-01 09:30:00');");
  AddColumns(context_, "Users", "USERS");
  EXPECT_EQ((Lines{" ADD COLUMNS in USERS", "   ADD COLUMN Email", "   ADD COLUMN Logins"}),
            LogLines());
  EXPECT_EQ("ID 4 4 33\nName 10 50 34\nJoined 8 8 33\nEmail 10 80 34\nLogins 3 2 33\n",
            DescribeFields(UpdateTable("Users").Fields()));
  EXPECT_EQ("ID|LONG|1\nName|TEXT(50)|0\nJoined|DATETIME|0\nEmail|TEXT(80)|0\nLogins|SHORT|0\n",
            QueryUpdate(ColumnsSql("Users")));
  EXPECT_EQ("1|Ann|NULL|NULL\n", QueryUpdate("SELECT ID, Name, Email, Logins FROM Users"));
  EXPECT_EQ("ID|LONG|1\nName|TEXT(50)|0\nEmail|TEXT(80)|0\nLogins|SHORT|0\nJoined|DATETIME|0\n",
            QueryExisting(ColumnsSql("Users")));
}

TEST_F(AddColumnsTest, CounterColumnIsAddedAsPlainLong) {
  OpenDatabases("CREATE TABLE Orders (Serial COUNTER, Item TEXT(30) COLLATE NOCASE);",
                "CREATE TABLE Orders (Item TEXT(30) COLLATE NOCASE);"
                "INSERT INTO Orders VALUES ('cable');");
  AddColumns(context_, "Orders", "Orders");
  EXPECT_EQ((Lines{" ADD COLUMNS in Orders", "   ADD COLUMN Serial"}), LogLines());
  dao::Field& serial = UpdateTable("Orders").Fields().Item("Serial");
  EXPECT_EQ(dao::kTypeLong, serial.Type());
  EXPECT_EQ(0, serial.Attributes() & dao::kFieldAutoIncrement);
  EXPECT_EQ("Item|TEXT(30)|0\nSerial|LONG|0\n", QueryUpdate(ColumnsSql("Orders")));
  EXPECT_EQ("cable|NULL\n", QueryUpdate("SELECT Item, Serial FROM Orders"));
}

TEST_F(AddColumnsTest, TableWithAllColumnsLogsNothing) {
  OpenDatabases("CREATE TABLE Users (ID LONG PRIMARY KEY, Name TEXT(50) COLLATE NOCASE);",
                "CREATE TABLE Users (Name TEXT(50) COLLATE NOCASE, Email MEMO, ID LONG PRIMARY KEY);");
  AddColumns(context_, "Users", "Users");
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(3, UpdateTable("Users").Fields().Count());
  EXPECT_EQ("Name|TEXT(50)|0\nEmail|MEMO|0\nID|LONG|1\n", QueryUpdate(ColumnsSql("Users")));
}

TEST_F(AddColumnsTest, NameDifferingInCaseIsMissingAndTheEngineRefusesIt) {
  OpenDatabases(
      "CREATE TABLE Users (ID LONG PRIMARY KEY, Note TEXT(10) COLLATE NOCASE,"
      " EMail TEXT(80) COLLATE NOCASE, Age LONG);",
      "CREATE TABLE Users (ID LONG PRIMARY KEY, Email TEXT(80) COLLATE NOCASE);");
  test::ExpectError(errors::kFieldDefinedTwice,
                    [this] { AddColumns(context_, "Users", "Users"); });
  EXPECT_EQ((Lines{" ADD COLUMNS in Users", "   ADD COLUMN Note", "   ADD COLUMN EMail"}),
            LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
  // The column appended before the refusal stays; Age is never reached.
  EXPECT_EQ("ID|LONG|1\nEmail|TEXT(80)|0\nNote|TEXT(10)|0\n", QueryUpdate(ColumnsSql("Users")));
}

TEST_F(AddColumnsTest, ThirtyFirstMissingColumnEndsTheCall) {
  OpenDatabases(WideTableSql("Wide", "C", 32), "CREATE TABLE Wide (ID LONG PRIMARY KEY);");
  AddColumns(context_, "Wide", "Wide");
  Lines expected{" ADD COLUMNS in Wide"};
  for (int i = 1; i <= 31; ++i)
    expected.push_back("   ADD COLUMN C" + std::string(i < 10 ? "0" : "") + std::to_string(i));
  expected.push_back(" Too many fields to add!");
  EXPECT_EQ(expected, LogLines());
  dao::Collection<dao::Field>& fields = UpdateTable("Wide").Fields();
  ASSERT_EQ(1 + kMaxAddedColumns, fields.Count());
  EXPECT_EQ("C30", fields.Item(30).Name());
  EXPECT_EQ("31|0\n", QueryUpdate("SELECT count(*), sum(name IN ('C31', 'C32'))"
                                   " FROM pragma_table_info('Wide')"));
}

TEST_F(AddColumnsTest, SecondCallStartsCountingAgain) {
  OpenDatabases(WideTableSql("First", "A", 30) + WideTableSql("Second", "B", 1),
                "CREATE TABLE First (ID LONG PRIMARY KEY); CREATE TABLE Second (ID LONG PRIMARY KEY);");
  AddColumns(context_, "First", "First");
  AddColumns(context_, "Second", "Second");
  Lines lines = LogLines();
  ASSERT_EQ(1u + 30u + 2u, lines.size());
  EXPECT_EQ(" ADD COLUMNS in First", lines[0]);
  EXPECT_EQ("   ADD COLUMN A30", lines[30]);
  EXPECT_EQ(" ADD COLUMNS in Second", lines[31]);
  EXPECT_EQ("   ADD COLUMN B01", lines[32]);
  EXPECT_EQ(31, UpdateTable("First").Fields().Count());
  EXPECT_EQ("ID|LONG|1\nB01|LONG|0\n", QueryUpdate(ColumnsSql("Second")));
}

TEST_F(AddColumnsTest, TableThatDoesNotExistRaises3265) {
  OpenDatabases("CREATE TABLE Users (ID LONG PRIMARY KEY, Name TEXT(50));",
                "CREATE TABLE Users (ID LONG PRIMARY KEY);");
  test::ExpectError(errors::kItemNotFound, [this] { AddColumns(context_, "Accounts", "Users"); });
  test::ExpectError(errors::kItemNotFound, [this] { AddColumns(context_, "Users", "Accounts"); });
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("ID|LONG|1\n", QueryUpdate(ColumnsSql("Users")));
}

}  // namespace
}  // namespace tabsync::engine
