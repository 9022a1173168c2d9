#ifndef TABSYNC_INSTALL_DATA_SOURCES_H_
#define TABSYNC_INSTALL_DATA_SOURCES_H_

#include <string>

#include "install/install_platform.h"

namespace tabsync::install {

// Creates or replaces the system data source dataSourceName for databaseFile
// (platform::OdbcInstaller). A path longer than the data-source lookup can
// read back (kMaxDataSourceValueBytes) is refused, as is whatever the
// installer refuses. On failure shows the critical message
// "DSN: " + name + "[" + file + "] creation failed." and returns false.
bool CreateDataSource(const InstallPlatform& platform, const std::string& dataSourceName,
                      const std::string& databaseFile);

// Makes sure the six data sources exist and tells whether one points outside
// targetFolder (which ends in "/"). Goes through Accounting, Orbisdat,
// OnlineShop, Resource, Config, Users in this order: a data source that is not
// registered is created for targetFolder + its file name; a registered one
// whose folder differs from targetFolder, as text, sets the result (letter
// case counts for Accounting only). Once the result is set, the folders of
// later data sources are not compared; missing ones are still created.
bool CheckDataSources(const InstallPlatform& platform, const std::string& targetFolder);

}  // namespace tabsync::install

#endif  // TABSYNC_INSTALL_DATA_SOURCES_H_
