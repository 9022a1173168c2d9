#include "platform/log_window.h"

#include <fcntl.h>
#include <stdlib.h>

#include <algorithm>

#include "platform/posix_io.h"

namespace tabsync::platform {
namespace {

// Text gathers in memory up to this size before it goes to the spool, so a
// line costs no system call of its own.
constexpr std::size_t kSpoolPiece = 256 * 1024;
constexpr std::size_t kReadPiece = 1024 * 1024;

// An unnamed file in $TMPDIR (else /tmp), gone with its descriptor: -1 when
// none can be made.
int OpenUnnamedTemporaryFile() {
  const char* folder = getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  return open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

}  // namespace

// The part of the text already written out: a temporary file and its size.
class LogText::Spool {
 public:
  explicit Spool(int fd) : file_(fd) {}

  bool Append(std::string_view bytes) {
    if (posix::WriteAll(file_.get(), bytes) != 0) return false;
    size_ += bytes.size();
    return true;
  }

  // Reads [offset, offset + count) into *out; false when the file fails.
  bool Read(std::size_t offset, std::size_t count, std::string* out) const {
    return posix::ReadAt(file_.get(), offset, count, out) == 0 && out->size() == count;
  }

  std::size_t Size() const { return size_; }

 private:
  posix::FileDescriptor file_;
  std::size_t size_ = 0;
};

LogText::LogText(std::size_t memoryLimit)
    : pending_(kLogWindowFirstLine), memory_limit_(memoryLimit) {
  int fd = OpenUnnamedTemporaryFile();
  if (fd >= 0) spool_ = std::make_unique<Spool>(fd);
}

LogText::~LogText() = default;

void LogText::Add(std::string_view line) {
  pending_ += "\r\n";
  pending_.append(line);
  if (pending_.size() >= kSpoolPiece) WriteOut();
  if (pending_.size() > memory_limit_) LeaveOutOldestLines();
}

// Keeps the newer half of what memory holds, cut at a line start. Without a
// spooled part, memory holds the first line too, which stays: the text must
// start with it, and the lines left out are counted after it.
void LogText::LeaveOutOldestLines() {
  bool nothing_spooled = spool_ == nullptr || spool_->Size() == 0;
  std::size_t start = nothing_spooled ? pending_.find("\r\n") : 0;
  if (start == std::string::npos) return;
  std::size_t cut = pending_.find("\r\n", std::max(pending_.size() - memory_limit_ / 2, start + 1));
  if (cut == std::string::npos) return;
  // Every line held in memory starts with its carriage return + line feed.
  std::string_view dropped(pending_.data() + start, cut - start);
  for (std::size_t at = 0; (at = dropped.find("\r\n", at)) != std::string_view::npos; at += 2)
    ++left_out_;
  left_out_at_ = start;
  pending_.erase(start, cut - start);
}

// A spool that fails keeps what it holds readable (those bytes were written);
// only later text stays in memory. A write that failed half-way leaves bytes
// past the recorded size, which are never read.
void LogText::WriteOut() {
  if (spool_ == nullptr || spool_failed_) return;
  if (!spool_->Append(pending_)) {
    spool_failed_ = true;
    return;
  }
  pending_.clear();
}

std::string LogText::Text() const {
  std::string text;
  ForEachPiece([&text](std::string_view piece) { text.append(piece); });
  return text;
}

void LogText::ForEachPiece(const std::function<void(std::string_view)>& piece) const {
  std::string carried;  // the start of a line the last read cut off
  std::size_t spooled = spool_ != nullptr ? spool_->Size() : 0;
  for (std::size_t offset = 0; offset < spooled; offset += kReadPiece) {
    std::string chunk;
    if (!spool_->Read(offset, std::min(kReadPiece, spooled - offset), &chunk)) break;
    carried += chunk;
    std::size_t line_end = carried.rfind('\n');
    if (line_end == std::string::npos) continue;
    piece(std::string_view(carried).substr(0, line_end + 1));
    carried.erase(0, line_end + 1);
  }
  if (left_out_ == 0) {
    carried += pending_;
  } else {
    carried.append(pending_, 0, left_out_at_);
    carried += "\r\n(" + std::to_string(left_out_) +
               " lines left out here: no room to keep them; the log file has every line)";
    carried.append(pending_, left_out_at_);
  }
  piece(carried);
}

}  // namespace tabsync::platform
