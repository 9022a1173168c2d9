#include "engine/schema_renames.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbengine/dao.h"
#include "support/raised_error.h"
#include "support/sqlite_files.h"
#include "support/sqlite_merge_test.h"

namespace tabsync::engine {
namespace {

using Lines = std::vector<std::string>;

constexpr char kTableNamesSql[] =
    "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name COLLATE NOCASE";

// A column name with a degree sign, as UTF-8.
constexpr char kCutoff[] = "Cutoff 5\xC2\xB0";

std::string ColumnsSql(const std::string& table) {
  return "SELECT name, type FROM pragma_table_info('" + table + "')";
}

// ---- RenameTable ----------------------------------------------------------

class RenameTableTest : public test::SqliteMergeTest {
 protected:
  void Rename() { RenameTable(context_, "Privilegies", "AccessPrivileges"); }
};

TEST_F(RenameTableTest, OldTableTakesTheNewNameWithItsRows) {
  // The update information's own old table shows the rename touches only the
  // database in use.
  OpenDatabases(
      "CREATE TABLE privilegies (ID LONG PRIMARY KEY, Name TEXT(30) COLLATE NOCASE);"
      "INSERT INTO privilegies VALUES (1, 'read'), (2, 'write');"
      "CREATE TABLE Users (ID LONG PRIMARY KEY);",
      "CREATE TABLE privilegies (ID LONG PRIMARY KEY);");
  Rename();
  EXPECT_EQ(Lines{" RENAME Table: Privilegies -> AccessPrivileges"}, LogLines());
  EXPECT_EQ("AccessPrivileges", Existing().TableDefs().Item(0).Name());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("AccessPrivileges\nUsers\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("1|read\n2|write\n",
            QueryExisting("SELECT ID, Name FROM AccessPrivileges ORDER BY ID"));
  EXPECT_EQ("privilegies\n", QueryUpdate(kTableNamesSql));
}

TEST_F(RenameTableTest, MissingOldTableChangesNothingAndLogsNothing) {
  OpenDatabases("CREATE TABLE AccessPrivileges (ID LONG PRIMARY KEY);",
                "CREATE TABLE AccessPrivileges (ID LONG PRIMARY KEY);");
  Rename();
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("AccessPrivileges\n", QueryExisting(kTableNamesSql));
}

TEST_F(RenameTableTest, TakenNewNameRaises3010ToTheCaller) {
  OpenDatabases(
      "CREATE TABLE privilegies (ID LONG PRIMARY KEY);"
      "INSERT INTO privilegies VALUES (1);"
      "CREATE TABLE AccessPrivileges (ID LONG PRIMARY KEY);"
      "INSERT INTO AccessPrivileges VALUES (7);",
      "CREATE TABLE AccessPrivileges (ID LONG PRIMARY KEY);");
  test::ExpectError(errors::kTableExists, [this] { Rename(); });
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("AccessPrivileges\nprivilegies\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("1\n", QueryExisting("SELECT ID FROM privilegies"));
  EXPECT_EQ("7\n", QueryExisting("SELECT ID FROM AccessPrivileges"));
}

TEST_F(RenameTableTest, TakenNewNameIsLoggedByTheRunsErrorCapture) {
  OpenDatabases(
      "CREATE TABLE Privilegies (ID LONG PRIMARY KEY);"
      "CREATE TABLE accessprivileges (ID LONG PRIMARY KEY);",
      "CREATE TABLE AccessPrivileges (ID LONG PRIMARY KEY);");
  std::string description = test::ExpectError(errors::kTableExists, [this] { Rename(); });
  EXPECT_FALSE(RunCaptured(context_, [this] { Rename(); }));
  EXPECT_EQ(Lines{" ERROR 3010: " + description}, LogLines());
  EXPECT_FALSE(description.empty());
  EXPECT_TRUE(context_.ErrorsDetected());
}

// ---- RenameColumn ---------------------------------------------------------

class RenameColumnTest : public test::SqliteMergeTest {
 protected:
  void Rename() { RenameColumn(context_, "Users", "Full Name", "FullName"); }
};

TEST_F(RenameColumnTest, ColumnTakesTheNewNameAndKeepsItsData) {
  OpenDatabases(
      "CREATE TABLE USERS (ID LONG PRIMARY KEY, \"full name\" TEXT(50) COLLATE NOCASE, Age LONG);"
      "INSERT INTO USERS VALUES (1, 'Ann Berg', 41), (2, 'Tom Lind', NULL);",
      "CREATE TABLE Users (ID LONG PRIMARY KEY, FullName TEXT(50) COLLATE NOCASE);");
  Rename();
  EXPECT_EQ(Lines{" RENAME COLUMN, Table 'Users'; Column: Full Name -> FullName"}, LogLines());
  EXPECT_EQ("FullName", Existing().TableDefs().Item("Users").Fields().Item(1).Name());
  EXPECT_EQ("USERS\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("ID|LONG\nFullName|TEXT(50)\nAge|LONG\n", QueryExisting(ColumnsSql("USERS")));
  EXPECT_EQ("1|Ann Berg|41\n2|Tom Lind|NULL\n",
            QueryExisting("SELECT ID, FullName, Age FROM USERS ORDER BY ID"));
}

TEST_F(RenameColumnTest, MissingTableChangesNothing) {
  OpenDatabases("CREATE TABLE Accounts (ID LONG PRIMARY KEY, \"Full Name\" TEXT(50));",
                "CREATE TABLE Users (ID LONG PRIMARY KEY, FullName TEXT(50));");
  Rename();
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("ID|LONG\nFull Name|TEXT(50)\n", QueryExisting(ColumnsSql("Accounts")));
}

TEST_F(RenameColumnTest, MissingColumnChangesNothing) {
  OpenDatabases("CREATE TABLE Users (ID LONG PRIMARY KEY, Name TEXT(50));",
                "CREATE TABLE Users (ID LONG PRIMARY KEY, FullName TEXT(50));");
  Rename();
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("ID|LONG\nName|TEXT(50)\n", QueryExisting(ColumnsSql("Users")));
}

TEST_F(RenameColumnTest, ColumnOfAnotherTableIsNotRenamed) {
  // Only the first table that matches the table name is searched.
  OpenDatabases(
      "CREATE TABLE Groups (ID LONG PRIMARY KEY, \"Full Name\" TEXT(50));"
      "CREATE TABLE Users (ID LONG PRIMARY KEY, Name TEXT(50));",
      "CREATE TABLE Users (ID LONG PRIMARY KEY, FullName TEXT(50));");
  Rename();
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("ID|LONG\nFull Name|TEXT(50)\n", QueryExisting(ColumnsSql("Groups")));
  EXPECT_EQ("ID|LONG\nName|TEXT(50)\n", QueryExisting(ColumnsSql("Users")));
}

TEST_F(RenameColumnTest, TakenNewNameRaises3191ToTheCaller) {
  OpenDatabases(
      "CREATE TABLE Users (ID LONG PRIMARY KEY, \"Full Name\" TEXT(50), fullname TEXT(80));"
      "INSERT INTO Users VALUES (1, 'Ann Berg', 'A. Berg');",
      "CREATE TABLE Users (ID LONG PRIMARY KEY, FullName TEXT(50));");
  test::ExpectError(errors::kFieldDefinedTwice, [this] { Rename(); });
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("ID|LONG\nFull Name|TEXT(50)\nfullname|TEXT(80)\n",
            QueryExisting(ColumnsSql("Users")));
  EXPECT_EQ("1|Ann Berg|A. Berg\n", QueryExisting("SELECT * FROM Users"));
}

TEST_F(RenameColumnTest, NameWithDegreeSignIsRenamed) {
  OpenDatabases(
      "CREATE TABLE Stations (ID LONG PRIMARY KEY, \"CUTOFF 5\xC2\xB0\" DOUBLE);"
      "INSERT INTO Stations VALUES (1, 12.5);",
      "CREATE TABLE Stations (ID LONG PRIMARY KEY, Cutoff_5 DOUBLE);");
  RenameColumn(context_, "stations", kCutoff, "Cutoff_5");
  EXPECT_EQ(Lines{std::string(" RENAME COLUMN, Table 'stations'; Column: ") + kCutoff +
                  " -> Cutoff_5"},
            LogLines());
  EXPECT_EQ("ID|LONG\nCutoff_5|DOUBLE\n", QueryExisting(ColumnsSql("Stations")));
  EXPECT_EQ("1|12.5\n", QueryExisting("SELECT ID, Cutoff_5 FROM Stations"));
}

// ---- InsertColumn ---------------------------------------------------------

constexpr char kUpdatePasswd[] =
    "CREATE TABLE Passwd (ID LONG PRIMARY KEY, User TEXT(20) COLLATE NOCASE,"
    " maxNtripConn TEXT(12) COLLATE NOCASE);";
constexpr char kExistingPasswd[] =
    "CREATE TABLE passwd (ID LONG PRIMARY KEY, User TEXT(20) COLLATE NOCASE);"
    "INSERT INTO passwd VALUES (1, 'rover1');";
constexpr char kPasswdColumnsBefore[] = "ID|LONG\nUser|TEXT(20)\n";

class InsertColumnTest : public test::SqliteMergeTest {
 protected:
  void Insert() { InsertColumn(context_, "Passwd", "MaxNtripConn"); }
};

TEST_F(InsertColumnTest, AddsTheUpdateInformationsColumn) {
  OpenDatabases(kExistingPasswd, kUpdatePasswd);
  Insert();
  EXPECT_EQ(Lines{" INSERT COLUMN, Table 'Passwd'; Column: MaxNtripConn"}, LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
  dao::Collection<dao::Field>& fields = Existing().TableDefs().Item("Passwd").Fields();
  ASSERT_EQ(3, fields.Count());
  EXPECT_EQ("maxNtripConn", fields.Item(2).Name());
  EXPECT_EQ(dao::kTypeText, fields.Item(2).Type());
  EXPECT_EQ(12, fields.Item(2).Size());
  EXPECT_EQ("ID|LONG\nUser|TEXT(20)\nmaxNtripConn|TEXT(12)\n", QueryExisting(ColumnsSql("passwd")));
  EXPECT_EQ("1|rover1|NULL\n", QueryExisting("SELECT * FROM passwd"));
}

TEST_F(InsertColumnTest, SecondCallEndsQuietly) {
  OpenDatabases(kExistingPasswd, kUpdatePasswd);
  Insert();
  EXPECT_NO_THROW(Insert());
  EXPECT_EQ(Lines{" INSERT COLUMN, Table 'Passwd'; Column: MaxNtripConn"}, LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ(3, Existing().TableDefs().Item("Passwd").Fields().Count());
  EXPECT_EQ("ID|LONG\nUser|TEXT(20)\nmaxNtripConn|TEXT(12)\n", QueryExisting(ColumnsSql("passwd")));
}

TEST_F(InsertColumnTest, UpdateInformationWithoutTheTableChangesNothing) {
  OpenDatabases(kExistingPasswd, "CREATE TABLE Users (ID LONG PRIMARY KEY, MaxNtripConn SHORT);");
  Insert();
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(kPasswdColumnsBefore, QueryExisting(ColumnsSql("passwd")));
}

TEST_F(InsertColumnTest, UpdateInformationWithoutTheColumnChangesNothing) {
  OpenDatabases(kExistingPasswd,
                "CREATE TABLE Passwd (ID LONG PRIMARY KEY, User TEXT(20) COLLATE NOCASE,"
                " MaxConn SHORT);");
  Insert();
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(kPasswdColumnsBefore, QueryExisting(ColumnsSql("passwd")));
}

TEST_F(InsertColumnTest, DatabaseInUseWithoutTheTableChangesNothing) {
  OpenDatabases("CREATE TABLE Users (ID LONG PRIMARY KEY);", kUpdatePasswd);
  Insert();
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("Users\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("ID|LONG\n", QueryExisting(ColumnsSql("Users")));
}

TEST_F(InsertColumnTest, FailedLookupPassesToTheCaller) {
  OpenDatabases(kExistingPasswd, kUpdatePasswd);
  Update().Close();
  test::ExpectError(errors::kObjectClosed, [this] { Insert(); });
  EXPECT_TRUE(LogLines().empty());
}

// ---- IsSameTable ----------------------------------------------------------

TEST(IsSameTableTest, OldPrivilegesNameMatchesTheNewOne) {
  EXPECT_TRUE(IsSameTable("Privilegies", "privileges"));
  EXPECT_TRUE(IsSameTable("PRIVILEGIES", "Privileges"));
}

TEST(IsSameTableTest, OldPrivilegesNameMatchesInOneDirectionOnly) {
  EXPECT_FALSE(IsSameTable("Privileges", "Privilegies"));
  EXPECT_FALSE(IsSameTable("privileges", "PRIVILEGIES"));
}

TEST(IsSameTableTest, NamesMatchIgnoringLetterCase) {
  EXPECT_TRUE(IsSameTable("PRIVILEGES", "privileges"));
  EXPECT_TRUE(IsSameTable("users", "USERS"));
  EXPECT_TRUE(IsSameTable("Privilegies", "PRIVILEGIES"));
}

TEST(IsSameTableTest, DifferentNamesDoNotMatch) {
  EXPECT_FALSE(IsSameTable("Users", "User"));
  EXPECT_FALSE(IsSameTable("User", "Users"));
  EXPECT_FALSE(IsSameTable("Privilegies", "AccessPrivileges"));
}

}  // namespace
}  // namespace tabsync::engine
