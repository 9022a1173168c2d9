#include "support/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace tabsync::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tabsync-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TempDir::~TempDir() {
  std::error_code ignored;  // a leftover temporary folder is no test failure
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace tabsync::test
