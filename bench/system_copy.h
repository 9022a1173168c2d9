#ifndef TABSYNC_BENCH_SYSTEM_COPY_H_
#define TABSYNC_BENCH_SYSTEM_COPY_H_

// The system's copy of a file, the floor the program's copies are measured
// against: what `cp -a` makes of the file's content and mode, through the
// kernel's in-file copy (copy_file_range), then flushed with fsync, as any
// copy must be that is to survive a crash.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tabsync::bench {

[[noreturn]] inline void ThrowErrno(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// A descriptor closed when it goes; Close reports a failed close.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);  // only after a failure, already raised
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  void Close(const std::string& what) {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) ThrowErrno("close " + what);
  }

 private:
  int fd_;
};

// Copies `from` to `to` (created or truncated) with its mode, whatever the
// umask, and fsyncs the copy. Throws std::runtime_error on failure.
inline void SystemCopy(const std::string& from, const std::string& to) {
  Descriptor input(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (input.get() < 0) ThrowErrno("open " + from);
  struct stat info {};
  if (::fstat(input.get(), &info) != 0) ThrowErrno("stat " + from);
  Descriptor output(
      ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 07777));
  if (output.get() < 0) ThrowErrno("open " + to);
  if (::fchmod(output.get(), info.st_mode & 07777) != 0) ThrowErrno("chmod " + to);
  for (;;) {
    ssize_t copied = ::copy_file_range(input.get(), nullptr, output.get(), nullptr, 1 << 30, 0);
    if (copied == 0) break;
    if (copied < 0 && errno != EINTR) ThrowErrno("copy " + from);
  }
  if (::fsync(output.get()) != 0) ThrowErrno("fsync " + to);
  output.Close(to);
}

}  // namespace tabsync::bench

#endif  // TABSYNC_BENCH_SYSTEM_COPY_H_
