#include "platform/posix_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tabsync::platform::posix {

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);  // an error is reported by Close(), where it matters
}

int FileDescriptor::Close() {
  int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? 0 : errno;
}

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return 0;
}

int ReadAll(int fd, std::string* text) {
  char chunk[64 * 1024];
  while (true) {
    ssize_t count = ::read(fd, chunk, sizeof chunk);
    if (count == 0) return 0;
    if (count > 0) {
      text->append(chunk, static_cast<size_t>(count));
    } else if (errno != EINTR) {
      return errno;
    }
  }
}

int ReadAt(int fd, uint64_t offset, size_t count, std::string* out) {
  out->resize(count);
  size_t done = 0;
  while (done < count) {
    ssize_t got = ::pread(fd, out->data() + done, count - done, static_cast<off_t>(offset + done));
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    done += static_cast<size_t>(got);
  }
  out->resize(done);
  return 0;
}

int OpenRegularFile(const std::string& path) {
  // O_NONBLOCK keeps the open of a FIFO from waiting; it changes nothing for
  // reading a regular file.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info;
  if (::fstat(fd, &info) != 0) info.st_mode = 0;
  if (S_ISREG(info.st_mode)) return fd;
  int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
  ::close(fd);
  errno = error;
  return -1;
}

int ReadAllUpTo(int fd, size_t limit, std::string* text) {
  char chunk[64 * 1024];
  while (true) {
    ssize_t count = ::read(fd, chunk, sizeof chunk);
    if (count == 0) return 0;
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (text->size() > limit || static_cast<size_t>(count) > limit - text->size()) return EFBIG;
    text->append(chunk, static_cast<size_t>(count));
  }
}

}  // namespace tabsync::platform::posix
