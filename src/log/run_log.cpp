#include "log/run_log.h"

#include "log/log_line.h"

namespace tabsync::log {

RunLog::RunLog(platform::FileSystem& files, const platform::Clock& clock,
               platform::UserInterface& ui)
    : files_(files), clock_(clock), ui_(ui) {}

void RunLog::SetLogFilePath(const std::string& path) {
  log_file_path_ = path;
  // Also when the path is the same: the starter deletes an old log file after
  // setting the path, and a descriptor kept open would write into that
  // deleted file.
  log_file_.reset();
}

void RunLog::WriteLog(const std::string& sText, bool bDateTime) {
  frmLog();
  AddLine(sText, bDateTime);
}

platform::LogWindow& RunLog::frmLog() {
  if (!window_) {
    window_ = ui_.LoadLogWindow();
    window_->MakeEmpty();
  }
  return *window_;
}

void RunLog::AddLine(const std::string& sText, bool bDateTime) {
  window_->AddLine(sText);
  LogFile().Append(FormatLogLine(sText, bDateTime, clock_.Now()));
  window_->ProcessPendingEvents();
}

platform::AppendFile& RunLog::LogFile() {
  if (!log_file_) log_file_ = files_.OpenForAppend(log_file_path_);
  return *log_file_;
}

}  // namespace tabsync::log
