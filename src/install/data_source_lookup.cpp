#include "install/data_source_lookup.h"

#include "platform/file_system.h"

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

bool GetDataSourceFolder(const platform::RegistrationStore& store,
                         const std::string& dataSourceName, std::string* folder) {
  std::string path;
  bool registered = ReadDatabasePath(store, dataSourceName, &path);
  *folder = platform::GetParentFolderName(path) + "/";
  return registered;
}

}  // namespace tabsync::install
