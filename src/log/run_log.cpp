#include "log/run_log.h"

#include <algorithm>

#include "log/log_line.h"

namespace tabsync::log {
namespace {

// How much of the file is read back at a time for the window.
constexpr size_t kReadPiece = 1024 * 1024;

constexpr size_t kDatePrefixSize = 20;  // "MM-DD-YYYY HH:MM:SS "

bool StartsWithDatePrefix(std::string_view line) {
  static constexpr char kShape[] = "00-00-0000 00:00:00 ";
  if (line.size() < kDatePrefixSize) return false;
  for (size_t i = 0; i < kDatePrefixSize; ++i) {
    bool fits = kShape[i] == '0' ? line[i] >= '0' && line[i] <= '9' : line[i] == kShape[i];
    if (!fits) return false;
  }
  return true;
}

}  // namespace

// frmLog as callers see it: the loaded window, which gets the lines it has
// not had yet before it shows or gives its text.
class RunLog::WindowView : public platform::LogWindow {
 public:
  explicit WindowView(RunLog& log) : log_(log) {}

  void MakeEmpty() override { Window().MakeEmpty(); }
  void AddLine(std::string_view line) override {
    CatchUp();
    Window().AddLine(line);
  }
  void ProcessPendingEvents() override { Window().ProcessPendingEvents(); }
  std::string Caption() const override { return Window().Caption(); }
  std::string Text() const override {
    CatchUp();
    return Window().Text();
  }
  void Show() override {
    CatchUp();
    Window().Show();
  }
  bool Visible() const override { return Window().Visible(); }
  void WaitForEvent() override { Window().WaitForEvent(); }

 private:
  platform::LogWindow& Window() const { return *log_.window_; }
  void CatchUp() const {
    std::lock_guard<std::mutex> lock(log_.mutex_);
    log_.GiveWindowItsLines();
  }

  RunLog& log_;
};

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
  std::lock_guard<std::mutex> lock(mutex_);
  // The window's lines so far are read back from the file named so far.
  GiveWindowItsLines();
  RaiseTimerError();
  WriteBuffer();
  log_file_path_ = path;
  file_failure_.reset();
  // Also when the path is the same: the starter deletes an old log file after
  // setting the path, and a descriptor kept open would write into that
  // deleted file.
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

std::optional<Error> RunLog::FileFailure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return file_failure_;
}

platform::LogWindow& RunLog::frmLog() {
  if (!window_) {
    window_ = ui_.LoadLogWindow();
    window_->MakeEmpty();
    window_view_ = std::make_unique<WindowView>(*this);
  }
  return *window_view_;
}

void RunLog::UnloadLogWindow() {
  std::lock_guard<std::mutex> lock(mutex_);
  deferring_ = false;
  failed_lines_.clear();
  window_view_.reset();
  window_.reset();
}

void RunLog::AddLine(const std::string& sText, bool bDateTime) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
      // Opened at once, so that a log that cannot be written at all fails at
      // its first line, as an unbuffered one would.
      OpenLogFile();
      RaiseTimerError();
    } catch (const Error&) {
      GiveWindowItsLines();
      window_->AddLine(sText);
      throw;
    }
    DeferWindowLines();
    size_t line_start = buffer_.size();
    if (bDateTime) AppendDatePrefix();
    buffer_.append(sText).append("\r\n");
    if (!deferring_) {
      window_->AddLine(sText);
    } else {
      CountDeferredLines(sText, bDateTime);
      // After a failed write the window takes its lines from memory.
      if (!failed_lines_.empty()) failed_lines_.append(buffer_, line_start);
    }
    if (buffer_.size() >= kBufferBytes) {
      try {
        WriteBuffer();
      } catch (const Error&) {
        GiveWindowItsLines();
        throw;
      }
    }
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
  if (log_file_) return;
  std::unique_ptr<platform::AppendFile> file;
  try {
    file = files_.OpenForAppend(log_file_path_);
  } catch (const Error& error) {
    if (!file_failure_) file_failure_ = error;
    throw;
  }
  written_end_ = file->Size();
  log_file_ = std::move(file);
}

// The buffer is emptied even when the write fails: part of it may be in the
// file already, and writing it again would double those lines. The window
// reads back only up to the last write that went through, and gets the
// failed lines from memory.
void RunLog::WriteBuffer() {
  if (buffer_.empty()) return;
  std::string lines;
  lines.swap(buffer_);
  buffer_.reserve(kBufferBytes);
  OpenLogFile();
  try {
    log_file_->Append(lines);
  } catch (const Error& error) {
    // The first failure keeps the window's part of the lines (from
    // deferred_from_ on); the lines after it are kept as they come.
    uint64_t skip = deferred_from_ > written_end_ ? deferred_from_ - written_end_ : 0;
    if (deferring_ && failed_lines_.empty() && skip < lines.size()) {
      read_back_end_ = written_end_;
      failed_lines_.append(lines, skip);
    }
    if (!file_failure_) file_failure_ = error;
    EndCutOffLine(lines);
    throw;
  }
  written_end_ += lines.size();
}

// A write that fails half-way (a full disk) may leave the file ending inside
// a line; the next line would then continue it. The buffer starts with the
// missing line end, so the next write that goes through ends the cut-off
// line first.
void RunLog::EndCutOffLine(std::string_view failedLines) {
  uint64_t size = 0;
  try {
    size = log_file_->Size();
  } catch (const Error&) {
    return;  // where the file ends is unknown; nothing to end
  }
  if (size <= written_end_ || size - written_end_ >= failedLines.size()) return;
  size_t landed = static_cast<size_t>(size - written_end_);
  written_end_ = size;
  if (failedLines[landed - 1] == '\n') return;
  buffer_.insert(0, failedLines[landed - 1] == '\r' ? "\n" : "\r\n");
}

void RunLog::RaiseTimerError() {
  if (!timer_error_) return;
  Error error = *timer_error_;
  timer_error_.reset();
  throw error;
}

// From this line on, the window's lines wait in the file. The file's size is
// taken afresh, as a failed write may have left part of its bytes there.
void RunLog::DeferWindowLines() {
  if (deferring_ || !log_file_->Readable()) return;
  written_end_ = log_file_->Size();
  deferred_from_ = written_end_ + buffer_.size();
  deferred_lines_ = 0;
  undated_lines_.clear();
  deferring_ = true;
}

// Counts the file lines of a text and notes those the read-back must not
// take a date off. Most texts have one line and a date: one test each.
void RunLog::CountDeferredLines(std::string_view sText, bool bDateTime) {
  bool first = true;
  for (;;) {
    size_t end = sText.find("\r\n");
    std::string_view line = sText.substr(0, end);
    if ((!first || !bDateTime) && StartsWithDatePrefix(line))
      undated_lines_.push_back(deferred_lines_);
    ++deferred_lines_;
    if (end == std::string_view::npos) return;
    sText.remove_prefix(end + 2);
    first = false;
  }
}

// Never raises: a failed write is raised by the next line or Flush, as the
// timer's is, and a file that cannot be read back is said in the window.
// After a failed write, the file is read back only up to it (its bytes may be
// there in part); the failed lines and those buffered since come from memory.
void RunLog::GiveWindowItsLines() {
  if (!deferring_) return;
  if (failed_lines_.empty()) {
    try {
      WriteBuffer();
    } catch (const Error& error) {
      if (!timer_error_) timer_error_ = error;
    }
  }
  deferring_ = false;
  given_lines_ = 0;
  next_undated_ = 0;
  try {
    ReadBackInto(deferred_from_, failed_lines_.empty() ? written_end_ : read_back_end_);
  } catch (const Error& error) {
    window_->AddLine("(lines of the log file could not be read back: " + error.Description() +
                     ")");
  }
  GiveWindowLines(failed_lines_);
  failed_lines_.clear();
}

void RunLog::ReadBackInto(uint64_t from, uint64_t to) {
  std::string piece;
  std::string carried;  // the start of a line the last piece cut off
  for (uint64_t at = from; at < to;) {
    log_file_->ReadAt(at, static_cast<size_t>(std::min<uint64_t>(kReadPiece, to - at)), &piece);
    if (piece.empty()) break;  // the file was cut shorter since
    at += piece.size();
    carried += piece;
    size_t end = carried.rfind("\r\n");
    if (end == std::string::npos) continue;
    GiveWindowLines(std::string_view(carried).substr(0, end + 2));
    carried.erase(0, end + 2);
  }
  GiveWindowLines(carried);
}

// The window shows a line without its date and time. A text that holds a
// line break spans file lines; its parts go to the window one by one, which
// joins them with the same line break.
void RunLog::GiveWindowLines(std::string_view bytes) {
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    bool undated =
        next_undated_ < undated_lines_.size() && undated_lines_[next_undated_] == given_lines_;
    if (undated) {
      ++next_undated_;
    } else if (StartsWithDatePrefix(line)) {
      line.remove_prefix(kDatePrefixSize);
    }
    window_->AddLine(line);
    ++given_lines_;
    start = end + 2;
  }
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
