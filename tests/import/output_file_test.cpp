// What tabsync-import refuses to read or replace, and the temporary file of
// an import that is stopped: the built program on real files.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "import/run_command.h"
#include "jet-writer/jet_writer.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync {
namespace {

// The entries of a folder with their kinds (file, link, FIFO...).
std::map<std::string, std::filesystem::file_type> Entries(const std::string& folder) {
  std::map<std::string, std::filesystem::file_type> entries;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    entries[entry.path().filename()] = entry.symlink_status().type();
  return entries;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Each case: `--force SOURCE OUTPUT` in a folder holding a.mdb; the import
// fails with the message and leaves the source, the output and the folder
// as they were. A device used to become a regular file (the machine's
// /dev/null, through a link here), and --force a.mdb a.mdb overwrote its
// source; a FIFO as input hung.
TEST(ImportOutputFileTest, WhatIsNoRegularFileOrTheSourceIsNeverReplaced) {
  const struct {
    const char* name;
    std::function<void(const test::TempDir&)> make;
    const char* source;
    const char* output;
    const char* message;
  } cases[] = {
      {"link to a device",
       [](const test::TempDir& d) { ASSERT_EQ(0, symlink("/dev/null", d.File("out.mdb").c_str())); },
       "a.mdb", "out.mdb", "out.mdb: not a regular file (a character device); it is not replaced"},
      {"FIFO", [](const test::TempDir& d) { ASSERT_EQ(0, mkfifo(d.File("out.mdb").c_str(), 0644)); },
       "a.mdb", "out.mdb", "out.mdb: not a regular file (a FIFO); it is not replaced"},
      {"source by another path",
       [](const test::TempDir& d) { ASSERT_EQ(0, mkdir(d.File("sub").c_str(), 0755)); }, "a.mdb",
       "sub/../a.mdb", "sub/../a.mdb: the source file itself; it is not replaced"},
      {"source through a link",
       [](const test::TempDir& d) { ASSERT_EQ(0, symlink("a.mdb", d.File("out.mdb").c_str())); },
       "a.mdb", "out.mdb", "out.mdb: the source file itself; it is not replaced"},
      {"FIFO as input", [](const test::TempDir& d) { ASSERT_EQ(0, mkfifo(d.File("in.mdb").c_str(), 0644)); },
       "in.mdb", "out.mdb", "in.mdb: not a regular file (a FIFO); it is not read"},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    std::filesystem::copy_file(test::ImportData("testV1997.mdb"), dir.File("a.mdb"));
    c.make(dir);
    auto before = Entries(dir.Path());
    test::CommandResult result = test::RunCommand(
        {"/usr/bin/timeout", "60", TABSYNC_IMPORT_PROGRAM, "--force", c.source, c.output}, {dir.Path(), {}, ""});
    EXPECT_EQ(1, result.status) << c.name;
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << c.name << ": " << result.err;
    EXPECT_EQ(test::ReadFileBytes(test::ImportData("testV1997.mdb")), test::ReadFileBytes(dir.File("a.mdb")))
        << c.name;
    EXPECT_TRUE(before == Entries(dir.Path())) << c.name;
  }
}

// An import stopped by SIGTERM removes its temporary file; a later import
// of the same output removes what ended imports left and keeps what a
// running one writes.
TEST(ImportOutputFileTest, StoppedImportLeavesNoTemporaryFileAndLeftoversOfEndedOnesGo) {
  test::TempDir dir;
  jet_writer::WriteJetTable(test::ImportData("testV2000.mdb"), dir.File("big.mdb"), "Table1", 100000);
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  std::string leftover = dir.File(".out.mdb.importing-" + std::to_string(ended));
  for (const std::string& path : {leftover, leftover + "-journal"}) std::ofstream(path) << "left";

  pid_t running = fork();
  if (running == 0) {
    (void)!freopen("/dev/null", "w", stdout);
    execl(TABSYNC_IMPORT_PROGRAM, TABSYNC_IMPORT_PROGRAM, dir.File("big.mdb").c_str(),
          dir.File("out.mdb").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Whatever fails below, the import does not outlive the test.
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
  } reaper{running};
  std::string temporary = dir.File(".out.mdb.importing-" + std::to_string(running));
  for (int i = 0; i < 3000 && !Exists(temporary); ++i) usleep(10000);
  // Stopped, it stays at work until it is told to end.
  kill(running, SIGSTOP);
  ASSERT_TRUE(Exists(temporary));
  EXPECT_FALSE(Exists(leftover));
  EXPECT_FALSE(Exists(leftover + "-journal"));

  test::CommandResult other = test::RunImport({test::ImportData("testV1997.mdb"), dir.File("out.mdb")});
  EXPECT_EQ(0, other.status) << other.err;
  EXPECT_TRUE(Exists(temporary));

  kill(running, SIGTERM);
  kill(running, SIGCONT);
  int status = 0;
  waitpid(running, &status, 0);
  reaper.pid = 0;
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_FALSE(Exists(temporary));
  EXPECT_FALSE(Exists(temporary + "-journal"));
}

}  // namespace
}  // namespace tabsync
