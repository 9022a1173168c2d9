// The release's fixed corrections of records in the database in use, on real
// SQLite databases: when each one acts, what it writes and logs, and the
// failures it lets pass.

#include "engine/content_corrections.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/raised_error.h"
#include "support/sqlite_merge_test.h"

namespace tabsync::engine {
namespace {

using Lines = std::vector<std::string>;
using test::ExpectError;

// The update information plays no part in the corrections.
constexpr char kNoTables[] = "PRAGMA user_version = 1;";

constexpr char kReplacedLine[] =
    "  REPLACE CONTENT tables 'AccessPrivileges', 'Services': 'JobManagement' -> 'OnlineShop'";
constexpr char kGuestLine[] = " ADD RECORD in AccessPrivileges: Guest=Logon";
constexpr char kNumericDelete[] = "DELETE FROM StringTable WHERE (ID > 13099) And (ID < 13209)";
constexpr char kTextDelete[] = "DELETE FROM StringTable WHERE (ID > '13099') And (ID < '13209')";

// ---- ReplaceJobManagementFeature ------------------------------------------

class ReplaceJobManagementTest : public test::SqliteMergeTest {};

TEST_F(ReplaceJobManagementTest, EveryLetterCaseIsReplacedWithOneLine) {
  OpenDatabases("CREATE TABLE Services (ID LONG PRIMARY KEY, Feature TEXT(30) COLLATE NOCASE);"
                "INSERT INTO Services VALUES (1, 'JobManagement'), (2, 'Logon'),"
                " (3, 'JOBMANAGEMENT'), (4, 'JobManagement2');",
                kNoTables);
  ReplaceJobManagementFeature(context_);
  EXPECT_EQ(Lines{kReplacedLine}, LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("1|OnlineShop\n2|Logon\n3|OnlineShop\n4|JobManagement2\n",
            QueryExisting("SELECT * FROM Services ORDER BY ID"));
}

TEST_F(ReplaceJobManagementTest, ColumnWithoutNocaseIsComparedIgnoringCaseToo) {
  OpenDatabases("CREATE TABLE Services (ID LONG PRIMARY KEY, Feature TEXT(30));"
                "INSERT INTO Services VALUES (1, 'jobmanagement');",
                kNoTables);
  ReplaceJobManagementFeature(context_);
  EXPECT_EQ(Lines{kReplacedLine}, LogLines());
  EXPECT_EQ("1|OnlineShop\n", QueryExisting("SELECT * FROM Services"));
}

TEST_F(ReplaceJobManagementTest, NothingToReplaceLogsNothing) {
  OpenDatabases("CREATE TABLE Services (ID LONG PRIMARY KEY, Feature TEXT(30) COLLATE NOCASE);"
                "INSERT INTO Services VALUES (1, 'OnlineShop'), (2, 'Job Management');",
                kNoTables);
  ReplaceJobManagementFeature(context_);
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("1|OnlineShop\n2|Job Management\n", QueryExisting("SELECT * FROM Services ORDER BY ID"));
}

TEST_F(ReplaceJobManagementTest, SecondCallFindsNothingLeft) {
  OpenDatabases("CREATE TABLE Services (ID LONG PRIMARY KEY, Feature TEXT(30) COLLATE NOCASE);"
                "INSERT INTO Services VALUES (1, 'Jobmanagement');",
                kNoTables);
  ReplaceJobManagementFeature(context_);
  ReplaceJobManagementFeature(context_);
  EXPECT_EQ(Lines{kReplacedLine}, LogLines());
}

TEST_F(ReplaceJobManagementTest, MissingTablePasses) {
  OpenDatabases("CREATE TABLE Users (ID LONG PRIMARY KEY);", kNoTables);
  std::string description = ExpectError(errors::kInputTableNotFound,
                                        [this] { ReplaceJobManagementFeature(context_); });
  EXPECT_NE(std::string::npos, description.find("Services")) << description;
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
}

TEST_F(ReplaceJobManagementTest, MissingColumnPasses) {
  OpenDatabases("CREATE TABLE Services (ID LONG PRIMARY KEY, Name TEXT(30));"
                "INSERT INTO Services VALUES (1, 'Jobmanagement');",
                kNoTables);
  ExpectError(errors::kTooFewParameters, [this] { ReplaceJobManagementFeature(context_); });
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(ReplaceJobManagementTest, RefusedWritePassesAfterNoLine) {
  // "OnlineShop" does not fit a five-character column.
  OpenDatabases("CREATE TABLE Services (ID LONG PRIMARY KEY, Feature TEXT(5) COLLATE NOCASE);"
                "INSERT INTO Services VALUES (1, 'Jobmanagement');",
                kNoTables);
  ExpectError(errors::kFieldTooSmall, [this] { ReplaceJobManagementFeature(context_); });
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("1|Jobmanagement\n", QueryExisting("SELECT * FROM Services"));
}

// ---- AddGuestLogonPrivilege -----------------------------------------------

constexpr char kPrivileges[] =
    "CREATE TABLE AccessPrivileges (GroupID SHORT, ID SHORT, Granted BIT DEFAULT 1,"
    " Note TEXT(20) COLLATE NOCASE DEFAULT 'standard', PRIMARY KEY (GroupID, ID));";

class GuestLogonTest : public test::SqliteMergeTest {};

TEST_F(GuestLogonTest, MissingPrivilegeIsAddedWithTheTablesDefaults) {
  // Group 5 with another privilege and privilege 12 of another group do not
  // count.
  OpenDatabases(std::string(kPrivileges) +
                    "INSERT INTO AccessPrivileges VALUES (5, 11, 0, 'x'), (4, 12, 0, 'y');",
                kNoTables);
  AddGuestLogonPrivilege(context_);
  EXPECT_EQ(Lines{kGuestLine}, LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("4|12|0|y\n5|11|0|x\n5|12|1|standard\n",
            QueryExisting("SELECT * FROM AccessPrivileges ORDER BY GroupID, ID"));
}

TEST_F(GuestLogonTest, SecondCallAddsNothing) {
  OpenDatabases(kPrivileges, kNoTables);
  AddGuestLogonPrivilege(context_);
  AddGuestLogonPrivilege(context_);
  EXPECT_EQ(Lines{kGuestLine}, LogLines());
  EXPECT_EQ("5|12\n", QueryExisting("SELECT GroupID, ID FROM AccessPrivileges"));
}

TEST_F(GuestLogonTest, PresentPrivilegeIsLeftAsItIs) {
  OpenDatabases(std::string(kPrivileges) + "INSERT INTO AccessPrivileges VALUES (5, 12, 0, 'own');",
                kNoTables);
  AddGuestLogonPrivilege(context_);
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("5|12|0|own\n", QueryExisting("SELECT * FROM AccessPrivileges"));
}

TEST_F(GuestLogonTest, TableUnderItsOldNamePasses) {
  OpenDatabases("CREATE TABLE Privilegies (GroupID SHORT, ID SHORT);", kNoTables);
  ExpectError(errors::kInputTableNotFound, [this] { AddGuestLogonPrivilege(context_); });
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("0\n", QueryExisting("SELECT count(*) FROM Privilegies"));
}

TEST_F(GuestLogonTest, RequiredColumnWithoutDefaultRefusesTheRecord) {
  OpenDatabases("CREATE TABLE AccessPrivileges (GroupID SHORT, ID SHORT, Level SHORT NOT NULL);",
                kNoTables);
  ExpectError(errors::kValueRequired, [this] { AddGuestLogonPrivilege(context_); });
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("0\n", QueryExisting("SELECT count(*) FROM AccessPrivileges"));
}

// ---- DeleteObsoleteStrings ------------------------------------------------

class ObsoleteStringsTest : public test::SqliteMergeTest {};

TEST_F(ObsoleteStringsTest, NumericIdsBetweenTheBoundsAreDeleted) {
  OpenDatabases("CREATE TABLE StringTable (ID LONG PRIMARY KEY, GER TEXT(50) COLLATE NOCASE);"
                "INSERT INTO StringTable VALUES (131, 'a'), (13099, 'b'), (13100, 'c'),"
                " (13150, 'd'), (13208, 'e'), (13209, 'f'), (20000, 'g');",
                kNoTables);
  DeleteObsoleteStrings(context_);
  EXPECT_EQ(Lines{kNumericDelete}, LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("131\n13099\n13209\n20000\n", QueryExisting("SELECT ID FROM StringTable ORDER BY ID"));
}

TEST_F(ObsoleteStringsTest, TextIdsAreComparedAsTexts) {
  // In text order 131, 1315 and 132 lie between '13099' and '13209'; 13 and
  // 1321 do not.
  OpenDatabases("CREATE TABLE StringTable (ID TEXT(5) COLLATE NOCASE PRIMARY KEY, GER TEXT(50));"
                "INSERT INTO StringTable VALUES ('13', 'a'), ('131', 'b'), ('1315', 'c'),"
                " ('132', 'd'), ('1321', 'e'), ('13099', 'f'), ('13100', 'g'), ('13208', 'h'),"
                " ('13209', 'i');",
                kNoTables);
  DeleteObsoleteStrings(context_);
  EXPECT_EQ(Lines{kTextDelete}, LogLines());
  EXPECT_EQ("13\n13099\n13209\n1321\n", QueryExisting("SELECT ID FROM StringTable ORDER BY ID"));
}

TEST_F(ObsoleteStringsTest, NothingInTheRangeLogsNothing) {
  OpenDatabases("CREATE TABLE StringTable (ID LONG PRIMARY KEY, GER TEXT(50));"
                "INSERT INTO StringTable VALUES (13099, 'b'), (13209, 'f');",
                kNoTables);
  DeleteObsoleteStrings(context_);
  DeleteObsoleteStrings(context_);
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("13099\n13209\n", QueryExisting("SELECT ID FROM StringTable ORDER BY ID"));
}

TEST_F(ObsoleteStringsTest, SecondCallFindsNothingLeft) {
  OpenDatabases("CREATE TABLE StringTable (ID LONG PRIMARY KEY, GER TEXT(50));"
                "INSERT INTO StringTable VALUES (13100, 'c');",
                kNoTables);
  DeleteObsoleteStrings(context_);
  DeleteObsoleteStrings(context_);
  EXPECT_EQ(Lines{kNumericDelete}, LogLines());
  EXPECT_EQ("0\n", QueryExisting("SELECT count(*) FROM StringTable"));
}

TEST_F(ObsoleteStringsTest, TableInAnyLetterCaseIsFound) {
  OpenDatabases("CREATE TABLE stringtable (id LONG PRIMARY KEY);"
                "INSERT INTO stringtable VALUES (13100), (13300);",
                kNoTables);
  DeleteObsoleteStrings(context_);
  EXPECT_EQ(Lines{kNumericDelete}, LogLines());
  EXPECT_EQ("13300\n", QueryExisting("SELECT id FROM stringtable"));
}

TEST_F(ObsoleteStringsTest, MissingTablePasses) {
  OpenDatabases("CREATE TABLE Strings (ID LONG PRIMARY KEY);", kNoTables);
  ExpectError(errors::kItemNotFound, [this] { DeleteObsoleteStrings(context_); });
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
}

TEST_F(ObsoleteStringsTest, MissingIdColumnPasses) {
  OpenDatabases("CREATE TABLE StringTable (Nr LONG PRIMARY KEY); INSERT INTO StringTable VALUES (13100);",
                kNoTables);
  ExpectError(errors::kItemNotFound, [this] { DeleteObsoleteStrings(context_); });
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ("13100\n", QueryExisting("SELECT Nr FROM StringTable"));
}

TEST_F(ObsoleteStringsTest, FailureIsLoggedByTheRunsErrorCapture) {
  OpenDatabases("CREATE TABLE Strings (ID LONG PRIMARY KEY);", kNoTables);
  EXPECT_FALSE(RunCaptured(context_, [this] { DeleteObsoleteStrings(context_); }));
  EXPECT_EQ(Lines{" ERROR 3265: Item not found in this collection."}, LogLines());
  EXPECT_TRUE(context_.ErrorsDetected());
}

}  // namespace
}  // namespace tabsync::engine
