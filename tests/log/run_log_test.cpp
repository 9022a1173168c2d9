#include "log/run_log.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "log/log_line.h"
#include "platform/console_user_interface.h"
#include "platform/posix_file_system.h"
#include "support/fake_file_system.h"
#include "support/fake_user_interface.h"
#include "support/fixed_clock.h"
#include "support/raised_error.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::log {
namespace {

using test::ExpectError;

constexpr platform::LocalTime kMorning{2026, 12, 7, 9, 5, 31};

TEST(FormatLogLineTest, PrefixIsDateBlankTimeBlank) {
  EXPECT_EQ("12-07-2026 09:05:31 ## BEGIN UPDATING\r\n",
            FormatLogLine("## BEGIN UPDATING", true, kMorning));
  EXPECT_EQ("01-02-0999 00:00:00 x\r\n", FormatLogLine("x", true, {999, 1, 2, 0, 0, 0}));
  EXPECT_EQ("12-31-2026 23:59:59 x\r\n", FormatLogLine("x", true, {2026, 12, 31, 23, 59, 59}));
}

TEST(FormatLogLineTest, WithoutDateTimeTheTextStartsTheLine) {
  EXPECT_EQ("   ADD RECORD Key=1\r\n", FormatLogLine("   ADD RECORD Key=1", false, kMorning));
}

TEST(FormatLogLineTest, EmptyTextKeepsPrefixAndLineEnd) {
  EXPECT_EQ("12-07-2026 09:05:31 \r\n", FormatLogLine("", true, kMorning));
  EXPECT_EQ("\r\n", FormatLogLine("", false, kMorning));
}

TEST(FormatLogLineTest, TextIsWrittenUnchanged) {
  // Line breaks inside the text and UTF-8 pass through; nothing is quoted.
  EXPECT_EQ("12-07-2026 09:05:31 a\nb \"Cutoff 5\xC2\xB0\"\r\n",
            FormatLogLine("a\nb \"Cutoff 5\xC2\xB0\"", true, kMorning));
}

class RunLogTest : public ::testing::Test {
 protected:
  RunLogTest() { files_.AddFolder("/share/DB"); }

  test::FakeFileSystem files_;
  test::FixedClock clock_{kMorning};
  std::unique_ptr<platform::UserInterface> console_ = platform::NewConsoleUserInterface();
  RunLog log_{files_, clock_, *console_};
};

TEST_F(RunLogTest, LinesWaitInTheBufferUntilFlush) {
  log_.SetLogFilePath("/share/DB/Stabmerge.log");
  log_.WriteLog("## BEGIN UPDATING", true);
  clock_.Set({2026, 12, 7, 9, 5, 32});
  log_.WriteLog("plain", false);
  log_.WriteLog("a second later", true);
  EXPECT_EQ("", files_.GetFile("/share/DB/Stabmerge.log").content);
  log_.Flush();
  EXPECT_EQ("12-07-2026 09:05:31 ## BEGIN UPDATING\r\nplain\r\n"
            "12-07-2026 09:05:32 a second later\r\n",
            files_.GetFile("/share/DB/Stabmerge.log").content);
}

TEST_F(RunLogTest, AppendsToAnExistingFile) {
  files_.AddFile("/share/DB/Stabmerge.log", "old\r\n");
  log_.SetLogFilePath("/share/DB/Stabmerge.log");
  log_.WriteLog("new", true);
  log_.Flush();
  EXPECT_EQ("old\r\n12-07-2026 09:05:31 new\r\n", files_.GetFile("/share/DB/Stabmerge.log").content);
}

TEST_F(RunLogTest, ChangedPathWritesTheWaitingLinesToTheOldFile) {
  files_.AddFolder("/other");
  log_.SetLogFilePath("/share/DB/Stabmerge.log");
  log_.WriteLog("first", false);
  log_.SetLogFilePath("/other/run.log");
  EXPECT_EQ("first\r\n", files_.GetFile("/share/DB/Stabmerge.log").content);
  log_.WriteLog("second", false);
  log_.Flush();
  EXPECT_EQ("first\r\n", files_.GetFile("/share/DB/Stabmerge.log").content);
  EXPECT_EQ("second\r\n", files_.GetFile("/other/run.log").content);
}

TEST_F(RunLogTest, FileDeletedAfterSettingThePathIsCreatedAgain) {
  log_.SetLogFilePath("/share/DB/Stabmerge.log");
  log_.WriteLog("earlier run", false);
  log_.SetLogFilePath("/share/DB/Stabmerge.log");
  files_.DeleteFile("/share/DB/Stabmerge.log", true);
  log_.WriteLog("this run", false);
  log_.Flush();
  EXPECT_EQ("this run\r\n", files_.GetFile("/share/DB/Stabmerge.log").content);
}

TEST_F(RunLogTest, FullBufferIsWrittenWithoutFlush) {
  log_.SetLogFilePath("/share/DB/Stabmerge.log");
  const std::string line(1000, 'x');
  size_t lines = RunLog::kBufferBytes / (line.size() + 2) + 1;
  for (size_t i = 0; i < lines; ++i) log_.WriteLog(line, false);
  EXPECT_EQ(lines * (line.size() + 2), files_.GetFile("/share/DB/Stabmerge.log").content.size());
}

TEST_F(RunLogTest, UnwritableFileRaisesAndTheWindowKeepsTheLine) {
  log_.SetLogFilePath("/missing/Stabmerge.log");
  EXPECT_EQ("Path not found", ExpectError(76, [&] { log_.WriteLog("lost", true); }));
  EXPECT_EQ("Updating log..\r\nlost", log_.frmLog().Text());
}

TEST_F(RunLogTest, EmptyPathRaisesPathFileAccessError) {
  EXPECT_EQ("Path/File access error", ExpectError(75, [&] { log_.WriteLog("x", true); }));
}

TEST_F(RunLogTest, FailedWriteRaisesDiskFullAndIsNotWrittenAgain) {
  log_.SetLogFilePath("/share/DB/Stabmerge.log");
  log_.WriteLog("lost", false);
  files_.FailOn("append", "/share/DB/Stabmerge.log", 61);
  EXPECT_EQ("Disk full", ExpectError(61, [&] { log_.Flush(); }));
  files_.StopFailing();
  log_.WriteLog("kept", false);
  log_.Flush();
  EXPECT_EQ("kept\r\n", files_.GetFile("/share/DB/Stabmerge.log").content);
}

// A full disk takes part of a write: the next line must not continue the
// cut-off one (" ERROR 61" used to end up on the same line).
TEST(RunLogCutOffTest, LineCutOffByAFailedWriteIsEndedBeforeTheNextLine) {
  const std::pair<size_t, const char*> cases[] = {
      {3, "cut\r\nnext\r\n"},          // within the text
      {8, "cut off\r\nnext\r\n"},      // between CR and LF
      {9, "cut off\r\nnext\r\n"},      // at a line's end: nothing to add
      {0, "next\r\n"},                 // nothing written
  };
  for (const auto& [landed, expected] : cases) {
    test::FakeFileSystem files;
    files.AddFolder("/db");
    test::FixedClock clock{kMorning};
    test::FakeUserInterface ui;
    RunLog log{files, clock, ui};
    log.SetLogFilePath("/db/Stabmerge.log");
    log.WriteLog("cut off", false);
    log.WriteLog("lost", false);
    EXPECT_FALSE(log.FileFailure());
    files.FailOn("append", "/db/Stabmerge.log", 61);
    files.CutOffFailingAppends(landed);
    ExpectError(61, [&] { log.Flush(); });
    files.StopFailing();
    log.WriteLog("next", false);
    log.Flush();
    EXPECT_EQ(expected, files.GetFile("/db/Stabmerge.log").content) << landed;
    ASSERT_TRUE(log.FileFailure());
    EXPECT_EQ(61, log.FileFailure()->Number());
  }
}

TEST_F(RunLogTest, FirstLineLoadsTheWindowHiddenWithItsCaption) {
  EXPECT_FALSE(log_.LogWindowLoaded());
  log_.SetLogFilePath("/share/DB/Stabmerge.log");
  log_.WriteLog("## BEGIN UPDATING", true);
  ASSERT_TRUE(log_.LogWindowLoaded());
  EXPECT_FALSE(log_.frmLog().Visible());
  EXPECT_EQ("Korvane Database Update .. close this window to finish ..", log_.frmLog().Caption());
  // The window shows the text without the date and time.
  EXPECT_EQ("Updating log..\r\n## BEGIN UPDATING", log_.frmLog().Text());
}

TEST_F(RunLogTest, UnloadedWindowComesBackWithItsFirstLineOnly) {
  log_.SetLogFilePath("/share/DB/Stabmerge.log");
  log_.WriteLog("one", true);
  log_.UnloadLogWindow();
  EXPECT_FALSE(log_.LogWindowLoaded());
  log_.WriteLog("two", true);
  log_.Flush();
  EXPECT_EQ("Updating log..\r\ntwo", log_.frmLog().Text());
  EXPECT_EQ("12-07-2026 09:05:31 one\r\n12-07-2026 09:05:31 two\r\n",
            files_.GetFile("/share/DB/Stabmerge.log").content);
}

TEST(RunLogWindowTest, WindowGetsItsLinesFromTheFileWhenItsTextIsNeeded) {
  test::FakeFileSystem files;
  files.AddFolder("/db");
  test::FixedClock clock{kMorning};
  test::FakeUserInterface ui;
  RunLog log{files, clock, ui};
  log.SetLogFilePath("/db/Stabmerge.log");
  log.WriteLog("a", true);
  log.WriteLog("b", false);
  EXPECT_EQ((std::vector<std::string>{"load", "make empty", "events", "events"}), ui.WindowEvents());
  // A new path first gives the window the lines of the old file; a line
  // whose file cannot be opened goes to the window itself, without events.
  log.SetLogFilePath("/missing/Stabmerge.log");
  EXPECT_THROW(log.WriteLog("c", true), Error);
  EXPECT_EQ((std::vector<std::string>{"load", "make empty", "events", "events", "line a", "line b",
                                      "line c"}),
            ui.WindowEvents());
}

// What the window shows is what was written, whatever the texts hold: line
// breaks, digits where the date stands, nothing, more than one piece read
// back, and lines the file could not take (once each, in order).
TEST_F(RunLogTest, WindowTextReadBackIsTheWrittenText) {
  const std::string long_text(3 * 1024 * 1024 + 5, 'x');
  const std::pair<std::string, bool> lines[] = {
      {"two\r\nlines", true}, {"12-07-2026 09:05:31 not a date of the log", false},
      {"", true}, {long_text, true}, {"a\nb\rc", true}};
  log_.SetLogFilePath("/share/DB/Stabmerge.log");
  std::string expected = platform::kLogWindowFirstLine;
  for (const auto& [text, dated] : lines) {
    log_.WriteLog(text, dated);
    expected += "\r\n" + text;
  }
  log_.Flush();
  // One write fails with its lines; the lines after it are written again.
  log_.WriteLog("lost in the file", true);
  files_.FailOn("append", "/share/DB/Stabmerge.log", 61);
  EXPECT_THROW(log_.Flush(), Error);
  files_.StopFailing();
  log_.WriteLog("after", true);
  log_.Flush();
  expected += "\r\nlost in the file\r\nafter";
  EXPECT_EQ(expected, log_.frmLog().Text());
  log_.WriteLog("later", true);
  EXPECT_EQ(expected + "\r\nlater", log_.frmLog().Text());
}

class RunLogRealFileTest : public ::testing::Test {
 protected:
  std::string Written() const { return test::ReadFileBytes(dir_.File("Stabmerge.log")); }

  test::TempDir dir_;
  std::unique_ptr<platform::FileSystem> files_ = platform::NewPosixFileSystem();
  test::FixedClock clock_{kMorning};
  std::unique_ptr<platform::UserInterface> ui_ = platform::NewConsoleUserInterface();
};

TEST_F(RunLogRealFileTest, TimerWritesWaitingLinesAndTheEndWritesTheRest) {
  auto log = std::make_unique<RunLog>(*files_, clock_, *ui_);
  log->SetLogFilePath(dir_.File("Stabmerge.log"));
  log->StartFlushTimer(std::chrono::milliseconds(10));
  log->WriteLog("DATABASE START: users.mdb", true);
  // No timing is asserted: the line must come, however slow the machine.
  for (int i = 0; i < 1000 && Written().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ("12-07-2026 09:05:31 DATABASE START: users.mdb\r\n", Written());
  log->StartFlushTimer(std::chrono::hours(1));
  log->WriteLog("", false);
  log.reset();
  EXPECT_EQ("12-07-2026 09:05:31 DATABASE START: users.mdb\r\n\r\n", Written());
}

TEST(RunLogTimerTest, FailedTimerWriteIsRaisedByTheNextLine) {
  test::FakeFileSystem files;
  files.AddFolder("/db");
  test::FixedClock clock{kMorning};
  test::FakeUserInterface ui;
  RunLog log{files, clock, ui};
  log.SetLogFilePath("/db/Stabmerge.log");
  log.WriteLog("a", true);
  files.FailOn("append", "/db/Stabmerge.log", 61);
  log.StartFlushTimer(std::chrono::milliseconds(1));
  // The timer's write fails; until then the next line only waits in the
  // buffer, so allow it many turns.
  EXPECT_EQ("Disk full", ExpectError(61, [&] {
              for (int i = 0; i < 1000; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                log.WriteLog("b", true);
              }
            }));
}

}  // namespace
}  // namespace tabsync::log
