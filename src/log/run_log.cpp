#include "log/run_log.h"

#include "log/log_line.h"

namespace tabsync::log {

RunLog::RunLog(platform::FileSystem& files, const platform::Clock& clock,
               platform::UserInterface& ui)
    : files_(files), clock_(clock), ui_(ui) {
  buffer_.reserve(kBufferBytes);
}

RunLog::~RunLog() {
  StopFlushTimer();
  try {
    Flush();
  } catch (const Error&) {
    // The run has ended; the lines were in the window.
  }
}

void RunLog::SetLogFilePath(const std::string& path) {
  Flush();
  log_file_path_ = path;
  // Also when the path is the same: the starter deletes an old log file after
  // setting the path, and a descriptor kept open would write into that
  // deleted file.
  std::lock_guard<std::mutex> lock(mutex_);
  log_file_.reset();
}

void RunLog::WriteLog(const std::string& sText, bool bDateTime) {
  frmLog();
  AddLine(sText, bDateTime);
}

void RunLog::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  RaiseTimerError();
  WriteBuffer();
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
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Opened at once, so that a log that cannot be written at all fails at
    // its first line, as an unbuffered one would.
    OpenLogFile();
    RaiseTimerError();
    if (bDateTime) {
      AppendDatePrefix();
      buffer_.append(sText).append("\r\n");
    } else {
      AppendLogLine(&buffer_, sText, false, platform::LocalTime());
    }
    if (buffer_.size() >= kBufferBytes) WriteBuffer();
  }
  window_->ProcessPendingEvents();
}

// A run writes many lines a second; the prefix is formatted once a second.
void RunLog::AppendDatePrefix() {
  platform::LocalTime now = clock_.Now();
  if (date_prefix_.empty() || !(now == date_prefix_time_)) {
    date_prefix_ = FormatLogLine("", true, now);
    date_prefix_.resize(date_prefix_.size() - 2);  // without the line end
    date_prefix_time_ = now;
  }
  buffer_.append(date_prefix_);
}

void RunLog::OpenLogFile() {
  if (!log_file_) log_file_ = files_.OpenForAppend(log_file_path_);
}

// The buffer is emptied even when the write fails: part of it may be in the
// file already, and writing it again would double those lines.
void RunLog::WriteBuffer() {
  if (buffer_.empty()) return;
  std::string lines;
  lines.swap(buffer_);
  buffer_.reserve(kBufferBytes);
  OpenLogFile();
  log_file_->Append(lines);
}

void RunLog::RaiseTimerError() {
  if (!timer_error_) return;
  Error error = *timer_error_;
  timer_error_.reset();
  throw error;
}

void RunLog::StartFlushTimer(std::chrono::milliseconds interval) {
  StopFlushTimer();
  timer_stopping_ = false;
  timer_ = std::thread([this, interval] { RunFlushTimer(interval); });
}

void RunLog::StopFlushTimer() {
  if (!timer_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    timer_stopping_ = true;
  }
  stop_timer_.notify_one();
  timer_.join();
}

void RunLog::RunFlushTimer(std::chrono::milliseconds interval) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_timer_.wait_for(lock, interval, [this] { return timer_stopping_; })) {
    // The first failure waits for the run's thread; later lines wait with it.
    if (timer_error_ || buffer_.empty() || !log_file_) continue;
    try {
      WriteBuffer();
    } catch (const Error& error) {
      timer_error_ = error;
    }
  }
}

}  // namespace tabsync::log
