// The release that make-release writes: its twelve files, samples of their
// exact content, how the size scales the generated records, and the
// arguments it refuses.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dao.h"
#include "dbengine/error.h"
#include "dbengine/sqlite_engine.h"
#include "make-release/release_maker.h"
#include "support/raised_error.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::release {
namespace {

using test::ExpectError;
using test::QuerySql;

const char* const kFiles[] = {"accounting.mdb", "availability.mdb", "config.mdb",
                              "onlineshop.mdb", "resource.mdb",     "users.mdb"};

class ReleaseMakerTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateFolders(); }

  void CreateFolders() {
    std::filesystem::create_directory(installed_);
    std::filesystem::create_directory(update_);
  }

  void Make(int size) { MakeRelease(*engine_, installed_, update_, size); }

  // The table names the engine enumerates, joined by ",".
  std::string TableNames(const std::string& path) {
    std::unique_ptr<dao::Database> db = engine_->OpenDatabase(path);
    std::string names;
    dao::Collection<dao::TableDef>& tables = db->TableDefs();
    for (int i = 0; i < tables.Count(); ++i)
      names += (i ? "," : "") + tables.Item(i).Name();
    return names;
  }

  std::string Count(const std::string& path, const std::string& table) {
    return QuerySql(path, "SELECT count(*) FROM \"" + table + "\"");
  }

  // The bytes of the twelve files, installed ones first.
  std::vector<std::string> AllBytes() {
    std::vector<std::string> bytes;
    for (const std::string& folder : {installed_, update_})
      for (const char* file : kFiles) bytes.push_back(test::ReadFileBytes(folder + file));
    return bytes;
  }

  bool InstalledFolderIsEmpty() { return std::filesystem::is_empty(installed_); }

  test::TempDir dir_;
  std::string installed_ = dir_.File("installed/");
  std::string update_ = dir_.File("update/");
  std::unique_ptr<dao::DatabaseEngine> engine_ = dao::NewSqliteEngine();
};

// --- The files and their tables ----------------------------------------------

TEST_F(ReleaseMakerTest, WritesTwelveDatabasesWithTheirTables) {
  Make(1);
  EXPECT_EQ("Actions,Tariffs", TableNames(installed_ + "accounting.mdb"));
  EXPECT_EQ("Actions,Tariffs,Version", TableNames(update_ + "accounting.mdb"));
  for (const std::string& folder : {installed_, update_}) {
    EXPECT_EQ("Availability,EpochDefect,SatelliteDefect,VisibleSatellites",
              TableNames(folder + "availability.mdb"));
    EXPECT_EQ("OrderItems,Orders,Products", TableNames(folder + "onlineshop.mdb"));
    EXPECT_EQ("Help,StringTable,Version", TableNames(folder + "resource.mdb"));
  }
  EXPECT_EQ(
      "Configuration,InstallState,Language,Layout,Links,MSysObjects,Privilegies,Stations,"
      "StringTable,Version",
      TableNames(installed_ + "config.mdb"));
  EXPECT_EQ(
      "Configuration,ExternalStations,HelpTexts,Language,Layout,Links,MapLayers,MSysObjects,"
      "MSysReleaseInfo,Privileges,ReleaseNotes,StringTable,Version",
      TableNames(update_ + "config.mdb"));
  EXPECT_EQ("Groups,Passwd,Privilegies,Services,Users,Version", TableNames(installed_ + "users.mdb"));
  EXPECT_EQ("AccessPrivileges,Groups,Passwd,Services,Users,Version",
            TableNames(update_ + "users.mdb"));
}

TEST_F(ReleaseMakerTest, CutoffColumnsCarryTheDegreeSignOnlyInTheInstalledRelease) {
  Make(1);
  std::unique_ptr<dao::Database> installed = engine_->OpenDatabase(installed_ + "availability.mdb");
  dao::Collection<dao::Field>& old_fields = installed->TableDefs().Item("VisibleSatellites").Fields();
  ASSERT_EQ(21, old_fields.Count());
  EXPECT_EQ("Cutoff 0\xC2\xB0", old_fields.Item(3).Name());
  EXPECT_EQ("Cutoff 85\xC2\xB0", old_fields.Item(20).Name());
  EXPECT_EQ(dao::kTypeInteger, old_fields.Item(20).Type());

  std::unique_ptr<dao::Database> update = engine_->OpenDatabase(update_ + "availability.mdb");
  dao::Collection<dao::Field>& new_fields = update->TableDefs().Item("VisibleSatellites").Fields();
  ASSERT_EQ(21, new_fields.Count());
  EXPECT_EQ("ReferenceTime", new_fields.Item(2).Name());
  EXPECT_EQ("Cutoff_85", new_fields.Item(20).Name());
}

TEST_F(ReleaseMakerTest, VisibleSatellitesDecreaseWithTheCutoffAngle) {
  Make(3);
  std::string row = QuerySql(installed_ + "availability.mdb",
                             "SELECT \"Cutoff 0\xC2\xB0\" > \"Cutoff 5\xC2\xB0\", "
                             "\"Cutoff 80\xC2\xB0\" > \"Cutoff 85\xC2\xB0\", "
                             "\"Cutoff 85\xC2\xB0\" > 0 FROM VisibleSatellites WHERE ID = 2");
  EXPECT_EQ("1|1|1\n", row);
}

// --- config.mdb --------------------------------------------------------------

TEST_F(ReleaseMakerTest, InstalledConfigLinksToTheInstalledResourceDatabase) {
  Make(1);
  std::unique_ptr<dao::Database> db = engine_->OpenDatabase(installed_ + "config.mdb");
  dao::TableDef& strings = db->TableDefs().Item("StringTable");
  EXPECT_EQ(";DATABASE=" + installed_ + "resource.mdb", strings.Connect());
  EXPECT_EQ("StringTable", strings.SourceTableName());
  EXPECT_EQ(dao::kTableAttached, strings.Attributes());
  strings.RefreshLink();  // the linked file and its table exist
  EXPECT_EQ(dao::kTableHidden, db->TableDefs().Item("InstallState").Attributes());
}

TEST_F(ReleaseMakerTest, UpdateConfigLinksToTheBuildFolderAndHasTablesToIgnore) {
  Make(1);
  std::unique_ptr<dao::Database> db = engine_->OpenDatabase(update_ + "config.mdb");
  const std::string build = ";DATABASE=/srv/korvane-build/DB/resource.mdb";
  dao::TableDef& strings = db->TableDefs().Item("StringTable");
  EXPECT_EQ(build, strings.Connect());
  EXPECT_EQ(dao::kTableAttached, strings.Attributes());
  dao::TableDef& help = db->TableDefs().Item("HelpTexts");
  EXPECT_EQ(build, help.Connect());
  EXPECT_EQ("Help", help.SourceTableName());
  EXPECT_EQ(dao::kTableAttached | dao::kTableAttachExclusive | dao::kTableAttachSavePassword,
            help.Attributes());
  dao::TableDef& external = db->TableDefs().Item("ExternalStations");
  EXPECT_EQ("ODBC;DSN=Orbisdat;", external.Connect());
  EXPECT_EQ("Stations", external.SourceTableName());
  EXPECT_EQ(dao::kTableAttachedOdbc, external.Attributes());
  EXPECT_EQ(dao::kTableHidden, db->TableDefs().Item("ReleaseNotes").Attributes());
  EXPECT_EQ(0, db->TableDefs().Item("MSysReleaseInfo").Attributes());
}

TEST_F(ReleaseMakerTest, FolderWithoutTrailingSlashGivesTheSameLink) {
  std::string installed = installed_.substr(0, installed_.size() - 1);
  MakeRelease(*engine_, installed, update_, 1);
  EXPECT_EQ("StringTable|;DATABASE=" + installed_ + "resource.mdb\n",
            QuerySql(installed_ + "config.mdb", "SELECT Name, Connect FROM MSysObjects WHERE Type = 6"));
}

TEST_F(ReleaseMakerTest, ConfigurationRecordsDifferBetweenTheReleases) {
  Make(1);
  EXPECT_EQ(
      "CasterPort|1|2101|opened in the firewall\n"
      "CasterHost|2|caster.example.net|NULL\n"
      "MailServer|3|mail.example.net|the operator's relay\n"
      "SessionTimeout|40|600|NULL\n"
      "OperatorBanner|50|Welcome to the reference network|NULL\n",
      QuerySql(installed_ + "config.mdb", "SELECT * FROM Configuration ORDER BY rowid"));
  EXPECT_EQ(
      "CasterPort|1|2101\nCasterHost|2|caster.local\nMailServer|3|localhost\n"
      "SessionTimeout|4|900\nNtripVersion|5|2.0\n",
      QuerySql(update_ + "config.mdb", "SELECT * FROM Configuration ORDER BY rowid"));
}

TEST_F(ReleaseMakerTest, LinksHoldNumericStringIdsInstalledAndTextsInUpdate) {
  Make(1);
  const std::string query = "SELECT ID, NameStringID, typeof(NameStringID), TooltipStringID "
                            "FROM Links ORDER BY ID";
  EXPECT_EQ("1|120|integer|121\n2|130|integer|131\n3|13550|integer|NULL\n",
            QuerySql(installed_ + "config.mdb", query));
  EXPECT_EQ("1|00120|text|00122\n2|00130|text|00131\n5|00140|text|00141\n",
            QuerySql(update_ + "config.mdb", query));
}

// --- resource.mdb ------------------------------------------------------------

TEST_F(ReleaseMakerTest, StringTableIdIsLongInstalledAndFiveDigitTextInUpdate) {
  Make(1);
  std::unique_ptr<dao::Database> installed = engine_->OpenDatabase(installed_ + "resource.mdb");
  dao::TableDef& old_table = installed->TableDefs().Item("StringTable");
  EXPECT_EQ(dao::kTypeLong, old_table.Fields().Item("ID").Type());
  EXPECT_EQ("Replace", old_table.Fields().Item(3).Name());

  std::unique_ptr<dao::Database> update = engine_->OpenDatabase(update_ + "resource.mdb");
  dao::TableDef& new_table = update->TableDefs().Item("StringTable");
  EXPECT_EQ(dao::kTypeText, new_table.Fields().Item("ID").Type());
  EXPECT_EQ(5, new_table.Fields().Item("ID").Size());
  EXPECT_EQ("ReplaceRow", new_table.Fields().Item(3).Name());
  EXPECT_EQ("00001|Meldung 1\n", QuerySql(update_ + "resource.mdb",
                                          "SELECT ID, GER FROM StringTable WHERE ID < '10000'"));
}

TEST_F(ReleaseMakerTest, ObsoleteStringsExistOnlyInTheInstalledRelease) {
  Make(1);
  const std::string query = "SELECT count(*) FROM StringTable WHERE ID > 13099 AND ID < 13209";
  EXPECT_EQ("3\n", QuerySql(installed_ + "resource.mdb", query));
  EXPECT_EQ("0\n", QuerySql(update_ + "resource.mdb", query));
  EXPECT_EQ("Dial-in (our network)|1\n",
            QuerySql(installed_ + "resource.mdb",
                     "SELECT ENG, Replace FROM StringTable WHERE ID = 13300"));
  EXPECT_EQ("Dial-in|0\n", QuerySql(update_ + "resource.mdb",
                                    "SELECT ENG, ReplaceRow FROM StringTable WHERE ID = '13300'"));
}

// --- Size --------------------------------------------------------------------

TEST_F(ReleaseMakerTest, SizeScalesTheGeneratedRecords) {
  Make(7);
  EXPECT_EQ("70\n", Count(installed_ + "accounting.mdb", "Actions"));
  EXPECT_EQ("7\n", QuerySql(installed_ + "accounting.mdb", "SELECT max(UserID) FROM Actions"));
  for (const char* table : {"Availability", "EpochDefect", "SatelliteDefect", "VisibleSatellites"})
    EXPECT_EQ("7\n", Count(installed_ + "availability.mdb", table)) << table;
  EXPECT_EQ("7\n", Count(installed_ + "config.mdb", "Stations"));
  EXPECT_EQ("7\n", Count(installed_ + "onlineshop.mdb", "Orders"));
  EXPECT_EQ("7\n", Count(installed_ + "onlineshop.mdb", "OrderItems"));
  EXPECT_EQ("7\n", Count(installed_ + "users.mdb", "Users"));
  EXPECT_EQ("7\n", Count(installed_ + "users.mdb", "Passwd"));
  // The fixed strings (10 installed, 6 in the update) plus the generated ones.
  EXPECT_EQ("17\n", Count(installed_ + "resource.mdb", "StringTable"));
  EXPECT_EQ("13\n", Count(update_ + "resource.mdb", "StringTable"));
  // The update's data tables stay empty whatever the size.
  EXPECT_EQ("0\n", Count(update_ + "accounting.mdb", "Actions"));
  EXPECT_EQ("0\n", Count(update_ + "users.mdb", "Users"));
}

TEST_F(ReleaseMakerTest, SmallestSizeStillHasThreeUsersAndStations) {
  Make(1);
  EXPECT_EQ("10\n", Count(installed_ + "accounting.mdb", "Actions"));
  EXPECT_EQ("3\n", Count(installed_ + "users.mdb", "Users"));
  EXPECT_EQ("3\n", Count(installed_ + "config.mdb", "Stations"));
  EXPECT_EQ("1|admin|1\n", QuerySql(installed_ + "users.mdb",
                                    "SELECT ID, Login, GroupID FROM Users WHERE ID = 1"));
}

TEST_F(ReleaseMakerTest, InstalledStringTableStopsAtTheLargest16BitId) {
  Make(32000);
  // Generated identifiers skip 13000 to 13999: 32000 strings end at 33000.
  const std::string generated = "SELECT count(*), max(ID) FROM StringTable WHERE ID < 13000 OR ";
  EXPECT_EQ("32000|33000\n",
            QuerySql(update_ + "resource.mdb", generated + "ID > '13999'"));
  EXPECT_EQ("31767|32767\n",
            QuerySql(installed_ + "resource.mdb", generated + "ID > 13999"));
}

// --- Same arguments, same bytes ----------------------------------------------

TEST_F(ReleaseMakerTest, SameArgumentsGiveByteIdenticalFiles) {
  Make(5);
  std::vector<std::string> first = AllBytes();
  std::filesystem::remove_all(installed_);
  std::filesystem::remove_all(update_);
  CreateFolders();
  Make(5);
  std::vector<std::string> second = AllBytes();
  ASSERT_EQ(first.size(), second.size());
  for (size_t i = 0; i < first.size(); ++i) EXPECT_TRUE(first[i] == second[i]) << "file " << i;
}

// --- Refused arguments -------------------------------------------------------

TEST_F(ReleaseMakerTest, ExistingFileFailsWith3204BeforeAnythingIsWritten) {
  test::ExecSql(update_ + "users.mdb", "CREATE TABLE T (x)");
  std::string description = ExpectError(errors::kDatabaseExists, [&] { Make(1); });
  EXPECT_NE(std::string::npos, description.find("users.mdb")) << description;
  EXPECT_TRUE(InstalledFolderIsEmpty());
}

TEST_F(ReleaseMakerTest, SizeOutsideOneToMaximumFailsWith3001) {
  ExpectError(errors::kInvalidArgument, [&] { Make(0); });
  ExpectError(errors::kInvalidArgument, [&] { Make(-1); });
  ExpectError(errors::kInvalidArgument, [&] { Make(kMaxReleaseSize + 1); });
  EXPECT_TRUE(InstalledFolderIsEmpty());
}

TEST_F(ReleaseMakerTest, RelativeInstalledFolderFailsWith3001) {
  ExpectError(errors::kInvalidArgument, [&] { MakeRelease(*engine_, "installed/", update_, 1); });
  EXPECT_TRUE(std::filesystem::is_empty(update_));
}

TEST_F(ReleaseMakerTest, MissingUpdateFolderFailsWith3024) {
  ExpectError(errors::kFileNotFound,
              [&] { MakeRelease(*engine_, installed_, dir_.File("missing/"), 1); });
  EXPECT_TRUE(InstalledFolderIsEmpty());
}

}  // namespace
}  // namespace tabsync::release
