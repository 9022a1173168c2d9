// The built program, run as the installer runs it: in a target folder, with
// its own share.ini and odbc.ini, without a display, answering on standard
// input.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "dbengine/sqlite_engine.h"
#include "make-release/release_maker.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync {
namespace {

constexpr const char* kFiles[] = {"accounting.mdb", "availability.mdb", "config.mdb",
                                  "onlineshop.mdb", "resource.mdb",     "users.mdb"};
constexpr const char* kDataSources[] = {"Accounting", "Orbisdat", "Config",
                                        "OnlineShop", "Resource", "Users"};

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// How the program is started: its folder, arguments and standard input; its
// standard error may be a pseudo-terminal.
struct Launch {
  std::string folder;
  std::vector<std::string> arguments;
  std::string input;
  bool input_never_ends = false;  // standard input: a pipe the test keeps open
  bool error_on_terminal = false;
  std::string output;  // standard output's file; "" for one the outcome reads
};

// Runs the program as `launch` says with the environment `env` (nothing
// else: no display). A run that outlasts 60 s is killed (status -1).
Outcome RunProgram(const Launch& launch, const std::map<std::string, std::string>& env) {
  test::TempDir io;
  WriteFile(io.File("in"), launch.input);
  int input_pipe[2] = {-1, -1};
  if (launch.input_never_ends && pipe(input_pipe) != 0) return {};
  int terminal = -1, terminal_side = -1;
  if (launch.error_on_terminal && openpty(&terminal, &terminal_side, nullptr, nullptr, nullptr) != 0)
    return {};
  pid_t child = fork();
  if (child == 0) {
    if (chdir(launch.folder.c_str()) != 0) _exit(126);
    dup2(launch.input_never_ends ? input_pipe[0] : open(io.File("in").c_str(), O_RDONLY), 0);
    std::string output = launch.output.empty() ? io.File("out") : launch.output;
    dup2(open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(launch.error_on_terminal ? terminal_side
                                  : open(io.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
         2);
    std::vector<std::string> entries;
    for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
    entries.push_back("PATH=/usr/bin:/bin");
    std::vector<char*> envp;
    for (std::string& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<char*> argv = {const_cast<char*>(TABSYNC_PROGRAM)};
    for (const std::string& argument : launch.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execve(TABSYNC_PROGRAM, argv.data(), envp.data());
    _exit(127);
  }
  if (terminal_side >= 0) close(terminal_side);
  if (input_pipe[0] >= 0) close(input_pipe[0]);
  Outcome outcome;
  int status = 0;
  for (int waited_ms = 0;; waited_ms += 10) {
    if (terminal >= 0) {
      char chunk[4096];
      struct pollfd ready = {terminal, POLLIN, 0};
      while (poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN)) {
        ssize_t count = read(terminal, chunk, sizeof chunk);
        if (count <= 0) break;
        outcome.err.append(chunk, static_cast<size_t>(count));
      }
    }
    if (waitpid(child, &status, WNOHANG) == child) break;
    if (waited_ms > 60000) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      status = -1;
      break;
    }
    usleep(10000);
  }
  if (input_pipe[1] >= 0) close(input_pipe[1]);
  if (terminal >= 0) close(terminal);
  outcome.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (launch.output.empty()) outcome.out = test::ReadFileBytes(io.File("out"));
  if (!launch.error_on_terminal) outcome.err = test::ReadFileBytes(io.File("err"));
  return outcome;
}

// Runs `tabsync <argument>` (`tabsync` alone for "") in `folder` with
// standard input from `input`.
Outcome RunProgram(const std::string& folder, const std::string& argument,
                   const std::map<std::string, std::string>& env, const std::string& input) {
  Launch launch{folder, {}, input, false, false, ""};
  if (!argument.empty()) launch.arguments.push_back(argument);
  return RunProgram(launch, env);
}

// Another process that holds a database open exclusively until released.
class ExclusiveHolder {
 public:
  explicit ExclusiveHolder(const std::string& path) {
    int ready[2], release[2];
    EXPECT_EQ(0, pipe(ready));
    EXPECT_EQ(0, pipe(release));
    child_ = fork();
    if (child_ == 0) {
      // Only the parent's end keeps the release pipe open.
      close(ready[0]);
      close(release[1]);
      HoldAndExit(path, ready[1], release[0]);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char locked = 0;
    EXPECT_EQ(1, read(ready[0], &locked, 1));
    EXPECT_EQ(1, locked) << "the other process did not get the lock";
    close(ready[0]);
  }
  ~ExclusiveHolder() {
    close(release_);
    waitpid(child_, nullptr, 0);
  }

 private:
  [[noreturn]] static void HoldAndExit(const std::string& path, int ready, int release) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    int rc = sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr,
                          nullptr, nullptr);
    char byte = rc == SQLITE_OK ? 1 : 0;
    (void)!write(ready, &byte, 1);
    (void)!read(release, &byte, 1);  // returns at the end of the pipe
    sqlite3_close(db);
    _exit(0);
  }

  pid_t child_ = -1;
  int release_ = -1;
};

class TabsyncProgramTest : public ::testing::Test {
 protected:
  TabsyncProgramTest() {
    for (const char* folder : {"etc", "odbc", "target", "target/DB", "release"})
      mkdir(dir_.File(folder).c_str(), 0755);
    WriteFile(dir_.File("etc/share.ini"), "[Share]\nSharedFilesLocation=" + Location() + "\n");
    WriteFile(dir_.File("odbc/odbc.ini"), "# data sources of the test\n");
    env_ = {{"TABSYNC_SYSCONFDIR", dir_.File("etc")}, {"ODBCSYSINI", dir_.File("odbc")}};
  }

  std::string Location() const { return dir_.File("shared"); }
  std::string Shared() const { return dir_.File("shared/Infrastructure/DB/"); }
  std::string LogFile() const { return Shared() + "Stabmerge.log"; }
  std::string OdbcIni() const { return test::ReadFileBytes(dir_.File("odbc/odbc.ini")); }

  // Writes the release: the update information into target/DB, the installed
  // older release into `installed` (absolute, created), registered there.
  void MakeRelease(const std::string& installed, bool registered = true,
                   int formatVersion = dao::kFormatVersion) {
    MakeFolders(installed);
    std::unique_ptr<dao::DatabaseEngine> engine = dao::NewSqliteEngine();
    release::MakeRelease(*engine, installed, dir_.File("target/DB"), 3, formatVersion);
    if (!registered) return;
    std::string ini = "# data sources of the test\n";
    for (int i = 0; i < 6; ++i) {
      ini += std::string("[") + kDataSources[i] + "]\nDriver=SQLite3\nDBQ=" + installed +
             kFiles[i] + "\n\n";
    }
    WriteFile(dir_.File("odbc/odbc.ini"), ini);
  }

  static void MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
      mkdir(folder.substr(0, slash).c_str(), 0755);
    }
  }

  // The summary line of a console run, its seconds shown as "<s>".
  std::string Summary(int updated, int errors) const {
    return std::to_string(updated) + " of 6 databases updated, " + std::to_string(errors) +
           (errors == 1 ? " error" : " errors") + ", <s> s; log: " + LogFile() + "\n";
  }
  static std::string SummaryWithoutTime(const std::string& out) {
    return std::regex_replace(out, std::regex("(errors?), [0-9]+\\.[0-9] s; log: "),
                              "$1, <s> s; log: ");
  }

  // `tabsync <arguments>` in the target folder, with no input (or input that
  // never ends), standard error in a file or on a terminal.
  Outcome RunWith(const std::vector<std::string>& arguments, bool input_never_ends = false,
                  bool error_on_terminal = false) {
    return RunProgram({dir_.File("target"), arguments, "", input_never_ends, error_on_terminal, ""},
                      env_);
  }

  Outcome Run(const std::string& input) {
    return RunProgram(dir_.File("target"), "DB", env_, input);
  }

  test::TempDir dir_;
  std::map<std::string, std::string> env_;
};

TEST_F(TabsyncProgramTest, FirstInstallationAsksNothingAndCopiesTheDatabasesIn) {
  MakeRelease(dir_.File("release/"), /*registered=*/false);
  Outcome outcome = Run("");
  EXPECT_EQ(0, outcome.status) << outcome.err;
  EXPECT_EQ(Summary(6, 0), SummaryWithoutTime(outcome.out));
  EXPECT_EQ("", outcome.err);
  std::string ini = OdbcIni();
  EXPECT_EQ(0u, ini.find("# data sources of the test\n"));
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(Exists(Shared() + kFiles[i])) << kFiles[i];
    EXPECT_NE(std::string::npos, ini.find(std::string("[") + kDataSources[i] +
                                          "]\nDriver=SQLite3\nDBQ=" + Shared() + kFiles[i] +
                                          "\nDatabase=" + Shared() + kFiles[i] + "\n"))
        << ini;
  }
  std::string log = test::ReadFileBytes(LogFile());
  EXPECT_NE(std::string::npos, log.find(" ## END UPDATING\r\n"));
  EXPECT_EQ(std::string::npos, log.find("ERROR"));
}

TEST_F(TabsyncProgramTest, WithoutArgumentTheCurrentDirectoryIsTheUpdateFolder) {
  MakeRelease(Shared());
  Outcome outcome = RunProgram(dir_.File("target/DB"), "", env_, "y\n");
  EXPECT_EQ(0, outcome.status) << outcome.err;
  std::string log = test::ReadFileBytes(LogFile());
  EXPECT_NE(std::string::npos, log.find(" Database 'Config' with DB to be updated: ./config.mdb\r\n"));
  EXPECT_NE(std::string::npos, log.find(" ## END UPDATING\r\n"));
  EXPECT_EQ(std::string::npos, log.find("ERROR"));
}

TEST_F(TabsyncProgramTest, UpdateAnsweredYesUpdatesTheInstalledRelease) {
  MakeRelease(Shared());
  WriteFile(LogFile(), "last run\r\n");
  Outcome outcome = Run("y\n");
  EXPECT_EQ(0, outcome.status) << outcome.err;
  EXPECT_EQ(
      "Korvane Database Update\n"
      "Would you like to perform an update of the Korvane databases? \n\n"
      "Please be aware that the updated Korvane databases are required for the full "
      "functionality of the software.\n\n"
      "A log file will be generated: \n\n" +
          LogFile() + "\n(y/n) y\n" + Summary(6, 0),
      SummaryWithoutTime(outcome.out));
  std::string log = test::ReadFileBytes(LogFile());
  EXPECT_EQ(std::string::npos, log.find("last run"));
  EXPECT_NE(std::string::npos, log.find("ADD TABLE Version"));
  EXPECT_NE(std::string::npos, log.find(" ## END UPDATING\r\n"));
  EXPECT_EQ(std::string::npos, log.find("ERROR"));
  EXPECT_TRUE(Exists(Shared() + "users.mdb.bak"));
  EXPECT_EQ("3.3.0\n", test::QuerySql(Shared() + "accounting.mdb",
                                    "SELECT max(DBVersion) FROM Version"));
}

TEST_F(TabsyncProgramTest, DatabasesElsewhereAreMovedAndRegisteredAnew) {
  std::string old_folder = dir_.File("old-server/db/");
  MakeRelease(old_folder);
  // The shared folder's own users.mdb and an older backup of it: the move
  // keeps the one as users.mdb.bak, the update then replaces that backup, and
  // neither is lost.
  MakeFolders(Shared());
  test::ExecSql(Shared() + "users.mdb", "CREATE TABLE Own (Note TEXT(20)); INSERT INTO Own VALUES ('shared');");
  WriteFile(Shared() + "users.mdb.bak", "older backup");
  Outcome outcome = Run("yes\ny\n");
  EXPECT_EQ(0, outcome.status) << outcome.err;
  EXPECT_NE(std::string::npos,
            outcome.out.find("Do you want to move the Korvane Common Databases into \n\n" +
                             Shared() + "  \n\nand re-configure their ODBC entries ?\n(y/n) yes\n"));
  EXPECT_NE(std::string::npos,
            outcome.out.find("Korvane Common Databases have been moved successfully.\n"));
  std::string ini = OdbcIni();
  for (int i = 0; i < 6; ++i) {
    EXPECT_FALSE(Exists(old_folder + kFiles[i])) << kFiles[i];
    EXPECT_TRUE(Exists(Shared() + kFiles[i])) << kFiles[i];
    EXPECT_NE(std::string::npos, ini.find("DBQ=" + Shared() + kFiles[i] + "\n"));
  }
  EXPECT_EQ(std::string::npos, ini.find(old_folder));
  EXPECT_NE(std::string::npos, test::ReadFileBytes(LogFile()).find(" ## END UPDATING\r\n"));
  std::set<std::string> runs = test::NamesIn(Shared() + "backups");
  ASSERT_EQ(1u, runs.size());
  std::string run = Shared() + "backups/" + *runs.begin() + "/";
  EXPECT_EQ("older backup", test::ReadFileBytes(run + "users.mdb.bak"));
  EXPECT_EQ("shared\n", test::QuerySql(run + "users.mdb.bak.2", "SELECT Note FROM Own"));
}

// Every file below the folder, by path, with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files[entry.path()] = test::ReadFileBytes(entry.path());
  }
  return files;
}

// The answer No ends with 0; a question that gets the end of the input (an
// installer or a cron job without --yes) ends with 3 and says how to run
// unattended. Neither writes a file but the lock file.
TEST_F(TabsyncProgramTest, DeclinedOrUnansweredQuestionWritesNothing) {
  MakeRelease(Shared());
  WriteFile(Shared() + "users.mdb.bak", "backup");  // for --restore to ask
  const struct {
    std::vector<std::string> arguments;
    const char* input;
    int status;
    const char* said;  // on standard error
  } cases[] = {
      {{"DB"}, "n\n", 0, ""},
      {{"DB"}, "", 3, "Nothing was moved or updated. To run unattended, answering Yes to every "
                      "question, use\n\n  'tabsync --yes DB'\n"},
      {{"--restore"}, "", 3, "Nothing was restored. To run unattended, answering Yes to every "
                             "question, use\n\n  'tabsync --yes --restore'\n"},
  };
  std::string lock = Shared() + "tabsync.lock";
  for (const auto& c : cases) {
    std::map<std::string, std::string> before = Snapshot(dir_.Path());
    Outcome outcome = RunProgram({dir_.File("target"), c.arguments, c.input, false, false, ""}, env_);
    EXPECT_EQ(c.status, outcome.status) << c.arguments[0] << c.input;
    EXPECT_NE(std::string::npos, outcome.out.find(std::string("(y/n) ") + c.input));
    EXPECT_EQ(c.said[0] ? "Korvane Database Update\nNo answer to the question: the input ended (no "
                          "terminal, no display).\n\n" + std::string(c.said)
                        : "",
              outcome.err);
    std::map<std::string, std::string> after = Snapshot(dir_.Path());
    after.erase(lock);
    before.erase(lock);
    EXPECT_TRUE(before == after) << c.arguments[0] << c.input;
  }
}

TEST_F(TabsyncProgramTest, DatabaseHeldByAnotherProcessEndsWithErrorsAndShowsTheLog) {
  MakeRelease(Shared());
  ExclusiveHolder holder(Shared() + "users.mdb");
  Outcome outcome = Run("y\n\n");
  EXPECT_EQ(1, outcome.status);
  EXPECT_NE(std::string::npos,
            outcome.err.find("There are errors detected. Please check the log file\n\n[" +
                             LogFile() + "]\n\n"));
  std::string log = test::ReadFileBytes(LogFile());
  EXPECT_NE(std::string::npos, log.find(" ERROR 3045: "));
  EXPECT_NE(std::string::npos, log.find(" !ERROR database not updated, another program is reading "
                                        "or writing it: " + Shared() + "users.mdb\r\n"));
  // The log window: its caption, its text from the first line on, the hint.
  size_t caption = outcome.out.find("Korvane Database Update .. close this window to finish ..\n"
                                    "Updating log..\n");
  ASSERT_NE(std::string::npos, caption) << outcome.out;
  EXPECT_NE(std::string::npos, outcome.out.find("DATABASE START: users.mdb\n", caption));
  EXPECT_NE(std::string::npos, outcome.out.find("Press Enter to close this window.\n", caption));
}

TEST_F(TabsyncProgramTest, StopsBeforeTheRunEndWithStatusTwo) {
  MakeRelease(Shared());
  Outcome outcome = RunProgram(dir_.File("target"), "NoSuchFolder", env_, "");
  EXPECT_EQ(2, outcome.status);
  EXPECT_EQ("Korvane Database Update\nCannot find folder: \n\nNoSuchFolder\n\n"
            "Update of information DB's canceled.\n",
            outcome.err);

  unlink(dir_.File("etc/share.ini").c_str());
  outcome = Run("");
  EXPECT_EQ(2, outcome.status);
  EXPECT_EQ("Korvane Database Update\nKorvane Common Files folder NOT registered:\n\n\n\n"
            "Cannot install databases.\n",
            outcome.err);
}

// A second run while one holds the run lock is refused before it asks or
// touches anything; the lock goes with the process that held it.
TEST_F(TabsyncProgramTest, SecondRunWhileOneRunsIsRefused) {
  MakeRelease(Shared());
  std::string users = test::ReadFileBytes(Shared() + "users.mdb");
  std::string lock = Shared() + "tabsync.lock";
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t holder = fork();
  if (holder == 0) {
    int fd = open(lock.c_str(), O_RDONLY | O_CREAT, 0644);
    char byte = flock(fd, LOCK_EX) == 0 ? 1 : 0;
    (void)!write(ready[1], &byte, 1);
    pause();
    _exit(0);
  }
  char locked = 0;
  ASSERT_EQ(1, read(ready[0], &locked, 1));
  ASSERT_EQ(1, locked);
  Outcome outcome = Run("y\n");
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(2, outcome.status);
  EXPECT_EQ("", outcome.out);
  EXPECT_EQ("Korvane Database Update\nAnother update of the Korvane databases is running; it "
            "holds the lock file:\n\n" + lock + "\n\nUpdate of information DB's canceled.\n",
            outcome.err);
  EXPECT_EQ(users, test::ReadFileBytes(Shared() + "users.mdb"));
  EXPECT_FALSE(Exists(Shared() + "users.mdb.bak"));
  EXPECT_FALSE(Exists(LogFile()));

  // The holder was killed: its lock is gone with it.
  outcome = Run("y\n");
  EXPECT_EQ(0, outcome.status) << outcome.err;
}

std::string WithoutTimes(const std::string& log) {
  return std::regex_replace(log, std::regex("(^|\n)[0-9-]{10} [0-9:]{8} "), "$1");
}

// A dry run changes no file anywhere (no lock, log, backup or history
// appears), and prints the log the real run then writes.
TEST_F(TabsyncProgramTest, DryRunChangesNothingAndPrintsTheRealRunsLog) {
  MakeRelease(Shared());
  std::map<std::string, std::string> before = Snapshot(dir_.Path());
  Outcome dry = RunWith({"--dry-run", "DB"});
  EXPECT_EQ(0, dry.status) << dry.err;
  EXPECT_EQ("", dry.err);
  EXPECT_TRUE(before == Snapshot(dir_.Path()));
  size_t summary = dry.out.rfind("6 of 6 databases updated, 0 errors, ");
  ASSERT_NE(std::string::npos, summary) << dry.out;

  // --summary: counts instead of the log.
  Outcome plan = RunWith({"--dry-run", "--summary", "DB"});
  EXPECT_EQ(0, plan.status) << plan.err;
  EXPECT_EQ(0u, plan.out.find("Plan of the update (a dry run: nothing was changed)\n\n")) << plan.out;
  EXPECT_NE(std::string::npos, plan.out.find("\nusers.mdb    ")) << plan.out;
  EXPECT_EQ(std::string::npos, plan.out.find("ADD RECORD")) << plan.out;
  EXPECT_TRUE(before == Snapshot(dir_.Path()));

  Outcome real = RunWith({"--yes", "DB"});
  EXPECT_EQ(0, real.status) << real.err;
  EXPECT_EQ(WithoutTimes(test::ReadFileBytes(LogFile())), WithoutTimes(dry.out.substr(0, summary)));
}

// A dry run reads the configuration as the real run does and ends as it
// ends: it used to take odbc.ini faults for a clean site (exit 0 where the
// run fails) and a missing shared folder for a failure (exit 1 where the run
// creates it), and stopped at a FIFO in place of a database (exit 2 where
// the run fails it). Each fault, on a fresh site: the dry run, then the
// real run.
TEST_F(TabsyncProgramTest, DryRunEndsAsTheRealRunOnEveryConfigurationFault) {
  const std::string odbc_ini = dir_.File("odbc/odbc.ini");
  auto prepend = [&](const std::string& text) {
    WriteFile(odbc_ini, text + test::ReadFileBytes(odbc_ini));
  };
  const struct {
    const char* fault;
    std::function<void()> make;
    int status;
  } cases[] = {
      {"none", [] {}, 0},
      {"no data source registered", [&] { WriteFile(odbc_ini, ""); }, 0},
      {"shared folder missing", [&] { std::filesystem::remove_all(Location()); }, 0},
      {"stray line in odbc.ini", [&] { prepend("stray\n"); }, 1},
      {"byte order mark in odbc.ini", [&] { prepend("\xef\xbb\xbf"); }, 1},
      {"odbc.ini a folder", [&] { unlink(odbc_ini.c_str()); mkdir(odbc_ini.c_str(), 0755); }, 2},
      {"database in use a FIFO",
       [&] {
         unlink((Shared() + "config.mdb").c_str());
         mkfifo((Shared() + "config.mdb").c_str(), 0644);
       },
       1},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(Location());
    std::filesystem::remove_all(odbc_ini);
    std::filesystem::remove_all(dir_.File("target/DB"));
    mkdir(dir_.File("target/DB").c_str(), 0755);
    MakeRelease(Shared());
    c.make();
    Outcome dry = RunWith({"--dry-run", "DB"});
    Outcome real = RunWith({"-y", "DB"});
    EXPECT_EQ(c.status, real.status) << c.fault << ": " << real.err;
    EXPECT_EQ(real.status, dry.status) << c.fault << ": " << dry.out;
    EXPECT_EQ(real.err, dry.err) << c.fault;
  }
}

// An installer that reads the output must not take a cut-off one for the
// whole: these used to end with 0 on a full disk.
TEST_F(TabsyncProgramTest, OutputThatCannotBeWrittenFailsTheProgram) {
  MakeRelease(Shared());
  const std::vector<std::string> commands[] = {{"--help"}, {"--version"}, {"--status"},
                                               {"--dry-run", "DB"}};
  for (const std::vector<std::string>& arguments : commands) {
    Outcome outcome = RunProgram({dir_.File("target"), arguments, "", false, false, "/dev/full"},
                                 env_);
    EXPECT_EQ(1, outcome.status) << arguments[0];
    EXPECT_EQ(0u, outcome.err.find("tabsync: cannot write standard output")) << outcome.err;
  }
}

// Unattended, the run neither asks nor waits: standard input stays open and
// unread, and after errors neither the message nor the log window appears.
TEST_F(TabsyncProgramTest, YesNeverReadsTheInputNorWaits) {
  MakeRelease(Shared());
  ExclusiveHolder holder(Shared() + "users.mdb");
  Outcome outcome = RunWith({"-y", "DB"}, true);
  EXPECT_EQ(1, outcome.status);
  EXPECT_EQ(Summary(5, 2), SummaryWithoutTime(outcome.out));
  EXPECT_EQ("", outcome.err);
  EXPECT_NE(std::string::npos, test::ReadFileBytes(LogFile()).find(" ERROR 3045: "));
}

TEST_F(TabsyncProgramTest, ProgressIsDrawnOnATerminal) {
  MakeRelease(Shared());
  Outcome outcome = RunWith({"--yes", "DB"}, false, true);
  EXPECT_EQ(0, outcome.status);
  for (int i = 0; i < 6; ++i) {
    std::string line = std::string("\rtabsync: ") + kFiles[i] + " (" + std::to_string(i + 1) + "/6)\033[K";
    EXPECT_NE(std::string::npos, outcome.err.find(line)) << line;
  }
  ASSERT_GE(outcome.err.size(), 4u);
  EXPECT_EQ("\r\033[K", outcome.err.substr(outcome.err.size() - 4));
}

// --status writes nothing beside a database in WAL mode (it used to leave
// -wal and -shm files), and reads what another program's -wal holds.
TEST_F(TabsyncProgramTest, StatusReadsDatabasesInWalModeWithoutWritingBesideThem) {
  MakeRelease(Shared());
  const std::string users = Shared() + "users.mdb";
  auto users_release = [&] {
    std::string out = RunWith({"--status", "--json"}).out;
    size_t row = out.find("\"data_source\": \"Users\"");
    size_t release = out.find("\"release\": \"", row);
    return row == std::string::npos || release == std::string::npos
               ? out
               : out.substr(release + 12, out.find('"', release + 12) - release - 12);
  };
  test::ExecSql(users, "PRAGMA journal_mode = WAL");
  EXPECT_EQ("3.1.0", users_release());
  EXPECT_FALSE(Exists(users + "-wal"));
  EXPECT_FALSE(Exists(users + "-shm"));

  sqlite3* writer = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(users.c_str(), &writer));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(writer,
                                    "PRAGMA wal_autocheckpoint = 0; UPDATE Version SET DBVersion "
                                    "= '3.1.9' WHERE DBVersion = '3.1.0'",
                                    nullptr, nullptr, nullptr));
  EXPECT_EQ("3.1.9", users_release());
  sqlite3_close(writer);
}

// --status before and after two runs on a site of the previous file format;
// --restore from the .bak files and then from the history's first run
// folder, each replaced database kept.
TEST_F(TabsyncProgramTest, StatusShowsReleasesBackupsAndHistoryAndRestorePutsThemBack) {
  MakeRelease(Shared(), true, dao::kFirstFormatVersion);
  std::string installed_users = test::ReadFileBytes(Shared() + "users.mdb");
  Outcome status = RunWith({"--status", "--json"});
  EXPECT_EQ(0, status.status) << status.err;
  EXPECT_NE(std::string::npos, status.out.find("\"data_source\": \"Users\", \"file\": \"" + Shared() +
                                                "users.mdb\", \"problem\": null, \"exists\": true"));
  EXPECT_NE(std::string::npos, status.out.find("\"release\": \"3.1.0\", \"version_table\": true, "
                                                "\"format_version\": 1, \"backup\": null, "
                                                "\"history\": []}"));
  EXPECT_NE(std::string::npos, status.out.find("\"update_running\": false,\n  \"lock_holder\": null"));

  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(0, RunWith({"--yes", "DB"}).status);
    if (run == 0) sleep(1);  // two run folders, not one of the same second
  }
  std::set<std::string> runs = test::NamesIn(Shared() + "backups");
  ASSERT_EQ(2u, runs.size());
  std::string first_run = *runs.begin();
  status = RunWith({"--status"});
  EXPECT_EQ(0, status.status);
  EXPECT_NE(std::string::npos, status.out.find("\nUsers        users.mdb         3.3.0    2  "))
      << status.out;
  // Availability has no Version table in any release: it says so.
  EXPECT_NE(std::string::npos, status.out.find("\nOrbisdat     availability.mdb  none     2  "))
      << status.out;
  EXPECT_NE(std::string::npos, status.out.find("\nHistory: 2 runs, newest " + *runs.rbegin() + "\n"));
  std::istringstream lines(status.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 100u) << line;

  std::string after_first = test::ReadFileBytes(Shared() + "users.mdb.bak");
  Outcome restore = RunWith({"--yes", "--restore"});
  EXPECT_EQ(0, restore.status) << restore.err;
  EXPECT_NE(std::string::npos, restore.out.find("restored " + Shared() + "users.mdb from " +
                                                Shared() + "users.mdb.bak\n"));
  EXPECT_TRUE(after_first == test::ReadFileBytes(Shared() + "users.mdb"));

  restore = RunWith({"--yes", "--restore", first_run});
  EXPECT_EQ(0, restore.status) << restore.err;
  EXPECT_TRUE(installed_users == test::ReadFileBytes(Shared() + "users.mdb"));
  // Each restore kept the databases it replaced: two run folders more.
  EXPECT_EQ(4u, test::NamesIn(Shared() + "backups").size());

  unlink(dir_.File("etc/share.ini").c_str());
  EXPECT_EQ(2, RunWith({"--status"}).status);
  EXPECT_EQ(2, RunWith({"--yes", "--restore"}).status);
}

// The text after `key` in `text` up to the next quote.
std::string JsonText(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  return text.substr(at, text.find('"', at) - at);
}

// A run killed at its end (its record without one, as kill -9 leaves it)
// reads as interrupted; after a re-run of the same release, --restore alone
// returns to the state before the first attempt; that restore is a run of
// the history too, and undoing it returns to the re-run's state.
TEST_F(TabsyncProgramTest, UndoAfterAKilledRunAndARerunAndOfTheRestore) {
  MakeRelease(Shared());
  std::string installed = test::ReadFileBytes(Shared() + "users.mdb");
  ASSERT_EQ(0, RunWith({"--yes", "DB"}).status);
  std::string record = Shared() + "backups/" + *test::NamesIn(Shared() + "backups").begin() +
                       "/tabsync-run";
  std::string text = test::ReadFileBytes(record);
  WriteFile(record, text.substr(0, text.find("errors ")));
  Outcome status = RunWith({"--status"});
  EXPECT_NE(std::string::npos, status.out.find(", update to release 3.3.0 (tabsync ")) << status.out;
  EXPECT_NE(std::string::npos, status.out.find(": interrupted\n  update folder " +
                                               dir_.File("target/DB") + "\n  accounting.mdb: updated\n"))
      << status.out;

  ASSERT_EQ(0, RunWith({"--yes", "DB"}).status);
  std::string rerun = test::ReadFileBytes(Shared() + "users.mdb");
  Outcome undo = RunWith({"--yes", "--restore"});
  EXPECT_EQ(0, undo.status) << undo.err;
  EXPECT_TRUE(installed == test::ReadFileBytes(Shared() + "users.mdb"));
  status = RunWith({"--status", "--json"});
  std::string restore_run = JsonText(status.out, "\"last_run\": {\"run\": \"");
  EXPECT_NE(std::string::npos, status.out.find("\"kind\": \"restore\"")) << status.out;
  EXPECT_NE(std::string::npos, status.out.find("\"ending\": \"done\"")) << status.out;
  EXPECT_EQ("3", JsonText(status.out, "\"backup_history\": {\"folder\": \"" + Shared() +
                                          "backups/\", \"runs\": ").substr(0, 1));
  std::string log = test::ReadFileBytes(Shared() + "backups/" + restore_run + "/tabsync-restore.log");
  EXPECT_NE(std::string::npos, log.find(" ## END RESTORING\r\n")) << log;

  undo = RunWith({"--yes", "--restore", restore_run});
  EXPECT_EQ(0, undo.status) << undo.err;
  EXPECT_NE(std::string::npos, undo.out.find("restored " + Shared() + "users.mdb from " + Shared() +
                                             "backups/" + restore_run + "/users.mdb\n"));
  EXPECT_TRUE(rerun == test::ReadFileBytes(Shared() + "users.mdb"));
}

}  // namespace
}  // namespace tabsync
