#ifndef TABSYNC_TESTS_SUPPORT_TEMP_DIR_H_
#define TABSYNC_TESTS_SUPPORT_TEMP_DIR_H_

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

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_TEMP_DIR_H_
