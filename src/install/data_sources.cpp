#include "install/data_sources.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "install/data_source_lookup.h"

namespace tabsync::install {
namespace {

struct DataSourceEntry {
  const char* name;
  const char* file_name;
};

// Not the catalogue's order: the data sources are checked in the order the
// earlier installations created them.
constexpr std::array<DataSourceEntry, 6> kCheckOrder = {{
    {"Accounting", "accounting.mdb"},
    {"Orbisdat", "availability.mdb"},
    {"OnlineShop", "onlineshop.mdb"},
    {"Resource", "resource.mdb"},
    {"Config", "config.mdb"},
    {"Users", "users.mdb"},
}};

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool PointsElsewhere(const std::string& dataSourceName, const std::string& folder,
                     const std::string& targetFolder) {
  if (std::string(dataSourceName) == "Accounting") return folder != targetFolder;
  return Lowered(folder) != Lowered(targetFolder);
}

}  // namespace

bool CreateDataSource(const InstallPlatform& platform, const std::string& dataSourceName,
                      const std::string& databaseFile) {
  // A longer path would be written, but the lookup would never find it again.
  bool created = databaseFile.size() <= kMaxDataSourceValueBytes &&
                 platform.installer.AddSystemDataSource(dataSourceName, databaseFile);
  if (!created) {
    ShowCritical(platform.ui, "DSN: " + dataSourceName + "[" + databaseFile + "] creation failed.");
  }
  return created;
}

bool CheckDataSources(const InstallPlatform& platform, const std::string& targetFolder) {
  bool points_elsewhere = false;
  for (const DataSourceEntry& entry : kCheckOrder) {
    std::string folder;
    if (!GetDataSourceFolder(platform.registrations, entry.name, &folder)) {
      CreateDataSource(platform, entry.name, targetFolder + entry.file_name);
    } else if (!points_elsewhere) {
      points_elsewhere = PointsElsewhere(entry.name, folder, targetFolder);
    }
  }
  return points_elsewhere;
}

}  // namespace tabsync::install
