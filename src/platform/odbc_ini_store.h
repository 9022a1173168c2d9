#ifndef TABSYNC_PLATFORM_ODBC_INI_STORE_H_
#define TABSYNC_PLATFORM_ODBC_INI_STORE_H_

#include <memory>
#include <string>

#include "platform/registration_store.h"

namespace tabsync::platform {

// The system data sources of unixODBC: the file odbc.ini in the folder that
// libodbcinst names for the system files (/etc, or the environment variable
// ODBCSYSINI when set; libodbcinst fixes that folder at its first call in a
// process). The file is read whole on every call; a file that is missing or
// unreadable holds no data sources.
std::unique_ptr<RegistrationStore> NewOdbcIniStore();

// The full path of that odbc.ini.
std::string SystemOdbcIniPath();

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_ODBC_INI_STORE_H_
