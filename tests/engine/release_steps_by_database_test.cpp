// The release steps of each catalogue database, run on real SQLite databases:
// which steps run for which base name, the order of their log lines, and how
// a failing step leaves the next ones to run.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/release_steps.h"
#include "support/sqlite_merge_test.h"

namespace tabsync::engine {
namespace {

using Lines = std::vector<std::string>;

constexpr char kTableNamesSql[] =
    "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name COLLATE NOCASE";

// A database file without tables (SQLite writes no file for no statement).
constexpr char kNoTables[] = "PRAGMA user_version = 1;";

// The degree sign, as UTF-8.
constexpr char kDegree[] = "\xC2\xB0";

std::string ColumnNamesSql(const std::string& table) {
  return "SELECT name FROM pragma_table_info('" + table + "')";
}

class ReleaseStepsByDatabaseTest : public test::SqliteMergeTest {
 protected:
  // Runs the steps of the catalogue database baseName + ".mdb".
  bool Apply(const std::string& baseName) {
    WorkOn(baseName + ".mdb");
    return ApplyReleaseSteps(context_, baseName);
  }
};

// ---- which steps ----------------------------------------------------------

TEST(ReleaseStepsForTest, OnlyTheReferenceDatabasesEndWithTheWholeMerge) {
  struct Case {
    const char* base_name;
    size_t steps;
    bool ends_with_merge;
  };
  const Case cases[] = {{"accounting", 4, false}, {"availability", 24, false},
                        {"config", 1, true},      {"onlineshop", 0, false},
                        {"resource", 3, true},    {"users", 8, false},
                        {"Users", 0, false},      {"", 0, false}};
  for (const Case& c : cases) {
    std::vector<ReleaseStep> steps = ReleaseStepsFor(c.base_name);
    ASSERT_EQ(c.steps, steps.size()) << c.base_name;
    for (size_t i = 0; i < steps.size(); ++i) {
      bool last = i + 1 == steps.size();
      EXPECT_EQ(c.ends_with_merge && last, steps[i].merges_database) << c.base_name << " " << i;
    }
  }
}

// ---- accounting -----------------------------------------------------------

TEST_F(ReleaseStepsByDatabaseTest, AccountingGoesOnAfterARefusedRename) {
  OpenDatabases("CREATE TABLE Actions (ID LONG PRIMARY KEY, Interval LONG, \"Date/Time\" DATETIME,"
                " ObsInterval LONG);"
                "INSERT INTO Actions VALUES (1, 30, '2026-01-02 03:04:05', 60);",
                "CREATE TABLE Actions (ID LONG PRIMARY KEY, ObsInterval LONG, ActionTime DATETIME,"
                " UserName TEXT(40) COLLATE NOCASE);"
                "CREATE TABLE Version (DBVersion TEXT(10) COLLATE NOCASE PRIMARY KEY);"
                "INSERT INTO Version VALUES ('5.2');");
  EXPECT_TRUE(Apply("accounting"));
  EXPECT_EQ((Lines{
                " ERROR 3191: Cannot define field more than once.",
                " RENAME COLUMN, Table 'Actions'; Column: Date/Time -> ActionTime",
                " INSERT COLUMN, Table 'Actions'; Column: UserName",
                "ADD TABLE Version",
                "    COLUMN 0: DBVersion (10)",
                "    Primary Key: DBVersion",
                " ADD/REPLACE RECORDS in Version",
                "   ADD RECORD Key=DBVersion ",
                "   ADD FIELD TO NEW RECORD DBVersion:= 5.2",
            }),
            LogLines());
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_EQ("ID\nInterval\nActionTime\nObsInterval\nUserName\n",
            QueryExisting(ColumnNamesSql("Actions")));
  EXPECT_EQ("1|30|2026-01-02 03:04:05|60|NULL\n", QueryExisting("SELECT * FROM Actions"));
  EXPECT_EQ("5.2\n", QueryExisting("SELECT * FROM Version"));
}

// ---- availability ---------------------------------------------------------

TEST_F(ReleaseStepsByDatabaseTest, AvailabilityRenamesEachCutoffAngleOnItsOwn) {
  // No cut-off column for 25 degrees; the new name of 40 degrees is taken.
  std::string visible = "CREATE TABLE VisibleSatellites (ID LONG PRIMARY KEY, \"Time\" DATETIME";
  for (int angle = 0; angle <= 85; angle += 5)
    if (angle != 25) visible += ", \"Cutoff " + std::to_string(angle) + kDegree + "\" SHORT";
  visible += ", Cutoff_40 SHORT);";
  OpenDatabases("CREATE TABLE Availability (ID LONG PRIMARY KEY, \"Date\" DATETIME);"
                "CREATE TABLE EpochDefect (ID LONG PRIMARY KEY, \"From\" DATETIME, \"To\" DATETIME);" +
                    visible,
                kNoTables);
  EXPECT_TRUE(Apply("availability"));
  Lines expected = {
      " RENAME COLUMN, Table 'Availability'; Column: Date -> ReferenceDate",
      " RENAME COLUMN, Table 'EpochDefect'; Column: From -> StartTime",
      " RENAME COLUMN, Table 'EpochDefect'; Column: To -> EndTime",
      " RENAME COLUMN, Table 'VisibleSatellites'; Column: Time -> ReferenceTime",
  };
  std::string columns = "ID\nReferenceTime\n";
  for (int angle = 0; angle <= 85; angle += 5) {
    std::string a = std::to_string(angle);
    if (angle == 25) continue;
    if (angle == 40) {
      expected.push_back(" ERROR 3191: Cannot define field more than once.");
      columns += "Cutoff 40" + std::string(kDegree) + "\n";
      continue;
    }
    expected.push_back(" RENAME COLUMN, Table 'VisibleSatellites'; Column: Cutoff " + a +
                       kDegree + " -> Cutoff_" + a);
    columns += "Cutoff_" + a + "\n";
  }
  columns += "Cutoff_40\n";
  EXPECT_EQ(expected, LogLines());
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_EQ(columns, QueryExisting(ColumnNamesSql("VisibleSatellites")));
  EXPECT_EQ("ID\nStartTime\nEndTime\n", QueryExisting(ColumnNamesSql("EpochDefect")));
}

// ---- config ---------------------------------------------------------------

TEST_F(ReleaseStepsByDatabaseTest, ConfigOnlyMergesTheWholeDatabase) {
  // Tables that the steps of other databases would change arrive unchanged.
  OpenDatabases("CREATE TABLE Actions (ID LONG PRIMARY KEY, Interval LONG);"
                "INSERT INTO Actions VALUES (1, 30);"
                "CREATE TABLE Services (ID LONG PRIMARY KEY, Feature TEXT(30) COLLATE NOCASE);"
                "INSERT INTO Services VALUES (1, 'JobManagement');",
                kNoTables);
  EXPECT_TRUE(Apply("config"));
  EXPECT_EQ((Lines{
                " INSERT Table: Actions",
                "ADD TABLE Actions",
                "    COLUMN 0: ID (4)",
                "    COLUMN 1: Interval (4)",
                "    Primary Key: ID",
                " ADD/REPLACE RECORDS in Actions",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 1",
                "   ADD FIELD TO NEW RECORD Interval:= 30",
                " INSERT Table: Services",
                "ADD TABLE Services",
                "    COLUMN 0: ID (4)",
                "    COLUMN 1: Feature (10)",
                "    Primary Key: ID",
                " ADD/REPLACE RECORDS in Services",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 1",
                "   ADD FIELD TO NEW RECORD Feature:= JobManagement",
            }),
            LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("1|JobManagement\n", QueryUpdate("SELECT * FROM Services"));
  EXPECT_EQ("1|JobManagement\n", QueryExisting("SELECT * FROM Services"));
}

TEST_F(ReleaseStepsByDatabaseTest, FailedWholeMergeIsReportedAndReturned) {
  // No "Resource" data source: the link cannot be checked.
  OpenDatabases("CREATE TABLE Layout (Label TEXT(20) COLLATE NOCASE PRIMARY KEY);"
                "INSERT INTO Layout VALUES ('Main');",
                "CREATE TABLE MSysObjects (Name TEXT(255) COLLATE NOCASE PRIMARY KEY,"
                " Type SHORT NOT NULL, Attributes LONG NOT NULL DEFAULT 0, Connect MEMO,"
                " ForeignName TEXT(255));"
                "INSERT INTO MSysObjects VALUES ('Strings', 6, 1073741824,"
                " ';DATABASE=/old/resource.mdb', 'StringTable');");
  EXPECT_FALSE(Apply("config"));
  EXPECT_EQ(Lines{" ERROR 3024: Could not find file '/resource.mdb'."}, LogLines());
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_EQ("MSysObjects\n", QueryUpdate(kTableNamesSql));
}

// ---- onlineshop and unknown names -----------------------------------------

TEST_F(ReleaseStepsByDatabaseTest, OnlineShopAndUnknownNamesChangeNothing) {
  OpenDatabases("CREATE TABLE Privilegies (GroupID SHORT, ID SHORT);"
                "CREATE TABLE Actions (ID LONG PRIMARY KEY, Interval LONG);"
                "CREATE TABLE StringTable (ID LONG PRIMARY KEY, Replace BIT);"
                "INSERT INTO StringTable VALUES (13100, 0);",
                "CREATE TABLE Orders (ID LONG PRIMARY KEY); INSERT INTO Orders VALUES (1);");
  for (const char* name : {"onlineshop", "Users", "RESOURCE", "shop", ""}) {
    WorkOn(std::string(name) + ".mdb");
    EXPECT_TRUE(ApplyReleaseSteps(context_, name)) << name;
  }
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("Actions\nPrivilegies\nStringTable\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("13100|0\n", QueryExisting("SELECT * FROM StringTable"));
  EXPECT_EQ("Orders\n", QueryUpdate(kTableNamesSql));
}

// ---- resource -------------------------------------------------------------

constexpr char kUpdateStrings[] =
    "CREATE TABLE StringTable (ID LONG PRIMARY KEY, GER TEXT(50) COLLATE NOCASE,"
    " ReplaceRow BIT);"
    "INSERT INTO StringTable VALUES (13050, 'Ja', 0);";

TEST_F(ReleaseStepsByDatabaseTest, ResourceDeletesAndRenamesBeforeTheMerge) {
  OpenDatabases("CREATE TABLE StringTable (ID LONG PRIMARY KEY, GER TEXT(50) COLLATE NOCASE,"
                " Replace BIT);"
                "INSERT INTO StringTable VALUES (13050, 'Ja', 0), (13100, 'Alt', 1),"
                " (13150, 'Alt 2', 0), (13300, 'Neu', 1);",
                kUpdateStrings);
  EXPECT_TRUE(Apply("resource"));
  EXPECT_EQ((Lines{
                "DELETE FROM StringTable WHERE (ID > 13099) And (ID < 13209)",
                " RENAME COLUMN, Table 'StringTable'; Column: Replace -> ReplaceRow",
                " ADD/REPLACE RECORDS in StringTable",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 13300",
                "   ADD FIELD TO NEW RECORD GER:= Neu",
                "   ADD FIELD TO NEW RECORD ReplaceRow:= True",
            }),
            LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("ID\nGER\nReplaceRow\n", QueryUpdate(ColumnNamesSql("StringTable")));
  EXPECT_EQ("13050|Ja|0\n13300|Neu|1\n", QueryUpdate("SELECT * FROM StringTable ORDER BY ID"));
  EXPECT_EQ("13050|Ja|0\n13300|Neu|1\n", QueryExisting("SELECT * FROM StringTable ORDER BY ID"));
}

TEST_F(ReleaseStepsByDatabaseTest, ResourceWithoutStringTableStillMerges) {
  OpenDatabases("CREATE TABLE Layout (ID LONG PRIMARY KEY, Name TEXT(20));"
                "INSERT INTO Layout VALUES (1, 'Main');",
                "CREATE TABLE Layout (ID LONG PRIMARY KEY, Name TEXT(20));");
  EXPECT_TRUE(Apply("resource"));
  EXPECT_EQ((Lines{
                " ERROR 3265: Item not found in this collection.",
                " ADD/REPLACE RECORDS in Layout",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 1",
                "   ADD FIELD TO NEW RECORD Name:= Main",
            }),
            LogLines());
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_EQ("1|Main\n", QueryUpdate("SELECT * FROM Layout"));
}

// ---- users ----------------------------------------------------------------

constexpr char kUpdateUsers[] =
    "CREATE TABLE AccessPrivileges (GroupID SHORT, ID SHORT, PRIMARY KEY (GroupID, ID));"
    "CREATE TABLE Users (ID LONG PRIMARY KEY, FullName TEXT(50) COLLATE NOCASE,"
    " ZipCode TEXT(10) COLLATE NOCASE);"
    "CREATE TABLE Passwd (ID LONG PRIMARY KEY, User TEXT(20) COLLATE NOCASE,"
    " MaxNtripConn SHORT);"
    "CREATE TABLE Version (DBVersion TEXT(10) COLLATE NOCASE PRIMARY KEY);"
    "INSERT INTO Version VALUES ('5.1'), ('5.2');";

TEST_F(ReleaseStepsByDatabaseTest, UsersWithBothOldPrivilegeTablesGoesOnAfterTheRefusedRename) {
  OpenDatabases(
      "CREATE TABLE Privilegies (GroupID SHORT, ID SHORT, PRIMARY KEY (GroupID, ID));"
      "INSERT INTO Privilegies VALUES (1, 1), (1, 12);"
      "CREATE TABLE Privileges (GroupID SHORT, ID SHORT);"
      "INSERT INTO Privileges VALUES (2, 3);"
      "CREATE TABLE Users (ID LONG PRIMARY KEY, \"Full Name\" TEXT(50) COLLATE NOCASE,"
      " \"Zip-Code\" TEXT(10) COLLATE NOCASE);"
      "INSERT INTO Users VALUES (1, 'Ann Berg', '0150');"
      "CREATE TABLE Services (ID LONG PRIMARY KEY, Feature TEXT(30) COLLATE NOCASE);"
      "INSERT INTO Services VALUES (1, 'JobManagement'), (2, 'Logon');"
      "CREATE TABLE Passwd (ID LONG PRIMARY KEY, User TEXT(20) COLLATE NOCASE);"
      "INSERT INTO Passwd VALUES (1, 'rover1');"
      "CREATE TABLE Version (DBVersion TEXT(10) COLLATE NOCASE PRIMARY KEY);"
      "INSERT INTO Version VALUES ('5.1');",
      kUpdateUsers);
  EXPECT_TRUE(Apply("users"));
  EXPECT_EQ((Lines{
                " RENAME Table: Privilegies -> AccessPrivileges",
                " ERROR 3010: Table 'AccessPrivileges' already exists.",
                " RENAME COLUMN, Table 'Users'; Column: Full Name -> FullName",
                " RENAME COLUMN, Table 'Users'; Column: Zip-Code -> ZipCode",
                "  REPLACE CONTENT tables 'AccessPrivileges', 'Services': 'JobManagement' -> "
                "'OnlineShop'",
                " INSERT COLUMN, Table 'Passwd'; Column: MaxNtripConn",
                " ADD/REPLACE RECORDS in Version",
                "   ADD RECORD Key=DBVersion ",
                "   ADD FIELD TO NEW RECORD DBVersion:= 5.2",
                " ADD RECORD in AccessPrivileges: Guest=Logon",
            }),
            LogLines());
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_EQ("AccessPrivileges\nPasswd\nPrivileges\nServices\nUsers\nVersion\n",
            QueryExisting(kTableNamesSql));
  EXPECT_EQ("1|1\n1|12\n5|12\n", QueryExisting("SELECT * FROM AccessPrivileges ORDER BY 1, 2"));
  EXPECT_EQ("2|3\n", QueryExisting("SELECT * FROM Privileges"));
  EXPECT_EQ("ID\nFullName\nZipCode\n", QueryExisting(ColumnNamesSql("Users")));
  EXPECT_EQ("1|OnlineShop\n2|Logon\n", QueryExisting("SELECT * FROM Services ORDER BY ID"));
  EXPECT_EQ("1|rover1|NULL\n", QueryExisting("SELECT * FROM Passwd"));
  EXPECT_EQ("5.1\n5.2\n", QueryExisting("SELECT * FROM Version ORDER BY 1"));
}

TEST_F(ReleaseStepsByDatabaseTest, UsersAlreadyInTheNewFormWritesNoLine) {
  OpenDatabases(std::string(kUpdateUsers) +
                    "INSERT INTO AccessPrivileges VALUES (5, 12);"
                    "CREATE TABLE Services (ID LONG PRIMARY KEY, Feature TEXT(30) COLLATE NOCASE);"
                    "INSERT INTO Services VALUES (1, 'OnlineShop');",
                kUpdateUsers);
  EXPECT_TRUE(Apply("users"));
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
}

TEST_F(ReleaseStepsByDatabaseTest, UsersWithoutPrivilegesTableLogsTheGuestStepsFailure) {
  OpenDatabases("CREATE TABLE Users (ID LONG PRIMARY KEY, FullName TEXT(50));"
                "CREATE TABLE Services (ID LONG PRIMARY KEY, Feature TEXT(30) COLLATE NOCASE);",
                kUpdateUsers);
  EXPECT_TRUE(Apply("users"));
  EXPECT_EQ((Lines{
                "ADD TABLE Version",
                "    COLUMN 0: DBVersion (10)",
                "    Primary Key: DBVersion",
                " ADD/REPLACE RECORDS in Version",
                "   ADD RECORD Key=DBVersion ",
                "   ADD FIELD TO NEW RECORD DBVersion:= 5.1",
                "   ADD RECORD Key=DBVersion ",
                "   ADD FIELD TO NEW RECORD DBVersion:= 5.2",
                " ERROR 3078: The database engine cannot find the input table or query "
                "'AccessPrivileges'.",
            }),
            LogLines());
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_EQ("Services\nUsers\nVersion\n", QueryExisting(kTableNamesSql));
}

}  // namespace
}  // namespace tabsync::engine
