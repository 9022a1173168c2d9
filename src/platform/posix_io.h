#ifndef TABSYNC_PLATFORM_POSIX_IO_H_
#define TABSYNC_PLATFORM_POSIX_IO_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Small POSIX helpers shared by the real platform implementations. They report
// errno values and raise nothing; each caller maps them to its own result.
namespace tabsync::platform::posix {

// Owns a file descriptor and closes it when it goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }

  // Closes now: 0, or the errno of close(), which on network file systems
  // reports a write that failed late.
  int Close();

 private:
  int fd_;
};

// Writes all of `bytes`, going on after interruptions: 0 or the errno of the
// failed write.
int WriteAll(int fd, std::string_view bytes);

// Appends the rest of the file to *text: 0 or the errno of the failed read
// (EISDIR for a folder).
int ReadAll(int fd, std::string* text);

// Replaces *out with up to `count` bytes from `offset`, going on after
// interruptions; fewer at the end of the file. 0 or the errno of the failed
// read.
int ReadAt(int fd, uint64_t offset, size_t count, std::string* out);

// Opens `path` for reading when it is a regular file (or a symbolic link to
// one). A FIFO is opened without waiting for a writer and then refused, like
// a device, a socket or a folder, so that no caller hangs on a FIFO or reads
// a device without end. The descriptor, or -1 with errno set: EISDIR for a
// folder, EINVAL for a file of another kind.
int OpenRegularFile(const std::string& path);

// Like ReadAll, but stops with EFBIG (and *text holding part of the file) as
// soon as the file has more than `limit` bytes.
int ReadAllUpTo(int fd, size_t limit, std::string* text);

}  // namespace tabsync::platform::posix

#endif  // TABSYNC_PLATFORM_POSIX_IO_H_
