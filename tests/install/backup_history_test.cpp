#include "install/backup_history.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fake_file_system.h"

namespace tabsync::install {
namespace {

using Strings = std::vector<std::string>;

constexpr char kFolder[] = "/srv/db/";

// Twelve runs, each replacing the backup the one before made: the history
// holds what each of the last ten replaced, oldest runs removed, and a folder
// that is no run folder is left alone.
TEST(BackupHistoryTest, TwelveRunsKeepTheLastTen) {
  test::FakeFileSystem files;
  files.AddFile("/srv/db/backups/notes/readme", "operator's");
  for (int run = 1; run <= 12; ++run) {
    files.AddFile("/srv/db/users.mdb.bak", "before run " + std::to_string(run - 1));
    BackupHistory history(files, {2026, 12, run, 9, 0, 0});
    history.Keep("/srv/db/users.mdb.bak");
  }
  Strings runs = ListRunFolders(files, kFolder);
  ASSERT_EQ(10u, runs.size());
  EXPECT_EQ("20261203-090000", runs.front());
  EXPECT_EQ("20261212-090000", runs.back());
  EXPECT_EQ("before run 11",
            files.GetFile("/srv/db/backups/20261212-090000/users.mdb.bak").content);
  EXPECT_EQ("before run 2", files.GetFile("/srv/db/backups/20261203-090000/users.mdb.bak").content);
  EXPECT_FALSE(files.FolderExists("/srv/db/backups/20261202-090000"));
  EXPECT_TRUE(files.HasFile("/srv/db/backups/notes/readme"));
  EXPECT_FALSE(files.HasFile("/srv/db/users.mdb.bak"));
}

// Two runs in one second get two folders; one run that keeps two files of one
// name (the relocation's kept copy, then the update's older backup) keeps
// both.
TEST(BackupHistoryTest, NamesTakenWithinASecondOrARunAreNumbered) {
  test::FakeFileSystem files;
  files.AddFile("/srv/db/Stabmerge.log", "first");
  BackupHistory first(files, {2026, 12, 8, 9, 5, 31});
  first.Keep("/srv/db/Stabmerge.log");
  BackupHistory second(files, {2026, 12, 8, 9, 5, 31});
  for (const char* content : {"older", "kept copy"}) {
    files.AddFile("/srv/db/users.mdb.bak", content);
    second.Keep("/srv/db/users.mdb.bak");
  }
  EXPECT_EQ((Strings{"20261208-090531", "20261208-090531-2"}), ListRunFolders(files, kFolder));
  EXPECT_EQ("/srv/db/backups/20261208-090531-2/", second.RunFolderIn(kFolder));
  EXPECT_EQ("older", files.GetFile("/srv/db/backups/20261208-090531-2/users.mdb.bak").content);
  EXPECT_EQ("kept copy",
            files.GetFile("/srv/db/backups/20261208-090531-2/users.mdb.bak.2").content);
}

// A failed move leaves the file where it was.
TEST(BackupHistoryTest, FailedKeepLeavesTheFile) {
  test::FakeFileSystem files;
  files.AddFile("/srv/db/users.mdb.bak", "older");
  files.FailOn("move", "/srv/db/backups/20261208-090531/users.mdb.bak", 61);
  BackupHistory history(files, {2026, 12, 8, 9, 5, 31});
  EXPECT_THROW(history.Keep("/srv/db/users.mdb.bak"), Error);
  EXPECT_EQ("older", files.GetFile("/srv/db/users.mdb.bak").content);
}

TEST(BackupHistoryTest, RunFolderNamesAreRecognised) {
  for (const char* name : {"20261208-090531", "20261208-090531-2", "20261208-090531-12"})
    EXPECT_TRUE(IsRunFolderName(name)) << name;
  for (const char* name : {"", "notes", "20261208-09053", "20261208_090531", "20261208-090531-",
                           "20261208-090531-x", "20261208-090531x"})
    EXPECT_FALSE(IsRunFolderName(name)) << name;
}

}  // namespace
}  // namespace tabsync::install
