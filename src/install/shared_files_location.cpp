#include "install/shared_files_location.h"

#include "install/install_platform.h"
#include "platform/file_system.h"

namespace tabsync::install {

bool GetSharedFilesLocation(const platform::SharedFilesStore& store, std::string* path) {
  std::string value;
  if (!store.ReadSharedFilesLocation(&value)) return false;
  if (value.size() > kMaxSharedFilesLocationBytes) return false;
  *path = platform::WithTrailingSlash(value);
  return true;
}

bool IsUsableLocation(const std::string& path) {
  return !path.empty() && path.front() == '/' && !HasControlCharacter(path);
}

}  // namespace tabsync::install
