#ifndef TABSYNC_PLATFORM_ODBC_INSTALLER_H_
#define TABSYNC_PLATFORM_ODBC_INSTALLER_H_

#include <string>

namespace tabsync::platform {

// The ODBC driver that system data sources are created for: the SQLite ODBC
// driver, which opens tabsync's database files.
constexpr char kDataSourceDriver[] = "SQLite3";

// Creates system data sources. Abstract so that the logic can be tested against
// an in-memory fake; the real one is NewOdbcIniInstaller() in
// odbc_ini_installer.h.
class OdbcInstaller {
 public:
  virtual ~OdbcInstaller() = default;

  // Creates the system data source `name`, or replaces the one of that name
  // (ignoring letter case), for the driver kDataSourceDriver with the keys
  // "DBQ" and "Database" both = databaseFile, so that a RegistrationStore
  // reads databaseFile back as its "DBQ". Nothing else of the store changes.
  // False, with nothing written, when the name or the path cannot be stored
  // so that it reads back the same (a line break in either; "[" or "]" in the
  // name; blanks at either end; an empty name), or when the store cannot be
  // written. Raises nothing.
  virtual bool AddSystemDataSource(const std::string& name, const std::string& databaseFile) = 0;

  // What AddSystemDataSource(name, databaseFile) would return now, found
  // without writing or locking anything (for a dry run): every check of it
  // on the store as it is, the store's folder being writable standing for
  // the write itself. Raises nothing.
  virtual bool CanAddSystemDataSource(const std::string& name,
                                      const std::string& databaseFile) const = 0;
};

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_ODBC_INSTALLER_H_
