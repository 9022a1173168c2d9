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

bool LiesInFolder(const platform::FileSystem& files, const std::string& inner,
                  const std::string& outer) {
  std::string path = inner;
  while (!files.FolderExists(path)) {
    path = platform::GetParentFolderName(path);
    if (path.empty()) return false;
  }
  try {
    // Resolved, its parents are the folders it really lies in.
    path = files.ResolvedPath(path);
  } catch (const Error&) {
    return false;  // a folder that cannot be resolved cannot be compared either
  }
  for (; !path.empty(); path = platform::GetParentFolderName(path)) {
    if (files.SameFolder(path, outer)) return true;
  }
  return false;
}

}  // namespace tabsync::install
