// The table-level merges on real SQLite databases: the attribute words of a
// table, the relink of linked tables to the installed resource database, the
// merge of one table into the database in use and the merge of the whole
// database in use into the update information.

#include "engine/table_merge.h"

#include <algorithm>
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
using test::ExpectError;

constexpr char kTableNamesSql[] =
    "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name COLLATE NOCASE";
constexpr char kCatalogSql[] =
    "SELECT Name, Type, Attributes, Connect, ForeignName FROM MSysObjects ORDER BY Name";

// A database file without tables (SQLite writes no file for no statement).
constexpr char kNoTables[] = "PRAGMA user_version = 1;";

// The catalogue of links and table attributes, as the file format writes it.
constexpr char kCatalog[] =
    "CREATE TABLE MSysObjects (Name TEXT(255) COLLATE NOCASE PRIMARY KEY, Type SHORT NOT NULL,"
    " Attributes LONG NOT NULL DEFAULT 0, Connect MEMO, ForeignName TEXT(255));";

// The installed resource database that linked tables are pointed at.
constexpr char kResource[] =
    "CREATE TABLE StringTable (ID LONG PRIMARY KEY, GER TEXT(50) COLLATE NOCASE);"
    "INSERT INTO StringTable VALUES (1, 'Ja');";

class TableMergeTest : public test::SqliteMergeTest {
 protected:
  // A resource database in the temporary folder, registered as the
  // "Resource" data source.
  void InstallResource() {
    test::ExecSql(resource_path_, kResource);
    store_.Register("Resource", resource_path_);
  }
  // The connect string a relink to the installed resource database gives.
  std::string ResourceConnect() const { return ";DATABASE=" + dir_.Path() + "resource.mdb"; }

  std::string TableText(dao::Database& database, const std::string& table) {
    return TableAttributeText(database.TableDefs().Item(table));
  }

  std::string resource_path_ = dir_.File("resource.mdb");
};

// ---- TableExists ----------------------------------------------------------

TEST_F(TableMergeTest, TableExistsIgnoresLetterCaseAndCountsLinks) {
  OpenDatabases(std::string(kCatalog) +
                    "CREATE TABLE Stations (ID LONG PRIMARY KEY);"
                    "INSERT INTO MSysObjects VALUES ('Remote', 6, 1073741824,"
                    " ';DATABASE=/nowhere/remote.mdb', 'Remote');",
                kNoTables);
  EXPECT_TRUE(TableExists(Existing(), "STATIONS"));
  EXPECT_TRUE(TableExists(Existing(), "stations"));
  EXPECT_TRUE(TableExists(Existing(), "remote"));
  EXPECT_FALSE(TableExists(Existing(), "Station"));
  EXPECT_FALSE(TableExists(Update(), "Stations"));
}

// ---- TableAttributeText ---------------------------------------------------

TEST_F(TableMergeTest, AttributeWordsFollowTheirFixedOrder) {
  OpenDatabases(
      std::string(kCatalog) +
          "CREATE TABLE Plain (ID LONG);"
          "CREATE TABLE Hidden (ID LONG);"
          "CREATE TABLE HiddenSystem (ID LONG);"
          "CREATE TABLE AllLocal (ID LONG);"
          "INSERT INTO MSysObjects VALUES"
          " ('Hidden', 1, 1, NULL, NULL),"
          " ('HiddenSystem', 1, -2147483645, NULL, NULL),"
          // exclusive + saved password + system + hidden
          " ('AllLocal', 1, -2147287037, NULL, NULL),"
          " ('Link', 6, 1073741824, ';DATABASE=/x/a.mdb', 'A'),"
          " ('SavedPwdLink', 6, 1073872896, ';DATABASE=/x/a.mdb', 'A'),"
          " ('ExclusiveLink', 6, 1073807360, ';DATABASE=/x/a.mdb', 'A'),"
          " ('OdbcLink', 4, 536870912, 'ODBC;DSN=Shop', 'Orders'),"
          " ('HiddenOdbcLink', 4, 536870913, 'ODBC;DSN=Shop', 'Orders');",
      kNoTables);
  EXPECT_EQ("", TableText(Existing(), "Plain"));
  EXPECT_EQ(" +HIDDEN_OBJECT", TableText(Existing(), "Hidden"));
  EXPECT_EQ(" +SYSTEM_OBJECT +HIDDEN_OBJECT", TableText(Existing(), "HiddenSystem"));
  EXPECT_EQ(" +ATTACH_EXCLUSIVE +ATTACH_SAVE_PWD +SYSTEM_OBJECT +HIDDEN_OBJECT",
            TableText(Existing(), "AllLocal"));
  EXPECT_EQ(" +ATTACHED_TABLE", TableText(Existing(), "Link"));
  EXPECT_EQ(" +ATTACH_SAVE_PWD +ATTACHED_TABLE", TableText(Existing(), "SavedPwdLink"));
  EXPECT_EQ(" +ATTACH_EXCLUSIVE +ATTACHED_TABLE", TableText(Existing(), "ExclusiveLink"));
  EXPECT_EQ(" +ATTACHED_ODBC", TableText(Existing(), "OdbcLink"));
  EXPECT_EQ(" +HIDDEN_OBJECT +ATTACHED_ODBC", TableText(Existing(), "HiddenOdbcLink"));
}

TEST_F(TableMergeTest, FlagCountsOnlyWithAllItsBits) {
  // The system flag has two bits; either one alone gives no word.
  OpenDatabases(std::string(kCatalog) +
                    "CREATE TABLE HighBit (ID LONG);"
                    "CREATE TABLE LowBit (ID LONG);"
                    "INSERT INTO MSysObjects VALUES"
                    " ('HighBit', 1, -2147483648, NULL, NULL),"
                    " ('LowBit', 1, 2, NULL, NULL);",
                kNoTables);
  EXPECT_EQ("", TableText(Existing(), "HighBit"));
  EXPECT_EQ("", TableText(Existing(), "LowBit"));
}

TEST_F(TableMergeTest, OnlyNamesBeginningWithMSysInThatCaseAreSystemTables) {
  OpenDatabases(std::string(kCatalog) +
                    "CREATE TABLE MSysConfig (ID LONG);"
                    "CREATE TABLE MSysHidden (ID LONG);"
                    "CREATE TABLE msysfoo (ID LONG);"
                    "CREATE TABLE MSYSbar (ID LONG);"
                    "CREATE TABLE msysHiddenToo (ID LONG);"
                    "INSERT INTO MSysObjects VALUES ('MSysHidden', 1, 1, NULL, NULL),"
                    " ('msysHiddenToo', 1, 1, NULL, NULL);",
                kNoTables);
  EXPECT_EQ("+ACCESS_SYS", TableText(Existing(), "MSysObjects"));
  EXPECT_EQ("+ACCESS_SYS", TableText(Existing(), "MSysConfig"));
  EXPECT_EQ("+ACCESS_SYS", TableText(Existing(), "MSysHidden")) << "the name decides alone";
  EXPECT_EQ("", TableText(Existing(), "msysfoo"));
  EXPECT_EQ("", TableText(Existing(), "MSYSbar"));
  EXPECT_EQ(" +HIDDEN_OBJECT", TableText(Existing(), "msysHiddenToo"));
}

// ---- RelinkToResource -----------------------------------------------------

constexpr char kUpdateWithLink[] =
    "CREATE TABLE MSysObjects (Name TEXT(255) COLLATE NOCASE PRIMARY KEY, Type SHORT NOT NULL,"
    " Attributes LONG NOT NULL DEFAULT 0, Connect MEMO, ForeignName TEXT(255));"
    "INSERT INTO MSysObjects VALUES ('Strings', 6, 1073741824,"
    " ';DATABASE=C:\\Program Files\\old\\resource.mdb;PWD=secret', 'StringTable');";

TEST_F(TableMergeTest, RelinkReplacesTheWholeConnectStringAndChecksTheLink) {
  InstallResource();
  OpenDatabases(kNoTables, kUpdateWithLink);
  dao::TableDef& link = Update().TableDefs().Item("Strings");
  RelinkToResource(context_, link);
  EXPECT_EQ(ResourceConnect(), link.Connect());
  EXPECT_TRUE(LogLines().empty()) << "the caller logs the relink";
  EXPECT_EQ("Strings|6|1073741824|" + ResourceConnect() + "|StringTable\n",
            QueryUpdate(kCatalogSql));
}

TEST_F(TableMergeTest, RootFolderOfTheDataSourceLosesItsSecondSlash) {
  // A data source whose file lies in "/" gives the folder "//".
  store_.Register("Resource", "/resource.mdb");
  OpenDatabases(kNoTables, kUpdateWithLink);
  dao::TableDef& link = Update().TableDefs().Item("Strings");
  std::string description =
      ExpectError(errors::kFileNotFound, [&] { RelinkToResource(context_, link); });
  EXPECT_EQ("Could not find file '/resource.mdb'.", description);
  EXPECT_EQ(";DATABASE=/resource.mdb", link.Connect());
  EXPECT_EQ("Strings|6|1073741824|;DATABASE=/resource.mdb|StringTable\n",
            QueryUpdate(kCatalogSql));
}

TEST_F(TableMergeTest, UnregisteredResourceGivesTheRootFolder) {
  OpenDatabases(kNoTables, kUpdateWithLink);
  dao::TableDef& link = Update().TableDefs().Item("Strings");
  ExpectError(errors::kFileNotFound, [&] { RelinkToResource(context_, link); });
  EXPECT_EQ(";DATABASE=/resource.mdb", link.Connect());
  EXPECT_EQ((std::vector<std::string>{"Resource.DBQ"}), store_.Reads());
}

TEST_F(TableMergeTest, RelinkToAResourceWithoutTheSourceTableFails) {
  test::ExecSql(resource_path_, "CREATE TABLE Other (ID LONG);");
  store_.Register("Resource", resource_path_);
  OpenDatabases(kNoTables, kUpdateWithLink);
  dao::TableDef& link = Update().TableDefs().Item("Strings");
  ExpectError(errors::kObjectNotFound, [&] { RelinkToResource(context_, link); });
  EXPECT_EQ(ResourceConnect(), link.Connect());
}

// ---- MergeTable -----------------------------------------------------------

constexpr char kVersion[] = "CREATE TABLE Version (DBVersion TEXT(10) COLLATE NOCASE PRIMARY KEY,"
                            " Released DATETIME);";

TEST_F(TableMergeTest, MergeTableWithoutTheUpdateTableDoesNothing) {
  OpenDatabases(std::string(kVersion) + "INSERT INTO Version VALUES ('5.1', NULL);",
                "CREATE TABLE Versions (DBVersion TEXT(10) PRIMARY KEY);"
                "INSERT INTO Versions VALUES ('5.2');");
  WorkOn("users.mdb");
  MergeTable(context_, "Version");
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("Version\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("5.1|NULL\n", QueryExisting("SELECT * FROM Version"));
}

TEST_F(TableMergeTest, MergeTableInBothDatabasesOnlyMergesRecords) {
  OpenDatabases("CREATE TABLE VERSION (DBVersion TEXT(10) COLLATE NOCASE PRIMARY KEY,"
                " Released DATETIME);"
                "INSERT INTO VERSION VALUES ('5.1', '2025-01-01 00:00:00');",
                std::string(kVersion) +
                    "INSERT INTO Version VALUES ('5.1', '2025-01-01 00:00:00'),"
                    " ('5.2', '2026-06-01 00:00:00');");
  WorkOn("users.mdb");
  MergeTable(context_, "version");
  EXPECT_EQ((Lines{
                " ADD/REPLACE RECORDS in Version",
                "   ADD RECORD Key=DBVersion ",
                "   ADD FIELD TO NEW RECORD DBVersion:= 5.2",
                "   ADD FIELD TO NEW RECORD Released:= 2026-06-01 00:00:00",
            }),
            LogLines());
  EXPECT_EQ("VERSION\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("5.1|2025-01-01 00:00:00\n5.2|2026-06-01 00:00:00\n",
            QueryExisting("SELECT * FROM VERSION ORDER BY DBVersion"));
}

TEST_F(TableMergeTest, MergeTableCreatesTheMissingTableThenAddsItsRecords) {
  OpenDatabases("CREATE TABLE Actions (ID LONG PRIMARY KEY);",
                std::string(kVersion) + "INSERT INTO Version VALUES ('5.2', '2026-06-01 00:00:00');");
  WorkOn("accounting.mdb");
  MergeTable(context_, "Version");
  EXPECT_EQ((Lines{
                "ADD TABLE Version",
                "    COLUMN 0: DBVersion (10)",
                "    COLUMN 1: Released (8)",
                "    Primary Key: DBVersion",
                " ADD/REPLACE RECORDS in Version",
                "   ADD RECORD Key=DBVersion ",
                "   ADD FIELD TO NEW RECORD DBVersion:= 5.2",
                "   ADD FIELD TO NEW RECORD Released:= 2026-06-01 00:00:00",
            }),
            LogLines());
  EXPECT_EQ("Actions\nVersion\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("5.2|2026-06-01 00:00:00\n", QueryExisting("SELECT * FROM Version"));
}

TEST_F(TableMergeTest, MergeTableEndsQuietlyWhenTheRecordsCannotBeMerged) {
  // users.mdb keys its version table on DBVersion, which neither table has.
  OpenDatabases("CREATE TABLE Version (ID LONG PRIMARY KEY, Note TEXT(10));"
                "INSERT INTO Version VALUES (1, 'old');",
                "CREATE TABLE Version (ID LONG PRIMARY KEY, Note TEXT(10));"
                "INSERT INTO Version VALUES (1, 'new'), (2, 'two');");
  WorkOn("users.mdb");
  EXPECT_NO_THROW(MergeTable(context_, "Version"));
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("1|old\n", QueryExisting("SELECT * FROM Version"));
}

TEST_F(TableMergeTest, MergeTableKeepsTheCreatedTableWhenItsRecordsFail) {
  OpenDatabases(kNoTables, "CREATE TABLE Version (DBVersion TEXT(10));"
                           "INSERT INTO Version VALUES (NULL);");
  WorkOn("users.mdb");
  EXPECT_NO_THROW(MergeTable(context_, "Version"));
  EXPECT_EQ((Lines{"ADD TABLE Version", "    COLUMN 0: DBVersion (10)"}), LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("Version\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("0\n", QueryExisting("SELECT count(*) FROM Version"));
}

TEST_F(TableMergeTest, MergeTableLetsAFailedLookupPass) {
  OpenDatabases(kVersion, kVersion);
  WorkOn("users.mdb");
  Update().Close();
  ExpectError(errors::kObjectClosed, [this] { MergeTable(context_, "Version"); });
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(context_.ErrorsDetected());
}

// ---- MergeAllTables -------------------------------------------------------

// A database in use with a table in both databases (an extra column), one
// only here, a version table, a hidden table and a link.
constexpr char kExistingConfig[] =
    "CREATE TABLE MSysObjects (Name TEXT(255) COLLATE NOCASE PRIMARY KEY, Type SHORT NOT NULL,"
    " Attributes LONG NOT NULL DEFAULT 0, Connect MEMO, ForeignName TEXT(255));"
    "CREATE TABLE Extra (ID LONG PRIMARY KEY, Note TEXT(20) COLLATE NOCASE);"
    "INSERT INTO Extra VALUES (1, 'e1');"
    "CREATE TABLE stations (ID LONG PRIMARY KEY, Name TEXT(20) COLLATE NOCASE, Height DOUBLE);"
    "INSERT INTO stations VALUES (1, 'Oslo', 12.5);"
    "CREATE TABLE Secret (ID LONG PRIMARY KEY);"
    "INSERT INTO Secret VALUES (1);"
    "CREATE TABLE VeRsIoN (ID LONG PRIMARY KEY, DBVersion TEXT(10) COLLATE NOCASE);"
    "INSERT INTO VeRsIoN VALUES (1, '4.0');"
    "INSERT INTO MSysObjects VALUES ('Secret', 1, 1, NULL, NULL),"
    " ('Remote', 6, 1073741824, ';DATABASE=/nowhere/remote.mdb', 'Remote');";

// The update information: the shared table in other letter case, a plain
// table of its own, a hidden table, a table named like a system table, its
// version, a link and an ODBC link.
constexpr char kUpdateConfig[] =
    "CREATE TABLE MSysObjects (Name TEXT(255) COLLATE NOCASE PRIMARY KEY, Type SHORT NOT NULL,"
    " Attributes LONG NOT NULL DEFAULT 0, Connect MEMO, ForeignName TEXT(255));"
    "CREATE TABLE STATIONS (ID LONG PRIMARY KEY, Name TEXT(20) COLLATE NOCASE);"
    "INSERT INTO STATIONS VALUES (2, 'Bergen');"
    "CREATE TABLE OnlyNew (ID LONG PRIMARY KEY, V TEXT(5) COLLATE NOCASE);"
    "INSERT INTO OnlyNew VALUES (7, 'n');"
    "CREATE TABLE Hidden (ID LONG PRIMARY KEY);"
    "CREATE TABLE MSysConfig (ID LONG PRIMARY KEY);"
    "CREATE TABLE Version (ID LONG PRIMARY KEY, DBVersion TEXT(10) COLLATE NOCASE);"
    "INSERT INTO Version VALUES (1, '5.0');"
    "INSERT INTO MSysObjects VALUES ('Hidden', 1, 1, NULL, NULL),"
    " ('Strings', 6, 1073741824, ';DATABASE=C:\\old\\resource.mdb', 'StringTable'),"
    " ('Shop', 4, 536870912, 'ODBC;DSN=Shop;UID=admin', 'Orders');";

class MergeAllTablesTest : public TableMergeTest {
 protected:
  void OpenConfig() {
    InstallResource();
    OpenDatabases(kExistingConfig, kUpdateConfig);
    WorkOn("config.mdb");
  }
};

TEST_F(MergeAllTablesTest, UpdateTablesAreSortedBeforeExistingTablesAreCarried) {
  OpenConfig();
  MergeAllTables(context_);
  EXPECT_EQ((Lines{
                " Table Hidden Type  +HIDDEN_OBJECT: IGNORED",
                " Table Shop Type  +ATTACHED_ODBC: IGNORED",
                " Table Strings Type  +ATTACHED_TABLE: LINK REPLACE into: " + ResourceConnect(),
                " INSERT Table: Extra",
                "ADD TABLE Extra",
                "    COLUMN 0: ID (4)",
                "    COLUMN 1: Note (10)",
                "    Primary Key: ID",
                " ADD/REPLACE RECORDS in Extra",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 1",
                "   ADD FIELD TO NEW RECORD Note:= e1",
                // The column step gets the update information's own spelling.
                " ADD COLUMNS in STATIONS",
                "   ADD COLUMN Height",
                " ADD/REPLACE RECORDS in stations",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 1",
                "   ADD FIELD TO NEW RECORD Name:= Oslo",
                "   ADD FIELD TO NEW RECORD Height:= 12.5",
            }),
            LogLines());
  EXPECT_FALSE(context_.ErrorsDetected());
}

TEST_F(MergeAllTablesTest, OnlyPlainTablesAreCarriedAndUpdateTablesStayAsDelivered) {
  OpenConfig();
  MergeAllTables(context_);
  // Neither the hidden table nor the link of the database in use arrives.
  EXPECT_EQ("Extra\nHidden\nMSysConfig\nMSysObjects\nOnlyNew\nSTATIONS\nVersion\n",
            QueryUpdate(kTableNamesSql));
  EXPECT_EQ("1|e1\n", QueryUpdate("SELECT * FROM Extra"));
  EXPECT_EQ("1|Oslo|12.5\n2|Bergen|NULL\n", QueryUpdate("SELECT * FROM STATIONS ORDER BY ID"));
  EXPECT_EQ("7|n\n", QueryUpdate("SELECT * FROM OnlyNew"));
  EXPECT_EQ("1|5.0\n", QueryUpdate("SELECT * FROM Version"));
  EXPECT_EQ("0\n", QueryUpdate("SELECT count(*) FROM Hidden"));
  EXPECT_EQ("0\n", QueryUpdate("SELECT count(*) FROM MSysConfig"));
  EXPECT_EQ("ID|LONG\nName|TEXT(20)\nHeight|DOUBLE\n",
            QueryUpdate("SELECT name, type FROM pragma_table_info('STATIONS')"));
  // The database in use is only read.
  EXPECT_EQ("Extra\nMSysObjects\nSecret\nstations\nVeRsIoN\n", QueryExisting(kTableNamesSql));
  EXPECT_EQ("1|Oslo|12.5\n", QueryExisting("SELECT * FROM stations"));
}

TEST_F(MergeAllTablesTest, LinkIsRepointedAndOdbcLinkKeepsItsConnectString) {
  OpenConfig();
  MergeAllTables(context_);
  EXPECT_EQ("Hidden|1|1|NULL|NULL\n"
            "Shop|4|536870912|ODBC;DSN=Shop;UID=admin|Orders\n"
            "Strings|6|1073741824|" + ResourceConnect() + "|StringTable\n",
            QueryUpdate(kCatalogSql));
  EXPECT_EQ("Remote|6|1073741824|;DATABASE=/nowhere/remote.mdb|Remote\n"
            "Secret|1|1|NULL|NULL\n",
            QueryExisting(kCatalogSql));
}

TEST_F(MergeAllTablesTest, HiddenSystemTableAndLinkWithSavedPasswordShowAllTheirWords) {
  InstallResource();
  OpenDatabases(kNoTables,
                std::string(kCatalog) +
                    "CREATE TABLE Sys (ID LONG);"
                    "INSERT INTO MSysObjects VALUES ('Sys', 1, -2147483645, NULL, NULL),"
                    " ('Vault', 6, 1073872896, ';DATABASE=C:\\old\\resource.mdb;PWD=x',"
                    " 'StringTable');");
  WorkOn("resource.mdb");
  MergeAllTables(context_);
  EXPECT_EQ((Lines{
                " Table Sys Type  +SYSTEM_OBJECT +HIDDEN_OBJECT: IGNORED",
                " Table Vault Type  +ATTACH_SAVE_PWD +ATTACHED_TABLE: LINK REPLACE into: " +
                    ResourceConnect(),
            }),
            LogLines());
  EXPECT_EQ("Sys|1|-2147483645|NULL|NULL\n"
            "Vault|6|1073872896|" + ResourceConnect() + "|StringTable\n",
            QueryUpdate(kCatalogSql));
}

TEST_F(MergeAllTablesTest, ExclusiveLocalTableIsIgnoredAndLowerCaseMSysTableIsPlain) {
  OpenDatabases("CREATE TABLE msysfoo (ID LONG PRIMARY KEY); INSERT INTO msysfoo VALUES (3);"
                "CREATE TABLE MSysData (ID LONG PRIMARY KEY); INSERT INTO MSysData VALUES (4);",
                std::string(kCatalog) +
                    "CREATE TABLE Excl (ID LONG);"
                    "CREATE TABLE msysbar (ID LONG PRIMARY KEY);"
                    "INSERT INTO MSysObjects VALUES ('Excl', 1, 65536, NULL, NULL);");
  WorkOn("config.mdb");
  MergeAllTables(context_);
  EXPECT_EQ((Lines{
                " Table Excl Type  +ATTACH_EXCLUSIVE: IGNORED",
                " INSERT Table: msysfoo",
                "ADD TABLE msysfoo",
                "    COLUMN 0: ID (4)",
                "    Primary Key: ID",
                " ADD/REPLACE RECORDS in msysfoo",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 3",
            }),
            LogLines());
  EXPECT_EQ("Excl\nmsysbar\nmsysfoo\nMSysObjects\n", QueryUpdate(kTableNamesSql));
}

TEST_F(MergeAllTablesTest, VersionTableIsSkippedEvenWhenTheUpdateHasNone) {
  OpenDatabases("CREATE TABLE VERSION (ID LONG PRIMARY KEY, DBVersion TEXT(10));"
                "INSERT INTO VERSION VALUES (1, '4.0');"
                "CREATE TABLE Layout (Label TEXT(20) COLLATE NOCASE PRIMARY KEY);"
                "INSERT INTO Layout VALUES ('Main');",
                "CREATE TABLE Layout (Label TEXT(20) COLLATE NOCASE PRIMARY KEY);");
  WorkOn("config.mdb");
  MergeAllTables(context_);
  EXPECT_EQ((Lines{
                " ADD/REPLACE RECORDS in Layout",
                "   ADD RECORD Key=Label ",
                "   ADD FIELD TO NEW RECORD Label:= Main",
            }),
            LogLines());
  EXPECT_EQ("Layout\n", QueryUpdate(kTableNamesSql));
}

TEST_F(MergeAllTablesTest, WithoutPlainExistingTablesOnlyTheUpdateTablesAreSorted) {
  InstallResource();
  OpenDatabases(std::string(kCatalog) +
                    "CREATE TABLE Secret (ID LONG PRIMARY KEY); INSERT INTO Secret VALUES (1);"
                    "INSERT INTO MSysObjects VALUES ('Secret', 1, 1, NULL, NULL),"
                    " ('Remote', 6, 1073741824, ';DATABASE=/nowhere/remote.mdb', 'Remote');",
                std::string(kCatalog) +
                    "CREATE TABLE Hidden (ID LONG);"
                    "INSERT INTO MSysObjects VALUES ('Hidden', 1, 1, NULL, NULL),"
                    " ('Strings', 6, 1073741824, ';DATABASE=/old/resource.mdb', 'StringTable');");
  WorkOn("resource.mdb");
  MergeAllTables(context_);
  EXPECT_EQ((Lines{
                " Table Hidden Type  +HIDDEN_OBJECT: IGNORED",
                " Table Strings Type  +ATTACHED_TABLE: LINK REPLACE into: " + ResourceConnect(),
            }),
            LogLines());
  EXPECT_EQ("Hidden\nMSysObjects\n", QueryUpdate(kTableNamesSql));
}

TEST_F(MergeAllTablesTest, MoreThanThirtyOneTablesAreMergedWhole) {
  // 35 tables in use; the update information has the first 34, empty.
  std::string existing;
  std::string update;
  for (int i = 1; i <= 35; ++i) {
    std::string name = (i < 10 ? "T0" : "T") + std::to_string(i);
    std::string create = "CREATE TABLE " + name + " (ID LONG PRIMARY KEY, V TEXT(10));";
    existing += create + "INSERT INTO " + name + " VALUES (" + std::to_string(i) + ", '" + name +
                "');";
    if (i <= 34) update += create;
  }
  OpenDatabases(existing, update);
  WorkOn("config.mdb");
  EXPECT_NO_THROW(MergeAllTables(context_));
  Lines lines = LogLines();
  ASSERT_EQ(34u * 4 + 9, lines.size());
  EXPECT_EQ(" ADD/REPLACE RECORDS in T34", lines[33 * 4]);
  EXPECT_EQ((Lines{
                " INSERT Table: T35",
                "ADD TABLE T35",
                "    COLUMN 0: ID (4)",
                "    COLUMN 1: V (10)",
                "    Primary Key: ID",
                " ADD/REPLACE RECORDS in T35",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 35",
                "   ADD FIELD TO NEW RECORD V:= T35",
            }),
            Lines(lines.end() - 9, lines.end()));
  EXPECT_FALSE(context_.ErrorsDetected());
  for (int i = 1; i <= 35; ++i) {
    std::string name = (i < 10 ? "T0" : "T") + std::to_string(i);
    EXPECT_EQ(std::to_string(i) + "|" + name + "\n", QueryUpdate("SELECT * FROM " + name));
  }
}

TEST_F(MergeAllTablesTest, OldPrivilegesTableMergesIntoTheNewOne) {
  OpenDatabases("CREATE TABLE Privilegies (ID LONG PRIMARY KEY, Name TEXT(20), Level SHORT);"
                "INSERT INTO Privilegies VALUES (1, 'read', 1), (2, 'write', 2);",
                "CREATE TABLE Privileges (ID LONG PRIMARY KEY, Name TEXT(20));"
                "INSERT INTO Privileges VALUES (1, 'READ');");
  WorkOn("config.mdb");
  EXPECT_NO_THROW(MergeAllTables(context_));
  EXPECT_EQ((Lines{
                " ADD COLUMNS in Privileges",
                "   ADD COLUMN Level",
                "   REPLACE FIELD IN EXISTING RECORD Key=1 Field=Name read -> READ",
                "   REPLACE FIELD IN EXISTING RECORD Key=1 Field=Level 1 -> ",
                " ADD/REPLACE RECORDS in Privilegies",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD ID:= 2",
                "   ADD FIELD TO NEW RECORD Name:= write",
                "   ADD FIELD TO NEW RECORD Level:= 2",
            }),
            LogLines());
  EXPECT_EQ("Privileges\n", QueryUpdate(kTableNamesSql));
  EXPECT_EQ("1|read|1\n2|write|2\n", QueryUpdate("SELECT * FROM Privileges ORDER BY ID"));
}

TEST_F(MergeAllTablesTest, FailingRelinkEndsTheMergeWithoutItsLine) {
  test::ExecSql(resource_path_, kResource);
  store_.Register("Resource", resource_path_);
  OpenDatabases("CREATE TABLE Gamma (ID LONG PRIMARY KEY); INSERT INTO Gamma VALUES (1);",
                std::string(kCatalog) +
                    "INSERT INTO MSysObjects VALUES"
                    " ('Alpha', 6, 1073741824, ';DATABASE=/old/resource.mdb', 'StringTable'),"
                    " ('Beta', 6, 1073741824, ';DATABASE=/old/resource.mdb', 'Missing');");
  WorkOn("resource.mdb");
  ExpectError(errors::kObjectNotFound, [this] { MergeAllTables(context_); });
  EXPECT_EQ(
      (Lines{" Table Alpha Type  +ATTACHED_TABLE: LINK REPLACE into: " + ResourceConnect()}),
      LogLines());
  EXPECT_FALSE(context_.ErrorsDetected()) << "the caller reports the failure";
  EXPECT_EQ("MSysObjects\n", QueryUpdate(kTableNamesSql)) << "Gamma was not reached";
  EXPECT_EQ("Alpha|6|1073741824|" + ResourceConnect() + "|StringTable\n"
            "Beta|6|1073741824|" + ResourceConnect() + "|Missing\n",
            QueryUpdate(kCatalogSql));
}

// A table without its key column: carried over as it is when the release
// lacks it (the new table is empty, so no key is needed); in both databases,
// the merge fails naming the table and the key column, and ends there.
TEST_F(MergeAllTablesTest, TableWithoutKeyColumnIsCarriedOverOrNamedInTheError) {
  // config.mdb keys Layout on Label, which this Layout lacks.
  OpenDatabases("CREATE TABLE Areas (Name TEXT(5), V LONG); INSERT INTO Areas VALUES ('a', 1), ('a', 1);"
                "CREATE TABLE Layout (ID LONG PRIMARY KEY); INSERT INTO Layout VALUES (1);"
                "CREATE TABLE Zones (ID LONG PRIMARY KEY); INSERT INTO Zones VALUES (1);",
                "CREATE TABLE Layout (Label TEXT(20), ID LONG); INSERT INTO Layout VALUES ('Main', 7);");
  WorkOn("config.mdb");
  EXPECT_EQ("table 'Layout' has no key column 'Label'",
            ExpectError(errors::kItemNotFound, [this] { MergeAllTables(context_); }));
  Lines record = {"   ADD RECORD Key=ID ", "   ADD FIELD TO NEW RECORD Name:= a",
                  "   ADD FIELD TO NEW RECORD V:= 1"};
  Lines expected = {" INSERT Table: Areas", "ADD TABLE Areas", "    COLUMN 0: Name (10)",
                    "    COLUMN 1: V (4)", " ADD/REPLACE RECORDS in Areas"};
  for (int i = 0; i < 2; ++i) expected.insert(expected.end(), record.begin(), record.end());
  EXPECT_EQ(expected, LogLines());
  EXPECT_EQ("Areas\nLayout\n", QueryUpdate(kTableNamesSql));
  EXPECT_EQ("a|1\na|1\n", QueryUpdate("SELECT * FROM Areas"));
  EXPECT_EQ("Main|7\n", QueryUpdate("SELECT * FROM Layout"));
}

TEST_F(MergeAllTablesTest, ReleaseTableWithoutKeyColumnIsNamedBeforeAnyChange) {
  OpenDatabases("CREATE TABLE Layout (Label TEXT(20), X LONG); INSERT INTO Layout VALUES ('Main', 1);",
                "CREATE TABLE Layout (ID LONG); INSERT INTO Layout VALUES (7);");
  WorkOn("config.mdb");
  EXPECT_EQ("table 'Layout' of the update information has no key column 'Label'",
            ExpectError(errors::kItemNotFound, [this] { MergeAllTables(context_); }));
  EXPECT_EQ(Lines{}, LogLines());
  EXPECT_EQ("7\n", QueryUpdate("SELECT * FROM Layout"));
}

// A table only the database in use has, with an auto-increment key whose
// numbers have a gap and are stored out of order (rowid order 5, 1, 2).
constexpr char kNumberedStations[] =
    "CREATE TABLE Stations (ID COUNTER PRIMARY KEY, Code TEXT(10) COLLATE NOCASE);"
    "INSERT INTO Stations VALUES (5, 'RS05'), (1, 'RS01'), (2, 'RS02');";

TEST_F(MergeAllTablesTest, TableCarriedOverWholeKeepsItsAutoNumbers) {
  // Numbered by the target, RS05 would become 1, and RS01 would then
  // overwrite it.
  OpenDatabases(kNumberedStations, kNoTables);
  WorkOn("config.mdb");
  MergeAllTables(context_);
  Lines log = LogLines();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "   ADD FIELD TO NEW RECORD ID:= 5"));
  EXPECT_EQ(3, std::count(log.begin(), log.end(), "   ADD RECORD Key=ID "));
  EXPECT_EQ("1|RS01\n2|RS02\n5|RS05\n", QueryUpdate("SELECT * FROM Stations ORDER BY ID"));
}

TEST_F(MergeAllTablesTest, RecordsAddedToATableOfBothDatabasesAreNumberedByTheTarget) {
  OpenDatabases(kNumberedStations,
                "CREATE TABLE Stations (ID COUNTER PRIMARY KEY, Code TEXT(10) COLLATE NOCASE);"
                "INSERT INTO Stations VALUES (1, 'RS01'), (7, 'RS07');");
  WorkOn("config.mdb");
  MergeAllTables(context_);
  EXPECT_EQ((Lines{
                " ADD/REPLACE RECORDS in Stations",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD Code:= RS05",
                "   ADD RECORD Key=ID ",
                "   ADD FIELD TO NEW RECORD Code:= RS02",
            }),
            LogLines());
  EXPECT_EQ("1|RS01\n7|RS07\n8|RS05\n9|RS02\n", QueryUpdate("SELECT * FROM Stations ORDER BY ID"));
}

TEST_F(TableMergeTest, TableCreatedInTheDatabaseInUseKeepsItsAutoNumbers) {
  OpenDatabases(kNoTables, kNumberedStations);
  WorkOn("accounting.mdb");
  MergeTable(context_, "Stations");
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("1|RS01\n2|RS02\n5|RS05\n", QueryExisting("SELECT * FROM Stations ORDER BY ID"));
}

}  // namespace
}  // namespace tabsync::engine
