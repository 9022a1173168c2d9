#ifndef TABSYNC_TESTS_SUPPORT_TEMP_DIR_H_
#define TABSYNC_TESTS_SUPPORT_TEMP_DIR_H_

#include <sys/types.h>

#include <set>
#include <string>

namespace tabsync::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes. Path() ends in "/".
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + name.
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// The whole content of a file; throws when it cannot be read. Do not call it
// on a database that this process holds open through the engine: closing any
// descriptor of a file drops the process's POSIX locks on it.
std::string ReadFileBytes(const std::string& path);

// The permission bits of a file (mode & 07777); (mode_t)-1 when it is missing.
mode_t ModeOf(const std::string& path);

// The names of the entries of a folder.
std::set<std::string> NamesIn(const std::string& folder);

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_TEMP_DIR_H_
