#ifndef TABSYNC_LOG_RUN_LOG_H_
#define TABSYNC_LOG_RUN_LOG_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/log_window.h"
#include "platform/user_interface.h"

namespace tabsync::log {

// The run log: every line goes to the log window frmLog and to the log file
// named by LogFilePath (format: docs/run-log.md). The log never chooses where
// its file lies and never deletes it; the starter of a run does both.
//
// The file is opened at the first line and stays open. Lines gather in a
// buffer and reach the file in large writes: when the buffer is full, at
// Flush, every FlushInterval while the flush timer runs, when the path
// changes, and when the log goes. A run that is killed loses at most the lines
// written since the last of these (docs/run-log.md).
//
// A run writes millions of lines into a window that stays hidden, so while
// the file takes the lines, the window gets them only when its text is needed
// (Show, Text): they are then read back from the file, without the date and
// time. Lines the file could not take go to the window from memory.
class RunLog {
 public:
  // Lines gather up to this many bytes before they are written.
  static constexpr std::size_t kBufferBytes = 256 * 1024;

  // The platform objects must outlive the log.
  RunLog(platform::FileSystem& files, const platform::Clock& clock, platform::UserInterface& ui);
  // Stops the flush timer and writes the lines still waiting; a failure of
  // that write is not reported (nothing is left to report it to).
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // The full path of the log file; empty until set. Setting it writes the
  // lines waiting for the file named before (raising as Flush) and lets go of
  // that file, so the next line opens the file named now.
  const std::string& LogFilePath() const { return log_file_path_; }
  void SetLogFilePath(const std::string& path);

  // Appends one line to the window (loading it hidden when none is loaded)
  // and to the log's buffer, then lets the window handle pending events.
  // With bDateTime the line starts with the local date and time. Raises the
  // file errors of FileSystem::OpenForAppend when the file cannot be opened
  // (e.g. 75 while LogFilePath is empty), and those of AppendFile::Append
  // when the buffer is written now, or was written by the flush timer since
  // the last line and failed; the line is then in the window only, and the
  // lines that write held are in the window only too.
  void WriteLog(const std::string& sText, bool bDateTime);

  // Writes the lines waiting in the buffer. Raises as WriteLog when the
  // write fails, now or in the flush timer since the last line.
  void Flush();

  // The first failure to open or write the log file since the path was set
  // (the flush timer's included, once raised or not); none while every line
  // went in. The run's starter tells the operator, since the log cannot.
  std::optional<Error> FileFailure();

  // Starts a thread that writes the waiting lines every `interval`, so that
  // a run that writes no line for a while (one long statement) still has its
  // lines in the file. A failure there is raised by the next WriteLog or
  // Flush. Only for a file system whose AppendFile may be used from another
  // thread (the real one); the log serialises its own calls.
  void StartFlushTimer(std::chrono::milliseconds interval);

  // The one log window, loaded hidden (caption set) when none is loaded. Its
  // Show and Text first give it the lines it has not had yet.
  platform::LogWindow& frmLog();
  bool LogWindowLoaded() const { return window_ != nullptr; }
  // Unloads the window; a later use loads a new one, its text back at the
  // first line. The log file is not affected.
  void UnloadLogWindow();

 private:
  class WindowView;

  void AddLine(const std::string& sText, bool bDateTime);
  void AppendDatePrefix();
  void OpenLogFile();
  // With mutex_ held.
  void WriteBuffer();
  void EndCutOffLine(std::string_view failedLines);
  void RaiseTimerError();
  void DeferWindowLines();
  void GiveWindowItsLines();
  void ReadBackInto(uint64_t from, uint64_t to);
  void GiveWindowLines(std::string_view bytes);
  void CountDeferredLines(std::string_view sText, bool bDateTime);
  // The timer.
  void StopFlushTimer();
  void RunFlushTimer(std::chrono::milliseconds interval);

  platform::FileSystem& files_;
  const platform::Clock& clock_;
  platform::UserInterface& ui_;
  std::string log_file_path_;
  std::unique_ptr<platform::LogWindow> window_;
  std::unique_ptr<WindowView> window_view_;

  // The file and the buffer, shared with the flush timer.
  std::mutex mutex_;
  std::unique_ptr<platform::AppendFile> log_file_;
  uint64_t written_end_ = 0;  // the file's size after the last write that went through
  std::string buffer_;
  std::string date_prefix_;  // of the time below; empty until the first line
  platform::LocalTime date_prefix_time_;
  std::optional<Error> timer_error_;  // a failed write of the timer, not yet raised
  std::optional<Error> file_failure_;

  // The window's lines not given to it yet: those in the file from
  // deferred_from_ on, up to read_back_end_ once a write has failed; then,
  // from memory, those of the failed write and every line after it.
  bool deferring_ = false;
  uint64_t deferred_from_ = 0;
  uint64_t read_back_end_ = 0;
  std::string failed_lines_;
  // File lines (counted from deferred_from_) that start like a date but have
  // none to take off: an undated text, or a text's part after a line break.
  uint64_t deferred_lines_ = 0;
  std::vector<uint64_t> undated_lines_;
  uint64_t given_lines_ = 0;  // while the window is given its lines
  size_t next_undated_ = 0;

  std::condition_variable stop_timer_;
  bool timer_stopping_ = false;
  std::thread timer_;
};

}  // namespace tabsync::log

#endif  // TABSYNC_LOG_RUN_LOG_H_
