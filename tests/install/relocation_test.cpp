#include "install/relocation.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/fake_install_test.h"

namespace tabsync::install {
namespace {

using Strings = std::vector<std::string>;
namespace file_errors = platform::file_errors;

constexpr char kTarget[] = "/srv/shared/Infrastructure/DB/";
constexpr char kRepeat[] =
    "||Could not move all databases. Please re-run ||  'tabsync DB'||from the target folder.|"
    "You do not need to re-run the whole installation again.";

TEST(CreateDatabaseFoldersTest, CreatesTheMissingLevelsInOrder) {
  test::FakeFileSystem files;
  files.AddFolder("/srv");
  CreateDatabaseFolders(files, "/srv/shared/");
  EXPECT_EQ((Strings{"create folder /srv/shared", "create folder /srv/shared/Infrastructure",
                     "create folder /srv/shared/Infrastructure/DB"}),
            files.Actions());
  CreateDatabaseFolders(files, "/srv/shared/");
  EXPECT_EQ(3u, files.Actions().size());
}

TEST(CreateDatabaseFoldersTest, MissingParentOfTheLocationRaises) {
  test::FakeFileSystem files;
  try {
    CreateDatabaseFolders(files, "/srv/shared/");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(file_errors::kPathNotFound, error.Number());
  }
}

class MoveDatabaseTest : public test::FakeInstallTest {
 protected:
  MoveDatabaseTest() { files_.AddFolder(kTarget); }

  BackupHistory history_{files_, {2026, 12, 8, 9, 5, 31}};

  bool Move() {
    return MoveDatabase(platform_, history_, kTarget, "/opt/korvane/DB", "Users", "users.mdb");
  }
  std::string Registered() {
    std::string value;
    registrations_.ReadDataSourceValue("Users", "DBQ", &value);
    return value;
  }
};

TEST_F(MoveDatabaseTest, DatabaseIsMovedAndRegisteredAnew) {
  registrations_.Register("Users", "/old/users.mdb");
  files_.AddFile("/old/users.mdb", "in use");
  EXPECT_TRUE(Move());
  EXPECT_FALSE(files_.HasFile("/old/users.mdb"));
  EXPECT_EQ("in use", files_.GetFile(std::string(kTarget) + "users.mdb").content);
  EXPECT_FALSE(files_.HasFile(std::string(kTarget) + "users.mdb.bak"));
  EXPECT_EQ(std::string(kTarget) + "users.mdb", Registered());
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(MoveDatabaseTest, FileInTheTargetBecomesTheBackupReplacingAnOlderOne) {
  registrations_.Register("Users", "/old/users.mdb");
  files_.AddFile("/old/users.mdb", "in use");
  files_.AddFile(std::string(kTarget) + "users.mdb", "stood there");
  files_.AddFile(std::string(kTarget) + "users.mdb.bak", "older backup");
  EXPECT_TRUE(Move());
  EXPECT_EQ("in use", files_.GetFile(std::string(kTarget) + "users.mdb").content);
  EXPECT_EQ("stood there", files_.GetFile(std::string(kTarget) + "users.mdb.bak").content);
}

TEST_F(MoveDatabaseTest, UnregisteredDataSourceIsReportedAndTheMovesGoOn) {
  EXPECT_TRUE(Move());
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: Database Users not found!"}, Messages());
  EXPECT_TRUE(files_.Actions().empty());
}

TEST_F(MoveDatabaseTest, DatabaseInTheTargetIsNotTouched) {
  registrations_.Register("Users", std::string(kTarget) + "users.mdb");
  files_.AddFile(std::string(kTarget) + "users.mdb", "in use");
  EXPECT_TRUE(Move());
  EXPECT_TRUE(files_.Actions().empty());
  EXPECT_TRUE(installer_.Requests().empty());
}

TEST_F(MoveDatabaseTest, TargetReachedThroughALinkIsRecognisedAndNotCopiedOntoItself) {
  files_.AddFolderAlias("/srv/link", kTarget);
  registrations_.Register("Users", "/srv/link/users.mdb");
  files_.AddFile(std::string(kTarget) + "users.mdb", "in use");
  EXPECT_TRUE(Move());
  EXPECT_TRUE(files_.Actions().empty());
  EXPECT_EQ("in use", files_.GetFile(std::string(kTarget) + "users.mdb").content);
  // Only the data source takes the target's spelling.
  EXPECT_EQ(std::string(kTarget) + "users.mdb", Registered());
}

// The release's own file, also when the data source reaches the update
// folder by another spelling, is neither copied, deleted nor registered.
TEST_F(MoveDatabaseTest, DatabaseInTheUpdateFolderIsReportedAndNotMoved) {
  files_.AddFolderAlias("/opt/korvane/./DB", "/opt/korvane/DB");
  registrations_.Register("Users", "/opt/korvane/./DB/users.mdb");
  files_.AddFile("/opt/korvane/DB/users.mdb", "the release's");
  EXPECT_TRUE(Move());
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: The database of ODBC data source Users "
                    "lies in the update folder and is not moved:||/opt/korvane/./DB/users.mdb"},
            Messages());
  EXPECT_TRUE(files_.Actions().empty());
  EXPECT_TRUE(installer_.Requests().empty());
  EXPECT_EQ("the release's", files_.GetFile("/opt/korvane/DB/users.mdb").content);
}

TEST_F(MoveDatabaseTest, MissingSourceStopsAndLeavesTheTargetAndItsBackupAlone) {
  registrations_.Register("Users", "/old/users.mdb");
  files_.AddFile(std::string(kTarget) + "users.mdb", "stood there");
  files_.AddFile(std::string(kTarget) + "users.mdb.bak", "older backup");
  EXPECT_FALSE(Move());
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: Error: ODBC-entried file does not exist: "
                    "|/old/users.mdb" +
                    std::string(kRepeat)},
            Messages());
  EXPECT_TRUE(files_.Actions().empty());
  EXPECT_EQ("stood there", files_.GetFile(std::string(kTarget) + "users.mdb").content);
  EXPECT_EQ("older backup", files_.GetFile(std::string(kTarget) + "users.mdb.bak").content);
}

TEST_F(MoveDatabaseTest, FailedCopyStopsWithTheErrorAndKeepsTheFileInTheTarget) {
  registrations_.Register("Users", "/old/users.mdb");
  files_.AddFile("/old/users.mdb", "in use");
  files_.AddFile(std::string(kTarget) + "users.mdb", "stood there");
  files_.FailOn("copy", std::string(kTarget) + "users.mdb", file_errors::kDiskFull);
  EXPECT_FALSE(Move());
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: Error 61: Disk full" +
                    std::string(kRepeat)},
            Messages());
  EXPECT_EQ("stood there", files_.GetFile(std::string(kTarget) + "users.mdb").content);
  EXPECT_EQ("in use", files_.GetFile("/old/users.mdb").content);
  EXPECT_EQ("/old/users.mdb", Registered());

  // The repeat the message asks for finishes the move and loses nothing.
  files_.StopFailing();
  EXPECT_TRUE(Move());
  EXPECT_EQ("in use", files_.GetFile(std::string(kTarget) + "users.mdb").content);
  EXPECT_EQ("stood there", files_.GetFile(std::string(kTarget) + "users.mdb.bak").content);
}

// The target folder's older backup, read-only or not, goes into the history
// before the kept copy of its own database takes its name.
TEST_F(MoveDatabaseTest, OlderBackupGoesIntoTheHistory) {
  registrations_.Register("Users", "/old/users.mdb");
  files_.AddFile("/old/users.mdb", "in use");
  files_.AddFile(std::string(kTarget) + "users.mdb", "target's own");
  files_.AddFile(std::string(kTarget) + "users.mdb.bak", "older backup", /*read_only=*/true);
  EXPECT_TRUE(Move());
  EXPECT_EQ("older backup",
            files_.GetFile(std::string(kTarget) + "backups/20261208-090531/users.mdb.bak").content);
  EXPECT_EQ("target's own", files_.GetFile(std::string(kTarget) + "users.mdb.bak").content);
  EXPECT_EQ("in use", files_.GetFile(std::string(kTarget) + "users.mdb").content);
}

// A relative path or a folder as "DBQ" names no database file: nothing is
// moved from (or beside) it, and the move goes on with the next database.
TEST_F(MoveDatabaseTest, DataSourceThatNamesNoFileIsNotMoved) {
  for (const char* dbq : {"users.mdb", "/old/users.mdb/", "/old/users"}) {
    registrations_.Register("Users", dbq);
    files_.AddFile("/users.mdb", "root's");
    files_.AddFile("/old/users.mdb", "in use");
    files_.AddFolder("/old/users");
    ui_ = test::FakeUserInterface();
    EXPECT_TRUE(Move()) << dbq;
    EXPECT_EQ(Strings{"critical/ok Korvane Database Update: ODBC data source does not name a "
                      "database file: Users"},
              Messages())
        << dbq;
    EXPECT_FALSE(files_.HasFile(std::string(kTarget) + "users.mdb")) << dbq;
  }
  EXPECT_TRUE(installer_.Requests().empty());
}

TEST_F(MoveDatabaseTest, FailedRegistrationKeepsTheDatabaseTheDataSourceNamesAndStops) {
  registrations_.Register("Users", "/old/users.mdb");
  files_.AddFile("/old/users.mdb", "in use");
  installer_.FailFor("Users");
  EXPECT_FALSE(Move());
  EXPECT_EQ((Strings{"critical/ok Korvane Database Update: DSN: Users[" + std::string(kTarget) +
                         "users.mdb] creation failed.",
                     "critical/ok Korvane Database Update: Error: ODBC entry Users not "
                     "re-configured; the database stays at: |/old/users.mdb" +
                         std::string(kRepeat)}),
            Messages());
  // The data source still names the old file, so it must still be there.
  EXPECT_EQ("/old/users.mdb", Registered());
  EXPECT_EQ("in use", files_.GetFile("/old/users.mdb").content);
}

TEST_F(MoveDatabaseTest, SourceThatCannotBeDeletedStopsAfterTheCopy) {
  registrations_.Register("Users", "/old/users.mdb");
  files_.AddFile("/old/users.mdb", "in use", /*read_only=*/true);
  EXPECT_FALSE(Move());
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: Error 70: Permission denied" +
                    std::string(kRepeat)},
            Messages());
  // The data source names the copy, so the repeat skips this database.
  EXPECT_EQ(std::string(kTarget) + "users.mdb", Registered());
  EXPECT_TRUE(Move());
  EXPECT_EQ(1u, ui_.Messages().size());
}

}  // namespace
}  // namespace tabsync::install
