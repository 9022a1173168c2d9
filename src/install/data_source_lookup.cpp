#include "install/data_source_lookup.h"

#include "install/install_platform.h"

namespace tabsync::install {
namespace {

bool ReadDatabasePath(const platform::RegistrationStore& store, const std::string& dataSourceName,
                      std::string* path) {
  std::string value;
  if (!store.ReadDataSourceValue(dataSourceName, "DBQ", &value)) return false;
  if (value.size() > kMaxDataSourceValueBytes) return false;
  *path = value;
  return true;
}

}  // namespace

bool GetDataSourcePath(const platform::RegistrationStore& store,
                       const std::string& dataSourceName, std::string* path) {
  return ReadDatabasePath(store, dataSourceName, path);
}

bool NamesDatabaseFile(const platform::FileSystem& files, const std::string& path) {
  return !path.empty() && path.front() == '/' && path.back() != '/' &&
         !HasControlCharacter(path) && !files.FolderExists(path);
}

bool GetDataSourceFolder(const platform::RegistrationStore& store,
                         const std::string& dataSourceName, std::string* folder) {
  std::string path;
  bool registered = ReadDatabasePath(store, dataSourceName, &path);
  *folder = platform::GetParentFolderName(path) + "/";
  return registered;
}

}  // namespace tabsync::install
