#include "platform/progress_display.h"

#include <chrono>

#include "platform/posix_io.h"

namespace tabsync::platform {
namespace {

class NoProgress : public ProgressDisplay {
 public:
  void StartDatabase(int, int, const std::string&) override {}
  void MergedRecords(const std::string&, long long) override {}
  void Finish() override {}
};

class TerminalProgress : public ProgressDisplay {
 public:
  explicit TerminalProgress(int fd) : fd_(fd) {}

  void StartDatabase(int number, int count, const std::string& name) override {
    database_ = "tabsync: " + name + " (" + std::to_string(number) + "/" + std::to_string(count) + ")";
    Draw(database_);
  }

  void MergedRecords(const std::string& table, long long records) override {
    auto now = std::chrono::steady_clock::now();
    if (now - last_draw_ < std::chrono::milliseconds(100)) return;
    Draw(database_ + ": " + table + ", " + std::to_string(records) + " records");
  }

  void Finish() override {
    if (shown_) Write("\r\033[K");
    shown_ = false;
  }

 private:
  // Carriage return, the text, and "erase to the end of the line", so that a
  // shorter text leaves nothing of the longer one before it.
  void Draw(const std::string& text) {
    last_draw_ = std::chrono::steady_clock::now();
    Write("\r" + text + "\033[K");
    shown_ = true;
  }

  // A terminal that cannot be written to only loses the progress.
  void Write(const std::string& bytes) { posix::WriteAll(fd_, bytes); }

  int fd_;
  std::string database_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace

std::unique_ptr<ProgressDisplay> NewNoProgress() { return std::make_unique<NoProgress>(); }

std::unique_ptr<ProgressDisplay> NewTerminalProgress(int fd) {
  return std::make_unique<TerminalProgress>(fd);
}

}  // namespace tabsync::platform
