#ifndef TABSYNC_LOG_RUN_LOG_H_
#define TABSYNC_LOG_RUN_LOG_H_

#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/log_window.h"
#include "platform/user_interface.h"

namespace tabsync::log {

// The run log: every line goes to the log window frmLog and to the log file
// named by LogFilePath (format: docs/run-log.md). The log never chooses where
// its file lies and never deletes it; the starter of a run does both.
//
// The file stays open between lines, but each line reaches the file with one
// write before WriteLog returns, so the file is complete after every line.
class RunLog {
 public:
  // The platform objects must outlive the log.
  RunLog(platform::FileSystem& files, const platform::Clock& clock, platform::UserInterface& ui);
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // The full path of the log file; empty until set. Setting it lets go of
  // the file held open, so the next line opens the file named now.
  const std::string& LogFilePath() const { return log_file_path_; }
  void SetLogFilePath(const std::string& path);

  // Appends one line to the window (loading it hidden when none is loaded)
  // and to the log file, then lets the window handle pending events. With
  // bDateTime the line starts with the local date and time. Raises the file
  // errors of FileSystem::OpenForAppend and AppendFile::Append when the file
  // cannot be opened or written (e.g. 75 while LogFilePath is empty); the
  // line is then in the window only.
  void WriteLog(const std::string& sText, bool bDateTime);

  // The one log window, loaded hidden (caption set) when none is loaded.
  platform::LogWindow& frmLog();
  bool LogWindowLoaded() const { return window_ != nullptr; }
  // Unloads the window; a later use loads a new one, its text back at the
  // first line. The log file is not affected.
  void UnloadLogWindow() { window_.reset(); }

 private:
  void AddLine(const std::string& sText, bool bDateTime);
  platform::AppendFile& LogFile();

  platform::FileSystem& files_;
  const platform::Clock& clock_;
  platform::UserInterface& ui_;
  std::string log_file_path_;
  std::unique_ptr<platform::AppendFile> log_file_;
  std::unique_ptr<platform::LogWindow> window_;
};

}  // namespace tabsync::log

#endif  // TABSYNC_LOG_RUN_LOG_H_
