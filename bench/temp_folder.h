#ifndef TABSYNC_BENCH_TEMP_FOLDER_H_
#define TABSYNC_BENCH_TEMP_FOLDER_H_

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tabsync::bench {

// A fresh folder under the system's temporary folder, named after the
// benchmark, removed with everything in it when the object goes.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;  // a folder left behind in /tmp is harmless
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace tabsync::bench

#endif  // TABSYNC_BENCH_TEMP_FOLDER_H_
