#include "startup/restore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbengine/sqlite_engine.h"
#include "platform/posix_file_system.h"
#include "support/fake_odbc_installer.h"
#include "support/fake_registration_store.h"
#include "support/fake_shared_files_store.h"
#include "support/fake_user_interface.h"
#include "support/fixed_clock.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::startup {
namespace {

using Strings = std::vector<std::string>;

constexpr const char* kDatabases[][2] = {
    {"Accounting", "accounting.mdb"}, {"Config", "config.mdb"}, {"Users", "users.mdb"}};
// The run folder the restore makes, named by the fixed clock.
constexpr char kRestoreRun[] = "backups/20261208-090531/";

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void MakeDatabase(const std::string& path, const std::string& value) {
  test::ExecSql(path, "CREATE TABLE T (v TEXT); INSERT INTO T VALUES ('" + value + "')");
}

// What a name holds, without opening a FIFO.
std::string Snapshot(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return "missing";
  if (S_ISLNK(info.st_mode)) return "link to " + std::filesystem::read_symlink(path).string();
  if (!S_ISREG(info.st_mode)) return "special";
  return "file " + test::ReadFileBytes(path);
}

// A database whose first page is sound, so that it opens, with a page of
// its table overwritten: only a check of every page finds it.
void MakeDamagedDatabase(const std::string& path) {
  test::ExecSql(path,
                "PRAGMA page_size = 4096; CREATE TABLE T (v TEXT);"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)"
                " INSERT INTO T SELECT printf('%0200d', i) FROM n");
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(4096 * 3);
  file << std::string(4096, '\x55');
}

struct RestoreCase {
  const char* name;
  // Spoils the site in the folder of the databases (ending in "/").
  std::function<void(const std::string& shared, const std::string& outside)> spoil;
  int status;
  Strings left;          // databases that must stay as they were
  std::string message;   // part of the message shown; "" for none
  std::string run = "";  // --restore RUN
};

void PrintTo(const RestoreCase& c, std::ostream* out) { *out << c.name; }

// --restore on real files over three databases, each with its backup; each
// case spoils one thing. The others are still restored, each database in use
// replaced is kept byte for byte in the history, and no restore's copy is
// left.
class RestoreTest : public ::testing::TestWithParam<RestoreCase> {
 protected:
  RestoreTest() {
    std::filesystem::create_directories(shared_);
    std::filesystem::create_directories(outside_);
    share_.Register(dir_.Path());
    for (const auto& [data_source, file] : kDatabases) {
      registrations_.Register(data_source, shared_ + file);
      MakeDatabase(shared_ + file, "in use");
      MakeDatabase(shared_ + file + ".bak", "backup");
    }
  }

  test::TempDir dir_;
  std::string shared_ = dir_.File("Infrastructure/DB/");
  std::string outside_ = dir_.File("outside/");
  std::unique_ptr<platform::FileSystem> files_ = platform::NewPosixFileSystem();
  std::unique_ptr<dao::DatabaseEngine> engine_ = dao::NewSqliteEngine();
  test::FakeRegistrationStore registrations_;
  test::FakeOdbcInstaller installer_{registrations_};
  test::FakeUserInterface ui_;
  test::FakeSharedFilesStore share_;
  test::FixedClock clock_{{2026, 12, 8, 9, 5, 31}};
  std::ostringstream out_;
  SiteTools tools_{{*files_, registrations_, installer_, ui_}, share_, clock_, *engine_, out_};
};

TEST_P(RestoreTest, EachBackupIsCheckedAndEveryGoodOneRestored) {
  const RestoreCase& c = GetParam();
  c.spoil(shared_, outside_);
  std::map<std::string, std::string> before, content;
  for (const auto& [data_source, file] : kDatabases) {
    before[file] = Snapshot(shared_ + file);
    if (before[file] != "special") content[file] = "file " + test::ReadFileBytes(shared_ + file);
  }

  EXPECT_EQ(c.status, Restore(tools_, c.run, true));

  std::string messages;
  for (const platform::Message& message : ui_.Messages()) messages += test::Describe(message);
  if (c.message.empty()) {
    EXPECT_EQ("", messages);
  } else {
    EXPECT_NE(std::string::npos, messages.find(c.message)) << messages;
  }
  for (const auto& [data_source, file] : kDatabases) {
    std::string path = shared_ + file;
    if (std::find(c.left.begin(), c.left.end(), file) != c.left.end()) {
      EXPECT_EQ(before[file], Snapshot(path)) << file;
      continue;
    }
    EXPECT_EQ("backup\n", test::QuerySql(path, "SELECT v FROM T")) << file;
    EXPECT_EQ(content[file], Snapshot(shared_ + kRestoreRun + file)) << file;
    // A link stays a link; what it leads to is restored.
    EXPECT_EQ(before[file].substr(0, 4), Snapshot(path).substr(0, 4)) << file;
  }
  for (const std::string& folder : {shared_, outside_}) {
    for (const std::string& name : test::NamesIn(folder))
      EXPECT_EQ(std::string::npos, name.find("tabsync-restore")) << name;
  }
}

void Spoil(const std::string& path, const std::string& content) { WriteFile(path, content); }

// Without the data sources there is nothing to restore: the cause is named
// before the lock is taken or anything replaced.
TEST_F(RestoreTest, OdbcIniThatCannotBeReadStopsBeforeAnything) {
  registrations_.MakeUnreadable("a folder");
  EXPECT_EQ(2, Restore(tools_, "", true));
  ASSERT_EQ(1u, ui_.Messages().size());
  EXPECT_EQ("critical/ok Korvane Database Update: Cannot read the ODBC data sources:||"
            "/etc/odbc.ini is a folder.",
            test::Describe(ui_.Messages()[0]));
  EXPECT_FALSE(std::filesystem::exists(shared_ + "tabsync.lock"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestoreTest,
    ::testing::Values(
        // A database in use that is no database is kept as it is, and
        // replaced: that is when a restore is needed.
        RestoreCase{"JunkDatabaseInUse",
                    [](const std::string& s, const std::string&) {
                      Spoil(s + "users.mdb", "junk\n");
                    },
                    0, {}, ""},
        RestoreCase{"JunkBackup",
                    [](const std::string& s, const std::string&) {
                      Spoil(s + "users.mdb.bak", "junk\n");
                    },
                    1, {"users.mdb"}, "users.mdb.bak'."},
        RestoreCase{"DamagedBackup",
                    [](const std::string& s, const std::string&) {
                      unlink((s + "users.mdb.bak").c_str());
                      MakeDamagedDatabase(s + "users.mdb.bak");
                    },
                    1, {"users.mdb"}, "users.mdb.bak||PRAGMA quick_check: "},
        RestoreCase{"FifoBackup",
                    [](const std::string& s, const std::string&) {
                      unlink((s + "users.mdb.bak").c_str());
                      mkfifo((s + "users.mdb.bak").c_str(), 0644);
                    },
                    1, {"users.mdb"}, "users.mdb.bak||It is no regular file."},
        // A backup there in any form is named when it cannot be restored.
        RestoreCase{"FolderBackup",
                    [](const std::string& s, const std::string&) {
                      unlink((s + "users.mdb.bak").c_str());
                      mkdir((s + "users.mdb.bak").c_str(), 0755);
                    },
                    1, {"users.mdb"}, "users.mdb.bak||It is no regular file."},
        RestoreCase{"FolderInUse",
                    [](const std::string& s, const std::string&) {
                      unlink((s + "users.mdb").c_str());
                      mkdir((s + "users.mdb").c_str(), 0755);
                    },
                    1, {"users.mdb"}, "users.mdb||It is no regular file"},
        // A database of other tables would empty the one in use.
        RestoreCase{"UnrelatedBackup",
                    [](const std::string& s, const std::string&) {
                      unlink((s + "users.mdb.bak").c_str());
                      test::ExecSql(s + "users.mdb.bak", "CREATE TABLE Notes (Text TEXT)");
                    },
                    1, {"users.mdb"}, "users.mdb.bak||It holds none of the tables"},
        // A .bak kept elsewhere is only read; a link in the history is not.
        RestoreCase{"BackupLinkedElsewhere",
                    [](const std::string& s, const std::string& o) {
                      rename((s + "users.mdb.bak").c_str(), (o + "users.mdb.bak").c_str());
                      std::filesystem::create_symlink(o + "users.mdb.bak", s + "users.mdb.bak");
                    },
                    0, {}, ""},
        RestoreCase{"LinkInARunFolder",
                    [](const std::string& s, const std::string& o) {
                      MakeDatabase(o + "good.mdb", "outside");
                      std::filesystem::create_directories(s + "backups/20261201-090000");
                      std::filesystem::create_symlink(o + "good.mdb",
                                                      s + "backups/20261201-090000/users.mdb.bak");
                    },
                    1, {"accounting.mdb", "config.mdb", "users.mdb"},
                    "users.mdb.bak||It is a symbolic link", "20261201-090000"},
        RestoreCase{"FifoInUse",
                    [](const std::string& s, const std::string&) {
                      unlink((s + "users.mdb").c_str());
                      mkfifo((s + "users.mdb").c_str(), 0644);
                    },
                    1, {"users.mdb"}, "users.mdb||It is no regular file"},
        // A database kept on another volume is restored where its link
        // leads, and what a killed restore left there goes.
        RestoreCase{"LinkedDatabaseInUse",
                    [](const std::string& s, const std::string& o) {
                      MakeDatabase(o + "users.mdb", "elsewhere");
                      Spoil(o + ".users.mdb.tabsync-restore", "half");
                      unlink((s + "users.mdb").c_str());
                      std::filesystem::create_symlink(o + "users.mdb", s + "users.mdb");
                    },
                    0, {}, ""},
        // What a killed restore left goes; the copy is made anew.
        RestoreCase{"LeftoversOfAKilledRestore",
                    [](const std::string& s, const std::string&) {
                      Spoil(s + ".users.mdb.tabsync-restore", "half");
                      Spoil(s + "..users.mdb.tabsync-restore.tmp-Ab3xYz", "cut off");
                      Spoil(s + ".users.mdb.tabsync-restore.tmp-Cd4eFg", "cut off");
                      Spoil(s + ".config.mdb.tabsync-restore", "whole");
                    },
                    0, {}, ""},
        // A run folder that leads out of the site is not read from.
        RestoreCase{"LinkedRunFolder",
                    [](const std::string& s, const std::string& o) {
                      MakeDatabase(o + "users.mdb.bak", "outside");
                      std::filesystem::create_directories(s + "backups");
                      std::filesystem::create_symlink(o, s + "backups/20261201-090000");
                    },
                    1, {"accounting.mdb", "config.mdb", "users.mdb"},
                    "It is a symbolic link", "20261201-090000"}),
    [](const ::testing::TestParamInfo<RestoreCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tabsync::startup
