#include "startup/main_flow.h"

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/fake_install_test.h"
#include "support/gunzip.h"
#include "support/fake_shared_files_store.h"
#include "support/fixed_clock.h"

namespace tabsync::startup {
namespace {

using platform::MessageAnswer;
using Strings = std::vector<std::string>;

constexpr char kShared[] = "/srv/shared/Infrastructure/DB/";
constexpr char kLogFile[] = "/srv/shared/Infrastructure/DB/Stabmerge.log";
constexpr char kOld[] = "/old/db/";
constexpr const char* kFiles[] = {"accounting.mdb", "availability.mdb", "config.mdb",
                                  "onlineshop.mdb", "resource.mdb",     "users.mdb"};
constexpr const char* kDataSources[] = {"Accounting", "Orbisdat", "Config",
                                        "OnlineShop", "Resource", "Users"};

const std::string kUpdateQuestion =
    "none/yes-no Korvane Database Update: Would you like to perform an update of the Korvane "
    "databases? ||Please be aware that the updated Korvane databases are required for the full "
    "functionality of the software.||A log file will be generated: ||" +
    std::string(kLogFile);
const std::string kMoveQuestion =
    "question/yes-no Korvane Database Update: Do you want to move the Korvane Common Databases "
    "into ||" +
    std::string(kShared) + "  ||and re-configure their ODBC entries ?";

class MainFlowTest : public test::FakeInstallTest {
 protected:
  MainFlowTest() {
    share_.Register("/srv/shared");
    files_.AddFolder("/srv");
    files_.AddFile("/inst/DB/accounting.mdb", "update");
    files_.AddFile("/inst/DB/users.mdb", "update");
  }

  // Databases in use in `folder`, registered there.
  void Install(const std::string& folder) {
    for (int i = 0; i < 6; ++i) {
      files_.AddFile(folder + kFiles[i], std::string("in use ") + kFiles[i]);
      registrations_.Register(kDataSources[i], folder + kFiles[i]);
    }
  }

  int Main(const std::string& argumentText = "/inst/DB") {
    return startup::Main(main_platform_, argumentText);
  }

  // The update run: records its folder and what the log file held when it
  // began, and writes one line.
  bool FakeRun(log::RunLog& log, const std::string& updateFolder) {
    runs_.push_back(updateFolder);
    log_at_start_ = files_.HasFile(kLogFile) ? files_.GetFile(kLogFile).content : "(none)";
    lock_at_start_ = files_.GetFile(std::string(kShared) + "tabsync.lock").content;
    try {
      log.WriteLog("## BEGIN UPDATING", false);
    } catch (const Error&) {
      return true;  // as the engine's run: the failure is an error of the run
    }
    return run_reports_errors_;
  }

  test::FakeSharedFilesStore share_;
  test::FixedClock clock_{{2026, 12, 8, 9, 5, 31}};
  MainPlatform main_platform_{
      platform_, share_, clock_,
      [this](log::RunLog& log, install::BackupHistory&, const platform::RegistrationStore&,
             const std::string& folder) { return RunOutcome{FakeRun(log, folder), 6, 0}; }};
  // Databases elsewhere, then a run that must stop with this one message
  // before it asks, creates, moves or registers anything.
  void ExpectStoppedUntouched(const std::string& message) {
    Install(kOld);
    size_t actions = files_.Actions().size();
    EXPECT_EQ(kExitStopped, Main());
    EXPECT_EQ(Strings{"critical/ok Korvane Database Update: " + message}, Messages());
    EXPECT_EQ(actions, files_.Actions().size());
    EXPECT_TRUE(installer_.Requests().empty());
    EXPECT_TRUE(runs_.empty());
  }

  Strings runs_;
  std::string log_at_start_;
  std::string lock_at_start_;
  bool run_reports_errors_ = false;
};

TEST_F(MainFlowTest, FolderWithoutUsersIsRejectedBeforeAnythingChanges) {
  files_.DeleteFile("/inst/DB/users.mdb", true);
  EXPECT_EQ(kExitStopped, Main("\"/inst/DB\""));
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: Cannot find folder: ||/inst/DB||"
                    "Update of information DB's canceled."},
            Messages());
  EXPECT_TRUE(installer_.Requests().empty());
  EXPECT_TRUE(runs_.empty());
}

TEST_F(MainFlowTest, EmptyCommandLineLooksInTheCurrentDirectory) {
  files_.AddFile("accounting.mdb", "update");
  EXPECT_EQ(kExitStopped, Main(""));
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: Cannot find folder: ||||"
                    "Update of information DB's canceled."},
            Messages());
  files_.AddFile("users.mdb", "update");
  EXPECT_EQ(kExitSuccess, Main(""));
  // The run reads them there too, not from the root folder.
  EXPECT_EQ(Strings{"."}, runs_);
}

TEST_F(MainFlowTest, UnregisteredLocationStopsBeforeAnythingChanges) {
  share_ = test::FakeSharedFilesStore();
  EXPECT_EQ(kExitStopped, Main());
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: Korvane Common Files folder NOT "
                    "registered:||||Cannot install databases."},
            Messages());
  EXPECT_TRUE(installer_.Requests().empty());
  EXPECT_TRUE(files_.Actions().empty());
}

TEST_F(MainFlowTest, FirstInstallationAsksNothingAndRunsInTheNewFolders) {
  EXPECT_EQ(kExitSuccess, Main("/inst/\tDB"));
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(6u, installer_.Requests().size());
  EXPECT_EQ(std::string("Accounting=") + kShared + "accounting.mdb", installer_.Requests()[0]);
  EXPECT_EQ((Strings{"create folder /srv/shared", "create folder /srv/shared/Infrastructure",
                     "create folder /srv/shared/Infrastructure/DB",
                     "create folder /srv/shared/Infrastructure/DB/backups",
                     "create folder /srv/shared/Infrastructure/DB/backups/20261208-090531"}),
            files_.Actions());
  EXPECT_EQ(Strings{"/inst/DB"}, runs_);
  EXPECT_EQ("## BEGIN UPDATING\r\n", files_.GetFile(kLogFile).content);
}

TEST_F(MainFlowTest, InstalledDatabasesAreUpdatedAfterYesAndTheOldLogGoes) {
  Install(kShared);
  files_.AddFile(kLogFile, "last run\r\n");
  ui_.AnswerQuestions({MessageAnswer::kYes});
  EXPECT_EQ(kExitSuccess, Main());
  EXPECT_EQ(Strings{kUpdateQuestion}, Messages());
  EXPECT_EQ("(none)", log_at_start_);
  EXPECT_EQ("## BEGIN UPDATING\r\n", files_.GetFile(kLogFile).content);
  EXPECT_EQ("last run\r\n", test::Gunzip(files_.GetFile(std::string(kShared) +
                                                      "backups/20261208-090531/Stabmerge.log.gz")
                                            .content));
  EXPECT_TRUE(installer_.Requests().empty());
}

TEST_F(MainFlowTest, AnswerNoWritesNothing) {
  Install(kShared);
  files_.AddFile(kLogFile, "last run\r\n");
  std::size_t actions = files_.Actions().size();
  EXPECT_EQ(kExitSuccess, Main());
  EXPECT_EQ(Strings{kUpdateQuestion}, Messages());
  EXPECT_TRUE(runs_.empty());
  EXPECT_EQ(actions, files_.Actions().size());
  EXPECT_EQ("last run\r\n", files_.GetFile(kLogFile).content);
  EXPECT_TRUE(ui_.WindowEvents().empty());
}

TEST_F(MainFlowTest, DatabasesElsewhereAreMovedAfterYes) {
  Install(kOld);
  ui_.AnswerQuestions({MessageAnswer::kYes, MessageAnswer::kYes});
  EXPECT_EQ(kExitSuccess, Main());
  EXPECT_EQ((Strings{kMoveQuestion,
                     "information/ok Korvane Database Update: Korvane Common Databases have been "
                     "moved successfully.",
                     kUpdateQuestion}),
            Messages());
  // In catalogue order, each registered anew.
  ASSERT_EQ(6u, installer_.Requests().size());
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(std::string(kDataSources[i]) + "=" + kShared + kFiles[i], installer_.Requests()[i]);
    EXPECT_FALSE(files_.HasFile(std::string(kOld) + kFiles[i]));
    EXPECT_EQ(std::string("in use ") + kFiles[i],
              files_.GetFile(std::string(kShared) + kFiles[i]).content);
  }
  EXPECT_EQ(Strings{"/inst/DB"}, runs_);
}

// The end of the input is no answer: nothing is moved, and the program ends
// with a status of its own instead of the 0 of a No.
TEST_F(MainFlowTest, UnansweredMoveQuestionStopsWithItsOwnStatus) {
  Install(kOld);
  ui_.AnswerQuestions({MessageAnswer::kNoAnswer});
  EXPECT_EQ(kExitNoAnswer, Main());
  ASSERT_EQ(2u, Messages().size());
  EXPECT_EQ("critical/ok Korvane Database Update: No answer to the question: the input ended (no "
            "terminal, no display).||Nothing was moved or updated. To run unattended, answering "
            "Yes to every question, use||  'tabsync --yes DB'",
            Messages()[1]);
  EXPECT_TRUE(files_.HasFile(std::string(kOld) + "users.mdb"));
  EXPECT_TRUE(installer_.Requests().empty());
  EXPECT_TRUE(runs_.empty());
}

TEST_F(MainFlowTest, MoveThatFailsStopsTheProgramBeforeTheUpdate) {
  Install(kOld);
  files_.DeleteFile(std::string(kOld) + "config.mdb", true);
  ui_.AnswerQuestions({MessageAnswer::kYes, MessageAnswer::kYes});
  EXPECT_EQ(kExitStopped, Main());
  ASSERT_EQ(2u, ui_.Messages().size());
  EXPECT_NE(std::string::npos,
            ui_.Messages()[1].text.find("ODBC-entried file does not exist: \r\n/old/db/config.mdb"));
  // The databases before it stay moved; the later ones are not looked at.
  EXPECT_TRUE(files_.HasFile(std::string(kShared) + "availability.mdb"));
  EXPECT_TRUE(files_.HasFile(std::string(kOld) + "onlineshop.mdb"));
  EXPECT_TRUE(runs_.empty());
}

TEST_F(MainFlowTest, DeclinedMoveStillUpdatesAndCreatesTheFolderForTheLog) {
  Install(kOld);
  ui_.AnswerQuestions({MessageAnswer::kNo, MessageAnswer::kYes});
  EXPECT_EQ(kExitSuccess, Main());
  EXPECT_EQ((Strings{kMoveQuestion, kUpdateQuestion}), Messages());
  EXPECT_TRUE(files_.HasFile(std::string(kOld) + "users.mdb"));
  EXPECT_EQ("## BEGIN UPDATING\r\n", files_.GetFile(kLogFile).content);
  EXPECT_EQ(Strings{"/inst/DB"}, runs_);
}

TEST_F(MainFlowTest, FolderThatCannotBeCreatedStopsWithItsName) {
  Install(kOld);
  files_.FailOn("create folder", "/srv/shared", platform::file_errors::kPermissionDenied);
  EXPECT_EQ(kExitStopped, Main());
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: Cannot create the database folder:||" +
                    std::string(kShared) +
                    "||Error 70: Permission denied||Update of information DB's canceled."},
            Messages());
  EXPECT_TRUE(runs_.empty());
}

// The old log is never written through a link in its place: the link goes,
// and a read-only log goes into the history like any other.
TEST_F(MainFlowTest, OldLogThatIsALinkIsRemovedNotFollowed) {
  Install(kShared);
  files_.AddDanglingLink(kLogFile);
  ui_.AnswerQuestions({MessageAnswer::kYes});
  EXPECT_EQ(kExitSuccess, Main());
  EXPECT_EQ("(none)", log_at_start_);
  EXPECT_FALSE(files_.IsSymbolicLink(kLogFile));
  EXPECT_EQ("## BEGIN UPDATING\r\n", files_.GetFile(kLogFile).content);
}

TEST_F(MainFlowTest, SecondRunIsRefusedBeforeAskingOrTouchingAnything) {
  std::string lock = std::string(kShared) + "tabsync.lock";
  files_.AddFolder(kShared);
  std::unique_ptr<platform::FileLock> held = files_.TryLockFile(lock);
  ExpectStoppedUntouched("Another update of the Korvane databases is running; it holds the lock "
                         "file:||" + lock + "||Update of information DB's canceled.");
  held.reset();
  ui_.AnswerQuestions({MessageAnswer::kNo});
  EXPECT_EQ(kExitSuccess, Main());
}

// --wait: the run waits for the lock, looking again every 250 ms, until it
// is free or the time is up; the run that holds it is named in its file.
TEST_F(MainFlowTest, RunWaitsForTheLockUntilItIsFreeOrTheTimeIsUp) {
  Install(kShared);
  std::string lock = std::string(kShared) + "tabsync.lock";
  const struct {
    long long wait_seconds;
    int free_at_pause;  // 0: never
    int status;
    int pauses;
  } cases[] = {{0, 1, kExitStopped, 0}, {1, 0, kExitStopped, 4}, {kWaitWithoutLimit, 3, kExitSuccess, 3}};
  for (const auto& c : cases) {
    std::unique_ptr<platform::FileLock> held = files_.TryLockFile(lock);
    held->RecordHolder("2026-12-08 09:00:00");
    int pauses = 0;
    clock_.OnSleep([&](int) {
      if (++pauses == c.free_at_pause) held.reset();
    });
    std::ostringstream err;
    main_platform_.err = &err;
    RunOptions options;
    options.unattended = true;
    options.wait_seconds = c.wait_seconds;
    EXPECT_EQ(c.status, startup::Main(main_platform_, "/inst/DB", options)) << c.wait_seconds;
    EXPECT_EQ(c.pauses, pauses) << c.wait_seconds;
    EXPECT_EQ(c.pauses ? "tabsync: waiting for the run lock " + lock +
                             " (pid 4242, started 2026-12-08 09:00:00)\n"
                       : "",
              err.str());
  }
  clock_.OnSleep(nullptr);
  EXPECT_EQ(Strings{"/inst/DB"}, runs_);
  EXPECT_EQ("pid 4242\nstarted 2026-12-08 09:05:31\n", lock_at_start_);
  EXPECT_EQ("", files_.GetFile(lock).content);
}

// Too little room for what the run writes stops it, and the dry run too,
// before a file is written, with the figures.
TEST_F(MainFlowTest, TooLittleSpaceStopsTheRunBeforeItWritesAnything) {
  Install(kShared);
  files_.AddFile(kLogFile, "last run\r\n");
  files_.SetDiskSpace("/srv", 60000, 1);
  size_t actions = files_.Actions().size();
  for (bool dry : {false, true}) {
    RunOptions options;
    options.unattended = true;
    options.dry_run = dry;
    EXPECT_EQ(kExitStopped, startup::Main(main_platform_, "/inst/DB", options));
  }
  // The update information holds accounting and users (6 bytes each), in use
  // 21 and 16 bytes: backups 37, new records 12, the larger journal 21, log
  // 8 × 12, history 64 KiB.
  const std::string refusal =
      "critical/ok Korvane Database Update: No space for the update on the file system of||" +
      std::string(kShared) + "||It has 58.6 KiB free; the update writes about 64.2 KiB: backups "
      "37 B, working copies 0 B, new records 12 B, journal 21 B, log 96 B, history 64.0 KiB.||"
      "Free some space (older run folders of the backup history may go), then run||  'tabsync "
      "DB'||Update of information DB's canceled.";
  EXPECT_EQ((Strings{refusal, refusal}), Messages());
  EXPECT_TRUE(runs_.empty());
  EXPECT_EQ(actions, files_.Actions().size());
  EXPECT_EQ("last run\r\n", files_.GetFile(kLogFile).content);
}

TEST_F(MainFlowTest, LocationThatIsNoAbsoluteFolderIsRefusedNamingShareIni) {
  share_.Register("srv/shared");
  ExpectStoppedUntouched("Korvane Common Files folder NOT registered:||srv/shared/||The "
                         "SharedFilesLocation of /etc/korvane/share.ini is no absolute folder "
                         "path.||Cannot install databases.");
  share_.Register("/srv/sh\tared");
  ui_ = test::FakeUserInterface();
  ExpectStoppedUntouched("Korvane Common Files folder NOT registered:||/srv/sh?ared/||The "
                         "SharedFilesLocation of /etc/korvane/share.ini is no absolute folder "
                         "path.||Cannot install databases.");
}

// The lock, log, backups and databases would go into the release: the run
// stops before it writes anything, naming both folders.
TEST_F(MainFlowTest, SharedFolderInTheUpdateFolderStopsTheRun) {
  const std::string tail =
      "The run would write its lock, log, backups and databases into the update "
      "information.||Update of information DB's canceled.";
  files_.AddFolderAlias("/srv/shared/Infrastructure/DB", "/inst/DB");
  ExpectStoppedUntouched(
      "The shared database folder and the update folder are the same folder:||" +
      std::string(kShared) + "|/inst/DB||" + tail);
  share_.Register("/inst/DB/");
  ui_ = test::FakeUserInterface();
  ExpectStoppedUntouched("The shared database folder lies in the update folder:||"
                         "/inst/DB/Infrastructure/DB/|/inst/DB||" + tail);
}

// Every data source would fail: the run, and the dry run alike, stop before
// the lock, naming odbc.ini and why.
TEST_F(MainFlowTest, OdbcIniThatCannotBeReadStopsTheRunNamingItsCause) {
  registrations_.MakeUnreadable("a folder");
  const std::string message =
      "Cannot read the ODBC data sources:||/etc/odbc.ini is a folder.||"
      "Update of information DB's canceled.";
  ExpectStoppedUntouched(message);
  ui_ = test::FakeUserInterface();
  RunOptions dry;
  dry.dry_run = true;
  EXPECT_EQ(kExitStopped, startup::Main(main_platform_, "/inst/DB", dry));
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: " + message}, Messages());
}

TEST_F(MainFlowTest, RunWithErrorsShowsTheLogUntilItIsClosed) {
  Install(kShared);
  ui_.AnswerQuestions({MessageAnswer::kYes});
  ui_.CloseLogWindowAtWait(3);
  run_reports_errors_ = true;
  EXPECT_EQ(kExitErrorsDetected, Main());
  ASSERT_EQ(2u, ui_.Messages().size());
  EXPECT_EQ("critical/ok Korvane Database Update: There are errors detected. Please check the "
            "log file||[" +
                std::string(kLogFile) +
                "]||and then run the command||  'tabsync DB'||from the target folder.|"
                "You do not need to repeat the whole installation.",
            Messages()[1]);
  EXPECT_EQ("Updating log..\r\n## BEGIN UPDATING", ui_.ShownLogText());
  // The window gets the run's lines from the log file when it is shown.
  EXPECT_EQ((Strings{"load", "make empty", "events", "line ## BEGIN UPDATING", "show", "wait",
                     "wait", "wait", "unload"}),
            ui_.WindowEvents());
}

TEST_F(MainFlowTest, RunWithoutErrorsEndsSilently) {
  Install(kShared);
  ui_.AnswerQuestions({MessageAnswer::kYes});
  EXPECT_EQ(kExitSuccess, Main());
  EXPECT_EQ(1u, ui_.Messages().size());
  // A window never shown never gets the lines.
  EXPECT_EQ((Strings{"load", "make empty", "events", "unload"}), ui_.WindowEvents());
}

// A name that is there is no missing folder: the message says what it is.
TEST_F(MainFlowTest, UpdateInformationThatIsNoFileIsNamedNotTakenForAMissingFolder) {
  files_.DeleteFile("/inst/DB/users.mdb", true);
  files_.AddDanglingLink("/inst/DB/users.mdb");
  EXPECT_EQ(kExitStopped, Main());
  files_.DeleteFile("/inst/DB/accounting.mdb", true);
  files_.AddFolder("/inst/DB/accounting.mdb");
  EXPECT_EQ(kExitStopped, Main());
  const std::string prefix =
      "critical/ok Korvane Database Update: The update information is no database file:||";
  EXPECT_EQ((Strings{prefix + "/inst/DB/users.mdb (a symbolic link that leads to no file)||"
                              "Update of information DB's canceled.",
                     prefix + "/inst/DB/accounting.mdb (a folder)||"
                              "Update of information DB's canceled."}),
            Messages());
  EXPECT_TRUE(runs_.empty());
}

// The log cannot hold why it could not be written; the summary alone named
// a log that did not exist.
TEST_F(MainFlowTest, LogThatCannotBeWrittenIsExplainedOnStandardError) {
  Install(kShared);
  std::ostringstream err;
  main_platform_.err = &err;
  files_.FailOn("open for append", kLogFile, platform::file_errors::kPermissionDenied);
  RunOptions unattended;
  unattended.unattended = true;
  EXPECT_EQ(kExitErrorsDetected, startup::Main(main_platform_, "/inst/DB", unattended));
  EXPECT_EQ("tabsync: cannot write the log file " + std::string(kLogFile) +
                ": Error 70: Permission denied\n",
            err.str());
}

TEST(FolderHasDatabasesTest, UsersIsLookedForOnlyAfterAccounting) {
  test::FakeFileSystem files;
  files.AddFile("/u/users.mdb", "");
  EXPECT_FALSE(FolderHasDatabases(files, "/u"));
  files.AddFile("/u/accounting.mdb", "");
  EXPECT_TRUE(FolderHasDatabases(files, "/u/"));
}

}  // namespace
}  // namespace tabsync::startup
