#include "install/backup_history.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix_file_system.h"
#include "support/fake_file_system.h"
#include "support/temp_dir.h"

namespace tabsync::install {
namespace {

using Strings = std::vector<std::string>;

constexpr char kFolder[] = "/srv/db/";

void KeepBackup(platform::FileSystem& files, const std::string& folder,
                const platform::LocalTime& start) {
  BackupHistory history(files, start);
  history.Keep(folder + "users.mdb.bak");
}

// A run at `start` that replaces the backup the one before made.
void RunAt(test::FakeFileSystem& files, const platform::LocalTime& start) {
  files.AddFile(std::string(kFolder) + "users.mdb.bak", "before " + RunFolderName(start));
  KeepBackup(files, kFolder, start);
}

// The same on real files in `folder`.
void RunAt(platform::FileSystem& files, const std::string& folder,
           const platform::LocalTime& start) {
  std::ofstream(folder + "users.mdb.bak") << "before " << RunFolderName(start);
  KeepBackup(files, folder, start);
}

platform::LocalTime Day(int year, int month, int day) { return {year, month, day, 9, 0, 0}; }

// Twelve runs, each replacing the backup the one before made: the history
// holds what each of the last ten replaced, oldest runs removed, and a folder
// that is no run folder is left alone.
TEST(BackupHistoryTest, TwelveRunsKeepTheLastTen) {
  test::FakeFileSystem files;
  files.AddFile("/srv/db/backups/notes/readme", "operator's");
  for (int run = 1; run <= 12; ++run) RunAt(files, Day(2026, 12, run));
  Strings runs = ListRunFolders(files, kFolder);
  ASSERT_EQ(10u, runs.size());
  EXPECT_EQ("20261203-090000", runs.front());
  EXPECT_EQ("20261212-090000", runs.back());
  EXPECT_EQ("before 20261212-090000",
            files.GetFile("/srv/db/backups/20261212-090000/users.mdb.bak").content);
  EXPECT_FALSE(files.FolderExists("/srv/db/backups/20261202-090000"));
  EXPECT_TRUE(files.HasFile("/srv/db/backups/notes/readme"));
  EXPECT_FALSE(files.HasFile("/srv/db/users.mdb.bak"));
}

// The runs are ordered by their records, whatever their names say, and only
// recorded runs are removed.
struct OrderCase {
  const char* name;
  Strings planted;                          // folders made by someone else
  std::vector<platform::LocalTime> starts;  // the runs, in the order they ran
  Strings listed;                           // ListRunFolders afterwards
};

void PrintTo(const OrderCase& c, std::ostream* out) { *out << c.name; }

class BackupHistoryOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(BackupHistoryOrderTest, RunsAreOrderedAndRemovedByTheirRecords) {
  const OrderCase& c = GetParam();
  test::FakeFileSystem files;
  for (const std::string& folder : c.planted) files.AddFolder("/srv/db/backups/" + folder);
  for (const platform::LocalTime& start : c.starts) RunAt(files, start);
  EXPECT_EQ(c.listed, ListRunFolders(files, kFolder));
  for (const std::string& folder : c.planted)
    EXPECT_TRUE(files.FolderExists("/srv/db/backups/" + folder)) << folder;
  // The last run's folder is there, and the one before it.
  for (size_t i = c.starts.size() - 2; i < c.starts.size(); ++i) {
    std::string run = "/srv/db/backups/" + RunFolderName(c.starts[i]) + "/";
    EXPECT_EQ("before " + RunFolderName(c.starts[i]), files.GetFile(run + "users.mdb.bak").content);
  }
}

Strings Names(const std::vector<platform::LocalTime>& starts) {
  Strings names;
  for (const platform::LocalTime& start : starts) names.push_back(RunFolderName(start));
  return names;
}

std::vector<platform::LocalTime> Days(int year, int month, std::vector<int> days) {
  std::vector<platform::LocalTime> starts;
  for (int day : days) starts.push_back(Day(year, month, day));
  return starts;
}

std::vector<platform::LocalTime> Joined(std::vector<platform::LocalTime> a,
                                        const std::vector<platform::LocalTime>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Strings Joined(Strings a, const Strings& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Strings kPlanted2099 = {"20991210-000000", "20991211-000000", "20991212-000000",
                              "20991213-000000", "20991214-000000", "20991215-000000",
                              "20991216-000000", "20991217-000000", "20991218-000000",
                              "20991219-000000"};

INSTANTIATE_TEST_SUITE_P(
    Clocks, BackupHistoryOrderTest,
    ::testing::Values(
        // Three runs while the clock was 73 years ahead, nine after it was
        // set right: the first two runs go, although their names are the
        // newest.
        OrderCase{"ClockAheadOnce", {},
                  Joined(Days(2099, 12, {10, 11, 12}), Days(2026, 12, {1, 2, 3, 4, 5, 6, 7, 8, 9})),
                  Names(Joined(Days(2099, 12, {12}), Days(2026, 12, {1, 2, 3, 4, 5, 6, 7, 8, 9})))},
        // A clock that goes back at every run (a reset real-time clock): each
        // run's own folder has the oldest name, and stays.
        OrderCase{"ClockGoingBack", {},
                  Days(2026, 12, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}),
                  Names(Days(2026, 12, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1}))},
        // Folders named for 2099 by hand count as no runs: none is removed,
        // and none makes a run remove the previous run's folder.
        OrderCase{"FoldersMadeByHand", kPlanted2099,
                  Days(2026, 12, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}),
                  Joined(kPlanted2099, Names(Days(2026, 12, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11})))}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return info.param.name; });

// What a record holds, and that removing a run removes what it names only:
// a file the operator put into an old run folder stays, and so does the
// folder, which is then no run of the history.
TEST(BackupHistoryTest, RemovingARunRemovesOnlyWhatItsRecordNames) {
  test::FakeFileSystem files;
  RunAt(files, Day(2026, 12, 1));
  EXPECT_EQ(
      "tabsync run record 1\nsequence 1\nstart 2026-12-01 09:00:00\nkind update\n"
      "kept users.mdb.bak\n",
      files.GetFile("/srv/db/backups/20261201-090000/tabsync-run").content);
  files.AddFile("/srv/db/backups/20261201-090000/notes", "operator's");
  for (int day = 2; day <= 11; ++day) RunAt(files, Day(2026, 12, day));
  EXPECT_FALSE(files.HasFile("/srv/db/backups/20261201-090000/users.mdb.bak"));
  EXPECT_FALSE(files.HasFile("/srv/db/backups/20261201-090000/tabsync-run"));
  EXPECT_EQ("operator's", files.GetFile("/srv/db/backups/20261201-090000/notes").content);
  Strings runs = ListRunFolders(files, kFolder);
  ASSERT_EQ(11u, runs.size());
  EXPECT_EQ("20261201-090000", runs.front());  // no record now: first
}

// A record is only what the history wrote: a line cut off, a line of a later
// tabsync, a name that is no entry of the folder.
TEST(BackupHistoryTest, RecordsAreReadLineByLine) {
  test::FakeFileSystem files;
  files.AddFile("/srv/db/backups/20261201-090000/tabsync-run",
                "tabsync run record 1\nsequence 7\nend 2026-12-01 09:00:05\nkept a b\n"
                "kept ../x\nkept users.mdb.bak");
  files.AddFile("/srv/db/backups/20261202-090000/tabsync-run", "sequence 9\n");
  files.AddFile("/srv/db/backups/20261203-090000/tabsync-run",
                "tabsync run record 1\nsequence 99999999999999999999\n");
  RunRecord record;
  ASSERT_TRUE(ReadRunRecord(files, "/srv/db/backups/20261201-090000", &record));
  EXPECT_EQ(7u, record.sequence);
  EXPECT_EQ((Strings{"a b"}), record.kept);
  EXPECT_FALSE(ReadRunRecord(files, "/srv/db/backups/20261202-090000", &record));
  EXPECT_FALSE(ReadRunRecord(files, "/srv/db/backups/20261203-090000", &record));
  // The next run takes the sequence after the highest recorded.
  RunAt(files, Day(2026, 11, 1));
  ASSERT_TRUE(ReadRunRecord(files, "/srv/db/backups/20261101-090000", &record));
  EXPECT_EQ(8u, record.sequence);
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

// A failed move leaves the file where it was; a "backups" that is a link
// takes nothing.
TEST(BackupHistoryTest, FailedKeepLeavesTheFile) {
  for (bool linked : {false, true}) {
    test::FakeFileSystem files;
    files.AddFile("/srv/db/users.mdb.bak", "older");
    if (linked) {
      files.AddDanglingLink("/srv/db/backups");
    } else {
      files.FailOn("move", "/srv/db/backups/20261208-090531/users.mdb.bak", 61);
    }
    BackupHistory history(files, {2026, 12, 8, 9, 5, 31});
    try {
      history.Keep("/srv/db/users.mdb.bak");
      ADD_FAILURE() << linked;
    } catch (const Error& error) {
      EXPECT_EQ(linked ? "75: Path/File access error: /srv/db/backups is a symbolic link, which "
                         "the backup history does not follow"
                       : "61: Disk full",
                std::string(error.what()));
    }
    EXPECT_EQ("older", files.GetFile("/srv/db/users.mdb.bak").content) << linked;
  }
}

// Restores do not push update runs out: the last `kept` updates stay, and
// every restore made since the oldest of them.
struct LengthCase {
  const char* name;
  std::string kinds;  // one run a day: U an update, R a restore
  int kept;
  size_t remaining;
  int oldest_day;
};

void PrintTo(const LengthCase& c, std::ostream* out) { *out << c.name; }

class HistoryLengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(HistoryLengthTest, UpdateRunsAreCountedAndRestoresSinceKept) {
  const LengthCase& c = GetParam();
  test::FakeFileSystem files;
  files.AddFolder(kFolder);
  for (size_t day = 1; day <= c.kinds.size(); ++day) {
    bool update = c.kinds[day - 1] == 'U';
    BackupHistory history(files, Day(2026, 12, static_cast<int>(day)),
                          update ? RunKind::kUpdate : RunKind::kRestore);
    history.SetRunsKept(c.kept);
    history.StartRecord(kFolder);
    history.End(Day(2026, 12, static_cast<int>(day)), 0, "done");
  }
  Strings runs = ListRunFolders(files, kFolder);
  EXPECT_EQ(c.remaining, runs.size());
  EXPECT_EQ(RunFolderName(Day(2026, 12, c.oldest_day)), runs.front());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistoryLengthTest,
    ::testing::Values(LengthCase{"TenRestoresAfterTenUpdates", "UUUUUUUUUURRRRRRRRRR", 10, 20, 1},
                      LengthCase{"RestoresBeforeTheOldestKeptGo", "UURRUUU", 3, 3, 5},
                      LengthCase{"RestoresSinceTheOldestKeptStay", "UUURRUU", 3, 5, 3},
                      LengthCase{"ThePreviousRunStaysWhateverTheCount", "URRU", 1, 2, 3}),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return info.param.name; });

// Where the history keeps each state before a run: an update's ".bak" in
// the next update's folder or still beside the database, a restore's saved
// copy in its own. Run 2 was killed, run 3 re-ran its release: --restore
// alone undoes both.
TEST(BackupHistoryTest, EveryStateBeforeARunIsFound) {
  test::FakeFileSystem files;
  files.AddFile("/srv/db/users.mdb", "after 3");
  const struct {
    RunKind kind;
    const char* release;
    const char* ending;  // "" killed
  } runs[] = {{RunKind::kUpdate, "3.2.0", "done"},
              {RunKind::kUpdate, "3.3.0", ""},
              {RunKind::kUpdate, "3.3.0", "done"},
              {RunKind::kRestore, "", "done"}};
  for (int i = 0; i < 4; ++i) {
    BackupHistory history(files, Day(2026, 12, i + 1), runs[i].kind);
    history.StartRecord(kFolder);
    history.Note("release", runs[i].release);
    if (runs[i].kind == RunKind::kRestore) {
      history.SaveCopy("/srv/db/users.mdb");
    } else {
      if (files.HasFile("/srv/db/users.mdb.bak")) history.Keep("/srv/db/users.mdb.bak");
      files.AddFile("/srv/db/users.mdb.bak", "before " + std::to_string(i + 1));
      history.NoteBackup("/srv/db/users.mdb");
    }
    if (*runs[i].ending != '\0') history.End(Day(2026, 12, i + 1), 0, runs[i].ending);
  }
  EXPECT_EQ("20261202-090000", RunToUndo(files, kFolder));
  const std::pair<const char*, const char*> states[] = {
      {"20261201-090000", "before 1"},
      {"20261202-090000", "before 2"},
      {"20261203-090000", "before 3"},
      {"20261204-090000", "after 3"},
      {"20261130-090000", "before 1"},  // no run of that name: the runs after it
  };
  for (const auto& [run, content] : states)
    EXPECT_EQ(content, files.GetFile(StateBefore(files, kFolder, "users.mdb", run)).content) << run;
  EXPECT_EQ("", StateBefore(files, kFolder, "users.mdb", "20261205-090000"));
  EXPECT_EQ("", StateBefore(files, kFolder, "config.mdb", "20261201-090000"));
}

TEST(BackupHistoryTest, RunFolderNamesAreRecognised) {
  for (const char* name : {"20261208-090531", "20261208-090531-2", "20261208-090531-12"})
    EXPECT_TRUE(IsRunFolderName(name)) << name;
  for (const char* name : {"", "notes", "20261208-09053", "20261208_090531", "20261208-090531-",
                           "20261208-090531-x", "20261208-090531x"})
    EXPECT_FALSE(IsRunFolderName(name)) << name;
}

// Symbolic links on real files: a "backups" that leads out of the site is
// neither written nor pruned; a run folder that is a link, even to a folder
// with a record, is no run; a kept file replaced by a link is not removed
// with its run, nor what it leads to.
TEST(BackupHistoryTest, LinksAreNeverFollowed) {
  test::TempDir dir;
  std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  std::string site = dir.File("site/");
  std::string outside = dir.File("outside/");
  ASSERT_EQ(0, mkdir(site.c_str(), 0755));
  RunAt(*files, site, Day(2026, 12, 1));  // a whole run folder to link to
  ASSERT_EQ(0, rename((site + "backups/20261201-090000").c_str(), outside.c_str()));
  ASSERT_EQ(0, symlink(outside.c_str(), (site + "backups/20991231-000000").c_str()));

  for (int day = 2; day <= 12; ++day) RunAt(*files, site, Day(2026, 12, day));
  std::string oldest = site + "backups/20261203-090000/";
  EXPECT_TRUE(test::NamesIn(outside) == (std::set<std::string>{"tabsync-run", "users.mdb.bak"}));
  EXPECT_EQ(10u, ListRunFolders(*files, site).size());
  EXPECT_EQ("20261203-090000", ListRunFolders(*files, site).front());

  // The oldest run's file becomes a link; the next run removes that run.
  ASSERT_EQ(0, unlink((oldest + "users.mdb.bak").c_str()));
  ASSERT_EQ(0, symlink((outside + "users.mdb.bak").c_str(), (oldest + "users.mdb.bak").c_str()));
  RunAt(*files, site, Day(2026, 12, 13));
  EXPECT_TRUE(files->IsSymbolicLink(oldest + "users.mdb.bak"));
  EXPECT_TRUE(files->FileExists(outside + "users.mdb.bak"));

  // "backups" itself a link out of the site: the run keeps nothing.
  ASSERT_EQ(0, rename((site + "backups").c_str(), dir.File("moved").c_str()));
  ASSERT_EQ(0, symlink(dir.File("moved").c_str(), (site + "backups").c_str()));
  std::set<std::string> before = test::NamesIn(dir.File("moved"));
  EXPECT_THROW(RunAt(*files, site, Day(2026, 12, 14)), Error);
  EXPECT_TRUE(files->FileExists(site + "users.mdb.bak"));
  EXPECT_EQ(before, test::NamesIn(dir.File("moved")));
  EXPECT_TRUE(ListRunFolders(*files, site).empty());
}

}  // namespace
}  // namespace tabsync::install
