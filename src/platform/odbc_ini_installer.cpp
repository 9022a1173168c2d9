#include "platform/odbc_ini_installer.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/ini_file.h"
#include "platform/odbc_ini_store.h"
#include "platform/posix_io.h"

namespace tabsync::platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr mode_t kNewFileMode = 0644;

// --- What can be stored -----------------------------------------------------

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos;
}

// The reader trims these, so a value that has one at an end reads back
// shorter than it was written.
bool HasBlankAtAnEnd(std::string_view text) {
  return kBlanks.find(text.front()) != std::string_view::npos ||
         kBlanks.find(text.back()) != std::string_view::npos;
}

bool IsStorableValue(std::string_view text) {
  return !text.empty() && !HasLineBreakOrNul(text) && !HasBlankAtAnEnd(text);
}

// "]" would end the name early on reading; "[" is refused with it so that a
// name never looks like a section header of its own.
bool IsStorableName(std::string_view name) {
  return IsStorableValue(name) && name.find_first_of("[]") == std::string_view::npos;
}

// --- Lines of the file, by the reading rules of ReadIniValue ----------------

// Each line keeps its "\n" so that the lines left alone are copied back byte
// for byte; the last one may lack it.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    size_t length = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

bool EndsInLineFeed(std::string_view text) { return !text.empty() && text.back() == '\n'; }

std::string_view WithoutLineFeed(std::string_view line) {
  return EndsInLineFeed(line) ? line.substr(0, line.size() - 1) : line;
}

// The index of the first section line named `name`, or lines.size(). Only the
// first counts because the reader never looks at a later one.
size_t FindSection(const std::vector<std::string_view>& lines, std::string_view name) {
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = WithoutLineFeed(lines[i]);
    if (IsIniSectionLine(line) && IniNamesEqual(IniSectionName(line), name)) return i;
  }
  return lines.size();
}

// --- The new text -----------------------------------------------------------

std::string KeyLines(std::string_view file) {
  std::string keys = "Driver=";
  keys.append(kDataSourceDriver).append("\n");
  keys.append("DBQ=").append(file).append("\n");
  keys.append("Database=").append(file).append("\n");
  return keys;
}

void AppendLines(const std::vector<std::string_view>& lines, size_t begin, size_t end,
                 std::string* text) {
  for (size_t i = begin; i < end; ++i) text->append(lines[i]);
}

// A header on the file's last line gets the "\n" it lacks, or the first key
// would join it.
void AppendHeader(std::string_view header, std::string* text) {
  text->append(header);
  if (!EndsInLineFeed(header)) text->push_back('\n');
}

// Appends the lines of the section that starts after `header` except its key
// lines; gives the index of the line after the section.
size_t AppendSectionWithoutKeys(const std::vector<std::string_view>& lines, size_t header,
                                std::string* text) {
  size_t i = header + 1;
  for (; i < lines.size() && !IsIniSectionLine(lines[i]); ++i) {
    if (!IsIniKeyLine(WithoutLineFeed(lines[i]))) text->append(lines[i]);
  }
  return i;
}

std::string WithSectionReplaced(const std::vector<std::string_view>& lines, size_t header,
                                std::string_view file) {
  std::string text;
  AppendLines(lines, 0, header, &text);
  AppendHeader(lines[header], &text);
  text.append(KeyLines(file));
  size_t after = AppendSectionWithoutKeys(lines, header, &text);
  AppendLines(lines, after, lines.size(), &text);
  return text;
}

std::string WithSectionAppended(std::string_view old_text, std::string_view name,
                                std::string_view file) {
  std::string text(old_text);
  if (!text.empty()) {
    if (!EndsInLineFeed(text)) text.push_back('\n');
    text.push_back('\n');
  }
  text.append("[").append(name).append("]\n");
  text.append(KeyLines(file));
  return text;
}

std::string WithDataSource(std::string_view old_text, std::string_view name,
                           std::string_view file) {
  std::vector<std::string_view> lines = SplitLines(old_text);
  size_t header = FindSection(lines, name);
  if (header == lines.size()) return WithSectionAppended(old_text, name, file);
  return WithSectionReplaced(lines, header, file);
}

// The last guard against writing a file that the store would misread, for
// whatever the rules above did not foresee.
bool ReadsBack(std::string_view text, std::string_view name, std::string_view file) {
  std::string value;
  return ReadIniValue(text, name, "DBQ", &value) && value == file;
}

// --- Files ------------------------------------------------------------------

using posix::FileDescriptor;

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// odbc.ini itself cannot carry the lock: the rename puts a new file in its
// place, and a writer that waited on the old one would then read a file that
// is no longer there. The folder stays, and locking it leaves no lock file.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : folder_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    held_ = folder_.get() >= 0 && Lock();
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Closing the folder at the end releases the lock.
  bool held() const { return held_; }

 private:
  bool Lock() {
    while (::flock(folder_.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  FileDescriptor folder_;
  bool held_ = false;
};

struct CurrentFile {
  std::string text;
  mode_t mode = kNewFileMode;
};

// A missing file is an empty one; any other failure is false, because
// replacing a file that could not be read would lose its data sources. What
// the store refuses to read (no regular file, too large) is not replaced
// either.
bool ReadCurrentFile(const std::string& path, CurrentFile* current) {
  FileDescriptor file(posix::OpenRegularFile(path));
  if (file.get() < 0) return errno == ENOENT;
  struct stat info;
  if (::fstat(file.get(), &info) != 0) return false;
  current->mode = info.st_mode & 07777;
  return posix::ReadAllUpTo(file.get(), kMaxIniFileSize, &current->text) == 0;
}

// Without this a crash right after the rename could lose the rename itself.
bool SyncFolder(const std::string& folder) {
  FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  // File systems that cannot sync a folder say EINVAL; the rename is then as
  // durable as they make it.
  return ::fsync(fd.get()) == 0 || errno == EINVAL;
}

// A new file beside `destination`, removed again unless MoveOnto() renamed it
// there. Being in the same folder makes the rename atomic.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& destination)
      : path_(destination + ".tmp-XXXXXX"), file_(::mkostemp(path_.data(), O_CLOEXEC)) {
    if (file_.get() < 0) path_.clear();
  }
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());  // best effort: the call already failed
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool created() const { return file_.get() >= 0; }

  // mkostemp gives 0600 whatever the old file had; set explicitly, the bits
  // are also free of the umask.
  bool Fill(std::string_view text, mode_t mode) {
    return ::fchmod(file_.get(), mode) == 0 && posix::WriteAll(file_.get(), text) == 0;
  }

  bool MoveOnto(const std::string& destination) {
    if (::fsync(file_.get()) != 0 || file_.Close() != 0) return false;
    if (::rename(path_.c_str(), destination.c_str()) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  std::string path_;
  FileDescriptor file_;
};

bool ReplaceFile(const std::string& path, std::string_view text, mode_t mode) {
  TemporaryFile temporary(path);
  if (!temporary.created() || !temporary.Fill(text, mode)) return false;
  if (!temporary.MoveOnto(path)) return false;
  return SyncFolder(FolderOf(path));
}

// Called with the folder locked: from the read to the rename no other writer
// may change the file, or its change would be lost.
bool RewriteWithDataSource(const std::string& path, std::string_view name,
                           std::string_view file) {
  CurrentFile current;
  if (!ReadCurrentFile(path, &current)) return false;
  std::string text = WithDataSource(current.text, name, file);
  if (!ReadsBack(text, name, file)) return false;
  return ReplaceFile(path, text, current.mode);
}

class OdbcIniInstaller : public OdbcInstaller {
 public:
  bool AddSystemDataSource(const std::string& name, const std::string& databaseFile) override {
    if (!IsStorableName(name) || !IsStorableValue(databaseFile)) return false;
    std::string path = SystemOdbcIniPath();
    FolderLock lock(FolderOf(path));
    if (!lock.held()) return false;
    return RewriteWithDataSource(path, name, databaseFile);
  }

  // The same reading and checks as the rewrite; access() stands for the
  // lock and the temporary file in the folder.
  bool CanAddSystemDataSource(const std::string& name,
                              const std::string& databaseFile) const override {
    if (!IsStorableName(name) || !IsStorableValue(databaseFile)) return false;
    std::string path = SystemOdbcIniPath();
    CurrentFile current;
    if (!ReadCurrentFile(path, &current)) return false;
    if (!ReadsBack(WithDataSource(current.text, name, databaseFile), name, databaseFile))
      return false;
    return ::access(FolderOf(path).c_str(), W_OK | X_OK) == 0;
  }
};

}  // namespace

std::unique_ptr<OdbcInstaller> NewOdbcIniInstaller() {
  return std::make_unique<OdbcIniInstaller>();
}

}  // namespace tabsync::platform
