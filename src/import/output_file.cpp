#include "import/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "dbengine/error.h"
#include "import/import_errors.h"
#include "platform/posix_io.h"

namespace tabsync::import {
namespace {

constexpr char kMarker[] = ".importing-";
constexpr char kJournal[] = "-journal";

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// What a name is, for a message; "" for a regular file.
std::string KindOf(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return "";
  if (S_ISDIR(info.st_mode)) return "a folder";
  if (S_ISCHR(info.st_mode)) return "a character device";
  if (S_ISBLK(info.st_mode)) return "a block device";
  if (S_ISFIFO(info.st_mode)) return "a FIFO";
  if (S_ISSOCK(info.st_mode)) return "a socket";
  return "of another kind";
}

Error OutputFailed(const std::string& what, const std::string& path) {
  return Error(errors::kOutputFailed, what + " " + path + ": " + std::strerror(errno));
}

Error Refused(const std::string& output, const std::string& why) {
  return Error(errors::kOutputFailed, output + ": " + why + "; it is not replaced");
}

void SyncPath(const std::string& path, int flags) {
  platform::posix::FileDescriptor fd(open(path.c_str(), flags | O_CLOEXEC));
  if (fd.get() < 0 || fsync(fd.get()) != 0) throw OutputFailed("cannot sync", path);
}

// --- The record the signal handler reads ------------------------------------

struct SignalRecord {
  char path[PATH_MAX];
  char journal[PATH_MAX + sizeof kJournal];
  pid_t owner;
  volatile sig_atomic_t set;
};
SignalRecord g_record;

// The handled signals wait while the record changes, so that the handler
// never reads half a path.
class StopSignalsBlocked {
 public:
  StopSignalsBlocked() {
    sigset_t stop;
    sigemptyset(&stop);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, signal);
    sigprocmask(SIG_BLOCK, &stop, &before_);
  }
  ~StopSignalsBlocked() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
  StopSignalsBlocked(const StopSignalsBlocked&) = delete;
  StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

 private:
  sigset_t before_;
};

void Record(const std::string& path) {
  StopSignalsBlocked blocked;
  g_record.set = 0;
  if (path.size() >= sizeof g_record.path) return;  // no such file can be made anyway
  std::memcpy(g_record.path, path.c_str(), path.size() + 1);
  std::string journal = path + kJournal;
  std::memcpy(g_record.journal, journal.c_str(), journal.size() + 1);
  g_record.owner = getpid();
  g_record.set = 1;
}

void Unrecord() {
  StopSignalsBlocked blocked;
  g_record.set = 0;
}

// --- Leftovers of ended processes -------------------------------------------

// The program a process runs; "" when that cannot be seen (another user's).
std::string ExecutableOf(const std::string& process) {
  char target[PATH_MAX];
  ssize_t length = readlink(("/proc/" + process + "/exe").c_str(), target, sizeof target);
  if (length <= 0 || length == static_cast<ssize_t>(sizeof target)) return "";
  std::string path(target, static_cast<size_t>(length));
  const std::string replaced = " (deleted)";  // the program file was replaced since
  if (EndsWith(path, replaced)) path.resize(path.size() - replaced.size());
  return path;
}

// True when the process has ended, or its id now belongs to another
// program. In doubt it runs, and its temporary file stays.
bool Ended(pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  std::string mine = ExecutableOf("self");
  std::string its = ExecutableOf(std::to_string(pid));
  return !mine.empty() && !its.empty() && mine != its;
}

// The process id in the name of a temporary file of the output whose names
// begin with `prefix` (".NAME.importing-"), with or without "-journal"; 0
// for any other name.
pid_t ProcessOf(std::string name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  name.erase(0, prefix.size());
  if (EndsWith(name, kJournal)) name.resize(name.size() - (sizeof kJournal - 1));
  if (name.empty() || name.size() > 9) return 0;
  if (!std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return 0;
  return static_cast<pid_t>(std::stol(name));
}

void RemoveLeftovers(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> leftovers;
  {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) return;  // the output's own checks report a folder that cannot be read
    while (const dirent* entry = readdir(dir.get())) {
      pid_t pid = ProcessOf(entry->d_name, prefix);
      if (pid > 0 && (pid == getpid() || Ended(pid))) leftovers.push_back(entry->d_name);
    }
  }
  // Best effort: a leftover that cannot be removed harms no conversion.
  for (const std::string& name : leftovers) unlink((folder + "/" + name).c_str());
}

}  // namespace

void CheckSource(const std::string& source) {
  struct stat info;
  if (stat(source.c_str(), &info) != 0) return;
  std::string kind = KindOf(info);
  if (!kind.empty()) {
    throw Error(tabsync::errors::kFileNotFound,
                source + ": not a regular file (" + kind + "); it is not read");
  }
}

void CheckOutput(const std::string& source, const std::string& output, bool force) {
  struct stat info;
  if (stat(FolderOf(output).c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    throw FileNotFound(FolderOf(output));
  if (lstat(output.c_str(), &info) != 0) return;  // a new file
  if (!force) throw DatabaseExists(output);
  if (stat(output.c_str(), &info) != 0) throw Refused(output, "a symbolic link that leads to no file");
  std::string kind = KindOf(info);
  if (!kind.empty()) throw Refused(output, "not a regular file (" + kind + ")");
  struct stat from;
  if (stat(source.c_str(), &from) == 0 && from.st_dev == info.st_dev && from.st_ino == info.st_ino)
    throw Refused(output, "the source file itself");
}

TemporaryOutput::TemporaryOutput(const std::string& output)
    : output_(output),
      path_(FolderOf(output) + "/." + BaseName(output) + kMarker + std::to_string(getpid())) {
  RemoveLeftovers(FolderOf(output), "." + BaseName(output) + kMarker);
  Record(path_);
}

TemporaryOutput::~TemporaryOutput() {
  Remove();
  Unrecord();
}

void TemporaryOutput::Remove() const {
  unlink(path_.c_str());
  unlink((path_ + kJournal).c_str());
}

// Over the output only with force, and otherwise with link(), which refuses
// an output that appeared meanwhile. With force the output is checked again
// right before the rename, so that what became a device since is not
// replaced either.
void TemporaryOutput::PutInPlace(const std::string& source, bool force) {
  SyncPath(path_, O_RDONLY);
  if (force) {
    CheckOutput(source, output_, true);
    if (rename(path_.c_str(), output_.c_str()) != 0) throw OutputFailed("cannot rename to", output_);
  } else if (link(path_.c_str(), output_.c_str()) != 0) {
    if (errno == EEXIST) throw DatabaseExists(output_);
    throw OutputFailed("cannot create", output_);
  }
  SyncPath(FolderOf(output_), O_RDONLY | O_DIRECTORY);
}

void RemoveTemporaryOutputInSignal() {
  if (!g_record.set || getpid() != g_record.owner) return;
  unlink(g_record.path);
  unlink(g_record.journal);
}

}  // namespace tabsync::import
