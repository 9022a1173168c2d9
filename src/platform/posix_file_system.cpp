#include "platform/posix_file_system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/posix_io.h"

namespace tabsync::platform {

namespace {

using namespace file_errors;

// `missing` is what ENOENT means to the caller: the file it names (53) or a
// folder on the way to it (76). ENOTDIR is the same case: a folder on the way
// is a file, so that folder does not exist.
int ErrorNumberOf(int error, int missing) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return missing;
    case EEXIST:
      return kFileAlreadyExists;
    case ENOSPC:
    case EDQUOT:
      return kDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return kPermissionDenied;
    default:
      return kPathFileAccess;
  }
}

[[noreturn]] void Raise(int number) { throw FileError(number); }

// Takes errno as an argument so that clean-up calls made before the raise
// cannot change it.
[[noreturn]] void RaiseErrno(int error, int missing) { Raise(ErrorNumberOf(error, missing)); }

// A write fails only for lack of space or for an I/O fault, never for a name.
[[noreturn]] void RaiseWriteErrno(int error) {
  Raise(error == ENOSPC || error == EDQUOT ? kDiskFull : kPathFileAccess);
}

bool Stat(const std::string& path, struct stat* info) {
  return ::stat(path.c_str(), info) == 0;
}

bool Lstat(const std::string& path, struct stat* info) {
  return ::lstat(path.c_str(), info) == 0;
}

bool IsFile(const struct stat& info) { return !S_ISDIR(info.st_mode); }

bool IsReadOnly(const struct stat& info) { return (info.st_mode & 0222) == 0; }

bool IsFolder(const std::string& path) {
  struct stat info;
  return Stat(path, &info) && S_ISDIR(info.st_mode);
}

// The folder a file of `path` lies in, as a name that open() accepts.
std::string FolderOf(const std::string& path) {
  std::string folder = GetParentFolderName(path);
  return folder.empty() ? "." : folder;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

using posix::FileDescriptor;

void WriteAll(int fd, std::string_view bytes) {
  if (int error = posix::WriteAll(fd, bytes)) RaiseWriteErrno(error);
}

// Reads at most `size` bytes; 0 at the end of the file.
size_t ReadSome(int fd, char* buffer, size_t size) {
  for (;;) {
    ssize_t count = ::read(fd, buffer, size);
    if (count >= 0) return static_cast<size_t>(count);
    if (errno != EINTR) Raise(kPathFileAccess);
  }
}

// Reads and writes through a buffer from both files' offsets to the end.
void CopyThroughBuffer(int from, int to) {
  std::vector<char> buffer(1024 * 1024);
  while (size_t count = ReadSome(from, buffer.data(), buffer.size())) {
    WriteAll(to, std::string_view(buffer.data(), count));
  }
}

// Errors of copy_file_range that say only that this pair of files cannot be
// copied by the kernel (another file system before Linux 5.3, a file system
// without support, an old kernel): the copy goes on through a buffer.
bool KernelCannotCopy(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Copies up to `size` bytes with the kernel's in-file copy, so that the bytes
// do not pass through this process (and file systems that can share or copy
// on the server do so). Stops early where the kernel cannot copy, or sees an
// end before `size` (files such as those in /proc report a size of 0 or copy
// as empty). Both files' offsets advance by what was copied.
void CopyInKernel(int from, int to, off_t size) {
  off_t copied = 0;
  while (copied < size) {
    ssize_t count = ::copy_file_range(from, nullptr, to, nullptr,
                                      static_cast<size_t>(size - copied), 0);
    if (count > 0) {
      copied += count;
    } else if (count == 0 || KernelCannotCopy(errno)) {
      return;
    } else if (errno != EINTR) {
      RaiseWriteErrno(errno);
    }
  }
}

// The kernel copies what the source's size says; the buffer copies the rest,
// which is nothing unless the kernel could not copy or the file grew.
void CopyBytes(int from, int to, off_t size) {
  CopyInKernel(from, to, size);
  CopyThroughBuffer(from, to);
}

// Without this a crash right after the rename could lose the rename itself,
// leaving the old destination or no file at all.
void SyncFolder(const std::string& folder) {
  FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) RaiseErrno(errno, kPathNotFound);
  // File systems that cannot sync a folder say EINVAL; the rename is then as
  // durable as they make it, and the copy itself is complete.
  if (::fsync(fd.get()) != 0 && errno != EINVAL) RaiseWriteErrno(errno);
}

// A new file beside `destination`, removed again unless MoveOnto() renamed it
// there. Being in the same folder makes the rename atomic.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& destination)
      : path_(TemplateFor(destination)), file_(::mkostemp(path_.data(), O_CLOEXEC)) {
    if (file_.get() < 0) RaiseErrno(errno, kPathNotFound);
  }
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());  // best effort: the failure is already raised
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return file_.get(); }

  // Flushes the content to disk and renames the file over `destination`.
  void MoveOnto(const std::string& destination) {
    if (::fsync(fd()) != 0) RaiseWriteErrno(errno);
    if (int error = file_.Close()) RaiseWriteErrno(error);
    if (::rename(path_.c_str(), destination.c_str()) != 0) RaiseErrno(errno, kPathNotFound);
    path_.clear();
  }

 private:
  static std::string TemplateFor(const std::string& destination) {
    std::string name = BaseName(destination);
    std::string folder = destination.substr(0, destination.size() - name.size());
    return folder + "." + name + ".tmp-XXXXXX";
  }

  std::string path_;
  FileDescriptor file_;
};

class PosixFileLock : public FileLock {
 public:
  PosixFileLock(int fd, std::string path) : file_(fd), path_(std::move(path)) {}
  ~PosixFileLock() override;

  void RecordHolder(const std::string& started) override;

 private:
  FileDescriptor file_;  // closing it drops the lock
  std::string path_;
  bool recorded_ = false;
};

// The lock is taken through a read-only opening (flock needs no more, and so
// works on a file this user may not write), so the record gets its own.
void PosixFileLock::RecordHolder(const std::string& started) {
  int fd = ::open(path_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) RaiseErrno(errno, kFileNotFound);
  FileDescriptor file(fd);
  recorded_ = true;
  if (::ftruncate(fd, 0) != 0) RaiseWriteErrno(errno);
  WriteAll(fd, LockHolderText(::getpid(), started));
}

// Emptied while the lock is still held, so that no later holder's record is
// lost; a file that cannot be emptied only names a holder that is gone.
PosixFileLock::~PosixFileLock() {
  if (!recorded_) return;
  int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) ::close(fd);
}

// An entry that is there but cannot be examined: a folder on the way that
// may not be searched, a link to nowhere or in a loop.
[[noreturn]] void RaiseUnexaminable(int error) {
  Raise(error == EACCES || error == EPERM ? kPermissionDenied : kPathFileAccess);
}

class PosixAppendFile : public AppendFile {
 public:
  PosixAppendFile(int fd, bool readable) : file_(fd), readable_(readable) {}
  void Append(std::string_view bytes) override { WriteAll(file_.get(), bytes); }
  bool Readable() const override { return readable_; }

  uint64_t Size() const override {
    struct stat info;
    if (::fstat(file_.get(), &info) != 0) Raise(kPathFileAccess);
    return static_cast<uint64_t>(info.st_size);
  }

  void ReadAt(uint64_t offset, size_t count, std::string* out) const override {
    if (posix::ReadAt(file_.get(), offset, count, out) != 0) Raise(kPathFileAccess);
  }

 private:
  FileDescriptor file_;
  bool readable_;
};

class PosixFileSystem : public FileSystem {
 public:
  bool FileExists(const std::string& path) const override {
    struct stat info;
    return Stat(path, &info) && IsFile(info);
  }

  bool CheckedFileExists(const std::string& path) const override {
    struct stat info;
    if (!Lstat(path, &info)) {
      if (errno == ENOENT || errno == ENOTDIR) return false;
      RaiseUnexaminable(errno);
    }
    if (S_ISLNK(info.st_mode) && !Stat(path, &info)) RaiseUnexaminable(errno);
    return IsFile(info);
  }

  std::string ReadFile(const std::string& path) const override {
    ExistingFileInfo(path);
    FileDescriptor fd(posix::OpenRegularFile(path));
    if (fd.get() < 0) RaiseErrno(errno, kFileNotFound);
    std::string bytes;
    if (posix::ReadAll(fd.get(), &bytes) != 0) Raise(kPathFileAccess);
    return bytes;
  }

  bool GetFileInfo(const std::string& path, FileInfo* info) const override {
    struct stat status;
    if (!Stat(path, &status) || !IsFile(status)) return false;
    info->size = static_cast<long long>(status.st_size);
    struct tm local = {};
    localtime_r(&status.st_mtime, &local);
    info->modified = LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                               local.tm_hour,        local.tm_min,     local.tm_sec};
    return true;
  }

  bool IsSymbolicLink(const std::string& path) const override {
    struct stat info;
    return Lstat(path, &info) && S_ISLNK(info.st_mode);
  }

  bool IsRegularFile(const std::string& path) const override {
    struct stat info;
    return Stat(path, &info) && S_ISREG(info.st_mode);
  }

  std::string ResolvedPath(const std::string& path) const override {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
      if (errno == ENOENT || errno == ENOTDIR) Raise(kFileNotFound);
      RaiseUnexaminable(errno);
    }
    std::string result(resolved);
    ::free(resolved);
    return result;
  }

  bool FolderExists(const std::string& path) const override { return IsFolder(path); }

  bool SameFolder(const std::string& a, const std::string& b) const override {
    struct stat first, second;
    return Stat(a, &first) && S_ISDIR(first.st_mode) && Stat(b, &second) &&
           S_ISDIR(second.st_mode) && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
  }

  bool SameFile(const std::string& a, const std::string& b) const override {
    struct stat first, second;
    return Stat(a, &first) && IsFile(first) && Stat(b, &second) && IsFile(second) &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }

  std::string CreateTemporaryFolder() override {
    const char* base = getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/tabsync.XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) RaiseErrno(errno, kPathNotFound);
    return name + "/";
  }

  void CreateFolder(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) != 0) RaiseErrno(errno, kPathNotFound);
  }

  void CopyFile(const std::string& source, const std::string& destination,
                bool overwrite) override {
    ExistingFileInfo(source);
    CheckCopyDestination(destination, overwrite);
    WriteCopy(source, destination);
  }

  void RemoveCutOffCopies(const std::string& destination) override {
    std::string prefix = "." + BaseName(destination) + ".tmp-";
    std::string folder = FolderOf(destination);
    for (const std::string& name : ListFolder(folder)) {
      if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
      if (::unlink(BuildPath(folder, name).c_str()) != 0 && errno != ENOENT) {
        RaiseErrno(errno, kFileNotFound);
      }
    }
  }

  void ReplaceFile(const std::string& source, const std::string& destination) override {
    ExistingFileInfo(source);
    if (IsFolder(destination)) Raise(kPermissionDenied);
    if (::rename(source.c_str(), destination.c_str()) != 0) RaiseErrno(errno, kPathNotFound);
    SyncFolder(FolderOf(destination));
  }

  void CopyOwnerAndMode(const std::string& model, const std::string& path) override {
    struct stat from = ExistingFileInfo(model);
    struct stat to = ExistingFileInfo(path);
    // chown clears the set-user-ID and set-group-ID bits, so the mode comes
    // after it.
    if ((from.st_uid != to.st_uid || from.st_gid != to.st_gid) &&
        ::chown(path.c_str(), from.st_uid, from.st_gid) != 0) {
      RaiseErrno(errno, kFileNotFound);
    }
    if (::chmod(path.c_str(), from.st_mode & 07777) != 0) RaiseErrno(errno, kFileNotFound);
  }

  void MoveFile(const std::string& source, const std::string& destination) override {
    ExistingFileInfo(source);
    CheckNewDestination(destination);
    if (::rename(source.c_str(), destination.c_str()) == 0) return;
    if (errno != EXDEV) RaiseErrno(errno, kPathNotFound);
    MoveAcrossFileSystems(source, destination);
  }

  void DeleteFile(const std::string& path, bool force) override {
    // lstat: a link is removed itself, also one that leads nowhere.
    struct stat info;
    if (!Lstat(path, &info) || S_ISDIR(info.st_mode)) Raise(kFileNotFound);
    if (!S_ISLNK(info.st_mode) && IsReadOnly(info) && !force) Raise(kPermissionDenied);
    if (::unlink(path.c_str()) != 0) RaiseErrno(errno, kFileNotFound);
  }

  std::vector<std::string> ListFolder(const std::string& path) const override {
    DIR* folder = ::opendir(path.c_str());
    if (!folder) RaiseErrno(errno, kPathNotFound);
    std::vector<std::string> names;
    while (const struct dirent* entry = ::readdir(folder)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(folder);
    return names;
  }

  void DeleteFolder(const std::string& path) override {
    if (::rmdir(path.c_str()) == 0) return;
    int error = errno;
    if (error == ENOTEMPTY || error == EEXIST) Raise(kPathFileAccess);
    RaiseErrno(error, kPathNotFound);
  }

  bool GetDiskSpace(const std::string& path, DiskSpace* space) const override {
    struct statvfs room;
    struct stat info;
    if (::statvfs(path.c_str(), &room) != 0 || !Stat(path, &info) || !S_ISDIR(info.st_mode))
      return false;
    space->available = static_cast<uint64_t>(room.f_bavail) * room.f_frsize;
    space->device = static_cast<uint64_t>(info.st_dev);
    return true;
  }

  std::unique_ptr<FileLock> TryLockFile(const std::string& path) override {
    // Read access is all flock needs, so the lock works on a file that may
    // not be written; O_NOFOLLOW keeps a planted link from creating a file
    // elsewhere.
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) RaiseErrno(errno, kPathNotFound);  // a link gives ELOOP, hence 75
    auto lock = std::make_unique<PosixFileLock>(fd, path);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) return nullptr;
      if (errno != EINTR) Raise(kPathFileAccess);
    }
    return lock;
  }

  std::unique_ptr<AppendFile> OpenForAppend(const std::string& path) override {
    if (path.empty()) Raise(kPathFileAccess);
    const int flags = O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    // Read and write, so that the log can read back what it wrote; a file the
    // user may write but not read is still written.
    int fd = ::open(path.c_str(), O_RDWR | flags, 0666);
    bool readable = fd >= 0;
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | flags, 0666);
    // A folder gives EISDIR and a link ELOOP, hence 75.
    if (fd < 0) RaiseErrno(errno, kPathNotFound);
    return std::make_unique<PosixAppendFile>(fd, readable);
  }

 private:
  // The status of an existing file; raises 53 for a folder or a missing file.
  static struct stat ExistingFileInfo(const std::string& path) {
    struct stat info;
    if (!Stat(path, &info) || !IsFile(info)) Raise(kFileNotFound);
    return info;
  }

  static void CheckNewDestination(const std::string& destination) {
    if (!IsFolder(FolderOf(destination))) Raise(kPathNotFound);
    struct stat info;
    if (Stat(destination, &info)) Raise(kFileAlreadyExists);
  }

  // The rename of the copy would replace a file that the user may not write,
  // so the rights on the old destination are checked here.
  static void CheckCopyDestination(const std::string& destination, bool overwrite) {
    if (!IsFolder(FolderOf(destination))) Raise(kPathNotFound);
    struct stat info;
    if (!Stat(destination, &info)) return;
    if (!overwrite) Raise(kFileAlreadyExists);
    if (S_ISDIR(info.st_mode) || IsReadOnly(info)) Raise(kPermissionDenied);
    if (::faccessat(AT_FDCWD, destination.c_str(), W_OK, AT_EACCESS) != 0) {
      RaiseErrno(errno, kPathNotFound);
    }
  }

  // The source's size, owner and mode come from the opened file itself, so
  // that a name changed in between cannot give another file's.
  static void WriteCopy(const std::string& source, const std::string& destination) {
    FileDescriptor input(posix::OpenRegularFile(source));
    if (input.get() < 0) RaiseErrno(errno, kFileNotFound);  // a FIFO or a device gives 75
    struct stat source_info;
    if (::fstat(input.get(), &source_info) != 0) Raise(kPathFileAccess);
    TemporaryFile copy(destination);
    CopyBytes(input.get(), copy.fd(), source_info.st_size);
    GiveOwner(copy.fd(), source_info);
    // fchmod, unlike the mode given to open(), is not narrowed by the umask;
    // it comes after fchown, which may clear bits.
    if (::fchmod(copy.fd(), source_info.st_mode & 0777) != 0) RaiseErrno(errno, kPathNotFound);
    copy.MoveOnto(destination);
    SyncFolder(FolderOf(destination));
  }

  // Only root may give a file away; another user's copy stays theirs, which
  // is no failure of the copy.
  static void GiveOwner(int fd, const struct stat& source_info) {
    if (::fchown(fd, source_info.st_uid, source_info.st_gid) != 0 && errno != EPERM) {
      RaiseErrno(errno, kPathNotFound);
    }
  }

  void MoveAcrossFileSystems(const std::string& source, const std::string& destination) {
    CopyFile(source, destination, false);
    if (::unlink(source.c_str()) == 0) return;
    int error = errno;
    // Keep the move all or nothing: the source stays, so the copy goes.
    ::unlink(destination.c_str());
    RaiseErrno(error, kFileNotFound);
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewPosixFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace tabsync::platform
