#ifndef TABSYNC_BENCH_BUFFERED_LOG_H_
#define TABSYNC_BENCH_BUFFERED_LOG_H_

// The log baseline of the benchmarks: the run log's lines written through
// one buffered stream, and the texts of a log file read back to write them
// again and to compare two logs apart from their dates.

#include <stdio.h>
#include <time.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tabsync::bench {

// A log line's date prefix: "MM-DD-YYYY HH:MM:SS " (docs/run-log.md).
constexpr size_t kDatePrefixSize = 20;

// Lines in the run log's file format, date prefix and CR LF included, through
// one stdio stream with a 1 MiB buffer: what a log that buffers its lines
// costs at least. Like the run log's clock, it converts the date once a
// second. Appends to the file, as the run log does.
class BufferedLogStream {
 public:
  explicit BufferedLogStream(const std::string& path)
      : file_(fopen(path.c_str(), "ae")), buffer_(1 << 20) {
    if (file_ == nullptr) throw std::runtime_error("cannot open " + path);
    setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
  }
  ~BufferedLogStream() {
    if (file_ != nullptr) fclose(file_);  // only after a failure, already raised
  }
  BufferedLogStream(const BufferedLogStream&) = delete;
  BufferedLogStream& operator=(const BufferedLogStream&) = delete;

  void Write(std::string_view text) {
    time_t now = time(nullptr);
    if (now != second_) Stamp(now);
    fwrite_unlocked(prefix_, 1, kDatePrefixSize, file_);
    fwrite_unlocked(text.data(), 1, text.size(), file_);
    fwrite_unlocked("\r\n", 1, 2, file_);
  }

  // Writes what the buffer still holds and closes the file; throws when a
  // write failed.
  void Close() {
    bool failed = ferror(file_) != 0;
    failed |= fclose(file_) != 0;
    file_ = nullptr;
    if (failed) throw std::runtime_error("writing the buffered log failed");
  }

 private:
  void Stamp(time_t now) {
    struct tm local {};
    localtime_r(&now, &local);
    char text[32];
    if (strftime(text, sizeof text, "%m-%d-%Y %H:%M:%S ", &local) != kDatePrefixSize)
      throw std::runtime_error("the date does not fit the log's prefix");
    std::memcpy(prefix_, text, kDatePrefixSize);
    second_ = now;
  }

  FILE* file_;
  std::vector<char> buffer_;
  time_t second_ = -1;
  char prefix_[kDatePrefixSize] = {};
};

// The texts of a log file's lines, each without its date prefix and its
// CR LF, in order. Throws when a line lacks either: a log of dated lines is
// expected.
inline std::vector<std::string> ReadLogTexts(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> texts;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos || end - start < kDatePrefixSize || bytes[start + 2] != '-' ||
        bytes[start + kDatePrefixSize - 1] != ' ')
      throw std::runtime_error(path + ": a line without its date or its CR LF");
    texts.emplace_back(bytes, start + kDatePrefixSize, end - start - kDatePrefixSize);
    start = end + 2;
  }
  return texts;
}

}  // namespace tabsync::bench

#endif  // TABSYNC_BENCH_BUFFERED_LOG_H_
