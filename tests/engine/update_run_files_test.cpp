// The update run on real files: SQLite databases in a temporary folder, the
// real engine, file system and clock, and data sources in a private odbc.ini.

#include <sys/stat.h>

#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/catalogue.h"
#include "engine/update_run.h"
#include "support/private_odbc_folder.h"
#include "support/real_run_test.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::engine {
namespace {

using test::QuerySql;
using test::ReadFileBytes;

class UpdateRunFilesTest : public test::RealRunTest {
 protected:
  void SetUp() override {
    test::PrivateOdbcFolder();
    ASSERT_EQ(0, mkdir(dir_.File("share").c_str(), 0755));
    ASSERT_EQ(0, mkdir(shared_.c_str(), 0755));
    ASSERT_EQ(0, mkdir(dir_.File("inst").c_str(), 0755));
    ASSERT_EQ(0, mkdir(update_.c_str(), 0755));
    for (const CatalogueEntry& entry : DatabaseCatalogue) {
      MakeDatabase(update_ + entry.file_name, "new");
      if (std::string(entry.file_name) != "onlineshop.mdb") {
        MakeDatabase(shared_ + entry.file_name, "old");
      }
    }
    test::WriteOdbcIni(
        "# data sources of the server\n"
        "[Accounting]\nDriver=SQLite3\nDBQ=" + shared_ + "accounting.mdb\n"
        "[Orbisdat]\nDBQ=" + shared_ + "availability.mdb\n"
        "[Config]\nDBQ=" + shared_ + "config.mdb\n"
        "[OnlineShop]\nDBQ=" + shared_ + "onlineshop.mdb\n"
        "[Resource]\nDBQ=" + shared_ + "resource.mdb\n"
        "[users]\r\ndbq = " + shared_ + "users.mdb \r\n");
    log_.SetLogFilePath(shared_ + "Stabmerge.log");
    // The files the run backs up, replaces and restores are the subject
    // here; the release's steps are tested on a whole release elsewhere.
    context_.SetReleaseSteps([](UpdateContext&, const std::string&) { return true; });
  }

  void TearDown() override { test::WriteOdbcIni(""); }

  static void MakeDatabase(const std::string& path, const std::string& version) {
    test::ExecSql(path,
                  "CREATE TABLE Version (DBVersion TEXT(20) PRIMARY KEY);"
                  "INSERT INTO Version VALUES ('" + version + "');");
  }

  // The log with every line's date and time prefix checked and replaced by
  // "<time> ".
  std::string LogWithoutTimes() {
    log_.Flush();
    static const std::regex prefix("(^|\n)[0-9]{2}-[0-9]{2}-[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} ");
    return std::regex_replace(ReadFileBytes(shared_ + "Stabmerge.log"), prefix, "$1<time> ");
  }

  std::string shared_ = dir_.File("share/DB/");
  std::string update_ = dir_.File("inst/DB/");
};

TEST_F(UpdateRunFilesTest, RunBacksUpReplacesRestoresAndLogsEveryAction) {
  std::string accounting = ReadFileBytes(shared_ + "accounting.mdb");
  std::string config = ReadFileBytes(shared_ + "config.mdb");
  std::string update_config = ReadFileBytes(update_ + "config.mdb");
  ASSERT_EQ(0, chmod((shared_ + "users.mdb").c_str(), 0600));

  UpdateAllDatabases(context_, update_.substr(0, update_.size() - 1));

  EXPECT_FALSE(context_.ErrorsDetected());
  std::string expected_log = "<time> ## BEGIN UPDATING\r\n";
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    std::string file = entry.file_name;
    std::string source = entry.data_source_name;
    expected_log += "<time> *********************************\r\n";
    expected_log += "<time> DATABASE START: " + file + "\r\n";
    if (file == "onlineshop.mdb") {
      expected_log += "<time>  COPY WHOLE DATABASE onlineshop.mdb\r\n";
    } else if (!IsDataDatabase(file)) {
      expected_log += "<time> Database '" + source + "' with merge information: " + shared_ + file + "\r\n";
      expected_log += "<time> Database '" + source + "' with DB to be updated: " + update_ + file + "\r\n";
    }
    expected_log += "<time> DATABASE END: " + file + "\r\n";
  }
  expected_log += "<time> ## END UPDATING\r\n";
  EXPECT_EQ(expected_log, LogWithoutTimes());

  // Backups hold the content from before the run, with the same permissions.
  EXPECT_EQ(accounting, ReadFileBytes(shared_ + "accounting.mdb.bak"));
  EXPECT_EQ(config, ReadFileBytes(shared_ + "config.mdb.bak"));
  struct stat status;
  ASSERT_EQ(0, stat((shared_ + "users.mdb.bak").c_str(), &status));
  EXPECT_EQ(0600u, status.st_mode & 0777);
  EXPECT_FALSE(files_->FileExists(shared_ + "onlineshop.mdb.bak"));

  // The reference databases are now the update information; the update
  // folder holds its files as they were, without backups.
  EXPECT_EQ("new\n", QuerySql(shared_ + "config.mdb", "SELECT DBVersion FROM Version"));
  EXPECT_EQ("new\n", QuerySql(shared_ + "resource.mdb", "SELECT DBVersion FROM Version"));
  EXPECT_EQ("old\n", QuerySql(shared_ + "users.mdb", "SELECT DBVersion FROM Version"));
  EXPECT_EQ("new\n", QuerySql(shared_ + "onlineshop.mdb", "SELECT DBVersion FROM Version"));
  EXPECT_EQ(update_config, ReadFileBytes(update_ + "config.mdb"));
  EXPECT_FALSE(files_->FileExists(update_ + "config.mdb.bak"));
  EXPECT_FALSE(files_->FileExists(update_ + "resource.mdb.bak"));
}

TEST_F(UpdateRunFilesTest, SecondRunReplacesEachBackupWithTheFirstRunsResult) {
  UpdateAllDatabases(context_, update_);
  UpdateAllDatabases(context_, update_);
  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ("new\n", QuerySql(shared_ + "config.mdb.bak", "SELECT DBVersion FROM Version"));
  EXPECT_EQ("new\n", QuerySql(shared_ + "onlineshop.mdb.bak", "SELECT DBVersion FROM Version"));
  EXPECT_EQ("old\n", QuerySql(shared_ + "accounting.mdb.bak", "SELECT DBVersion FROM Version"));
}

TEST_F(UpdateRunFilesTest, DataSourceMissingFromOdbcIniIsSkipped) {
  test::WriteOdbcIni("[Accounting]\nDBQ=" + shared_ + "accounting.mdb\n");
  UpdateAllDatabases(context_, update_);
  EXPECT_TRUE(context_.ErrorsDetected());
  std::string log = LogWithoutTimes();
  EXPECT_NE(std::string::npos,
            log.find("<time> DATABASE START: users.mdb\r\n"
                     "<time>  !ERROR ODBC data source not registered: Users\r\n"
                     "<time> DATABASE END: users.mdb\r\n"
                     "<time> ## END UPDATING\r\n"));
  EXPECT_FALSE(files_->FileExists("/users.mdb"));
}

TEST_F(UpdateRunFilesTest, UpdateFolderReachedThroughALinkIsTheDatabaseFolder) {
  ASSERT_EQ(0, symlink(shared_.c_str(), dir_.File("link").c_str()));
  UpdateAllDatabases(context_, dir_.File("link"));
  EXPECT_TRUE(context_.ErrorsDetected());
  EXPECT_NE(std::string::npos,
            LogWithoutTimes().find("<time>  !ERROR update folder and database folder are the same: " +
                                   shared_ + "\r\n"));
  EXPECT_EQ("old\n", QuerySql(shared_ + "config.mdb", "SELECT DBVersion FROM Version"));
  EXPECT_FALSE(files_->FileExists(shared_ + "config.mdb.bak"));
}

// Update information delivered read-only, in a read-only folder, two files in
// WAL mode, and held open by another reader all through the run: the run
// merges, and the update folder is byte for byte as delivered, without a
// -wal or -shm file.
TEST_F(UpdateRunFilesTest, UpdateFolderIsOnlyRead) {
  std::map<std::string, std::string> delivered;
  test::ExecSql(update_ + "users.mdb", "PRAGMA journal_mode = WAL");
  test::ExecSql(update_ + "resource.mdb", "PRAGMA journal_mode = WAL");
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    std::string path = update_ + entry.file_name;
    ASSERT_EQ(0, chmod(path.c_str(), 0444));
    delivered[entry.file_name] = ReadFileBytes(path);
  }
  ASSERT_EQ(0, chmod(update_.c_str(), 0555));
  {
    test::SharedReader reader(update_ + "config.mdb");
    UpdateAllDatabases(context_, update_);
  }
  chmod(update_.c_str(), 0755);
  EXPECT_FALSE(context_.ErrorsDetected()) << LogWithoutTimes();
  EXPECT_EQ(6u, test::NamesIn(update_).size());
  for (const auto& [file, bytes] : delivered) {
    EXPECT_TRUE(bytes == ReadFileBytes(update_ + file)) << file;
    EXPECT_EQ(0444u, test::ModeOf(update_ + file)) << file;
  }
  EXPECT_EQ("new\n", QuerySql(shared_ + "config.mdb", "SELECT DBVersion FROM Version"));
  EXPECT_FALSE(files_->FileExists(WorkingCopyPath(shared_, "config.mdb")));
}

// Release files in WAL mode become databases in the format's rollback
// journal, both the rebuilt one (resource) and the one copied whole
// (onlineshop), and so does a database in use in WAL mode once updated
// (accounting). No -wal or -shm is left, nor those a killed run left beside
// its working copy.
TEST_F(UpdateRunFilesTest, DatabasesEndInTheRollbackJournalWhateverTheReleaseFileWas) {
  for (const char* file : {"resource.mdb", "onlineshop.mdb"})
    test::ExecSql(update_ + file, "PRAGMA journal_mode = WAL");
  test::ExecSql(shared_ + "accounting.mdb", "PRAGMA journal_mode = WAL");
  std::string copy = WorkingCopyPath(shared_, "config.mdb");
  for (const char* end : {"-wal", "-shm"}) std::ofstream(copy + end) << "left by a killed run";

  UpdateAllDatabases(context_, update_);

  EXPECT_FALSE(context_.ErrorsDetected()) << LogWithoutTimes();
  for (const std::string& name : test::NamesIn(shared_)) {
    EXPECT_FALSE(name.ends_with("-wal") || name.ends_with("-shm")) << name;
  }
  for (const char* file : {"accounting.mdb", "resource.mdb", "onlineshop.mdb"}) {
    EXPECT_EQ("delete\n", QuerySql(shared_ + file, "PRAGMA journal_mode")) << file;
  }
}

// A writer of users.mdb died in its commit: the backup is the database as a
// client reads it, not the torn file.
TEST_F(UpdateRunFilesTest, BackupOfADatabaseWithAHotJournalIsNotTorn) {
  test::LeaveHotJournal(shared_ + "users.mdb", "Version");
  UpdateAllDatabases(context_, update_);
  EXPECT_FALSE(context_.ErrorsDetected()) << LogWithoutTimes();
  EXPECT_EQ("ok\n", QuerySql(shared_ + "users.mdb.bak", "PRAGMA integrity_check"));
  EXPECT_EQ("old\n", QuerySql(shared_ + "users.mdb.bak", "SELECT DBVersion FROM Version"));
  EXPECT_FALSE(files_->FileExists(shared_ + "users.mdb.bak-journal"));
}

// Run as root, the replaced reference database and every backup keep the
// operator's owner, group and mode.
TEST_F(UpdateRunFilesTest, OwnerAndModeAreKept) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give files away";
  for (const char* file : {"config.mdb", "users.mdb"}) {
    ASSERT_EQ(0, chown((shared_ + file).c_str(), 65534, 65534));
    ASSERT_EQ(0, chmod((shared_ + file).c_str(), 0600));
  }
  UpdateAllDatabases(context_, update_);
  EXPECT_FALSE(context_.ErrorsDetected()) << LogWithoutTimes();
  for (const char* file : {"config.mdb", "config.mdb.bak", "users.mdb", "users.mdb.bak"}) {
    struct stat info;
    ASSERT_EQ(0, stat((shared_ + file).c_str(), &info)) << file;
    EXPECT_EQ(65534u, info.st_uid) << file;
    EXPECT_EQ(65534u, info.st_gid) << file;
    EXPECT_EQ(0600u, info.st_mode & 07777) << file;
  }
}

// Data sources whose database is no file the run may write: each is skipped
// with its line, and nothing is written where the path would lead.
TEST_F(UpdateRunFilesTest, PathsThatLeadElsewhereAreSkipped) {
  ASSERT_EQ(0, mkdir(dir_.File("elsewhere").c_str(), 0755));
  ASSERT_EQ(0, mkdir(dir_.File("elsewhere/db").c_str(), 0755));
  ASSERT_EQ(0, unlink((shared_ + "users.mdb").c_str()));
  ASSERT_EQ(0, symlink("/nonexistent/volume/users.mdb", (shared_ + "users.mdb").c_str()));
  test::WriteOdbcIni("[Accounting]\nDBQ=accounting.mdb\n"
                     "[Orbisdat]\nDBQ=" + dir_.File("elsewhere/db") + "\n"
                     "[Config]\nDBQ=" + shared_ + "config.mdb\n"
                     "[OnlineShop]\nDBQ=" + shared_ + "onlineshop.mdb\n"
                     "[Resource]\nDBQ=" + shared_ + "resource.mdb\n"
                     "[Users]\nDBQ=" + shared_ + "users.mdb\n");
  UpdateAllDatabases(context_, update_);
  EXPECT_TRUE(context_.ErrorsDetected());
  std::string log = LogWithoutTimes();
  for (const char* line :
       {" !ERROR ODBC data source does not name a database file: Accounting",
        " !ERROR ODBC data source does not name a database file: Orbisdat",
        " ERROR 75: Path/File access error\r\n<time> DATABASE END: users.mdb"}) {
    EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
  }
  EXPECT_FALSE(files_->FileExists("/accounting.mdb"));
  EXPECT_TRUE(test::NamesIn(dir_.File("elsewhere/db")).empty());
  EXPECT_EQ(std::set<std::string>{"db"}, test::NamesIn(dir_.File("elsewhere")));
  EXPECT_TRUE(files_->IsSymbolicLink(shared_ + "users.mdb"));
  EXPECT_FALSE(files_->FileExists("/nonexistent/volume/users.mdb"));
  EXPECT_NE(std::string::npos, log.find("<time> ## END UPDATING"));
}

// Twelve runs, each a run of its own time: the last ten runs' replaced
// backups are in the history, each a whole database.
TEST_F(UpdateRunFilesTest, BackupHistoryKeepsTheLastTenRuns) {
  for (int run = 1; run <= 12; ++run) {
    install::BackupHistory history(*files_, {2026, 12, run, 10, 0, 0});
    UpdateContext context(*engine_, *files_, *store_, log_, history);
    context.SetReleaseSteps([](UpdateContext&, const std::string&) { return true; });
    UpdateAllDatabases(context, update_);
    ASSERT_FALSE(context.ErrorsDetected()) << run;
  }
  std::vector<std::string> runs = install::ListRunFolders(*files_, shared_);
  ASSERT_EQ(10u, runs.size());
  EXPECT_EQ("20261203-100000", runs.front());
  for (const char* file : {"accounting.mdb.bak", "config.mdb.bak", "onlineshop.mdb.bak"}) {
    std::string kept = shared_ + "backups/" + runs.back() + "/" + file;
    EXPECT_EQ("ok\n", QuerySql(kept, "PRAGMA integrity_check")) << kept;
  }
  EXPECT_EQ("old\n", QuerySql(shared_ + "backups/" + runs.front() + "/accounting.mdb.bak",
                              "SELECT DBVersion FROM Version"));
}

}  // namespace
}  // namespace tabsync::engine
