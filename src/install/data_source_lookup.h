#ifndef TABSYNC_INSTALL_DATA_SOURCE_LOOKUP_H_
#define TABSYNC_INSTALL_DATA_SOURCE_LOOKUP_H_

#include <cstddef>
#include <string>

#include "platform/file_system.h"
#include "platform/registration_store.h"

namespace tabsync::install {

// The longest "DBQ" value the lookup reads: 511 bytes, the room of a 512-byte
// buffer with its terminating zero. A longer value counts as not registered.
constexpr std::size_t kMaxDataSourceValueBytes = 511;

// Finds the folder of a data source's database file. True when the data
// source is registered with a readable "DBQ" value (the database file's full
// path). *folder is set in every case: the parent folder of that path plus
// "/" ("/srv/db/users.mdb" gives "/srv/db/", "/users.mdb" gives "//"); after
// a failed read, the parent of an empty path plus "/", that is "/". Reads the
// store afresh on every call.
bool GetDataSourceFolder(const platform::RegistrationStore& store,
                         const std::string& dataSourceName, std::string* folder);

// The database file a data source names: its "DBQ" value, read as
// GetDataSourceFolder reads it. False, with *path untouched, when the data
// source is not registered or its value cannot be read.
bool GetDataSourcePath(const platform::RegistrationStore& store,
                       const std::string& dataSourceName, std::string* path);

// True when a "DBQ" value can name a database file that the update may
// write: an absolute path ("/" first), not ending in "/", without control
// characters, and no existing folder. A relative path would be taken from
// wherever the program was started.
bool NamesDatabaseFile(const platform::FileSystem& files, const std::string& path);

}  // namespace tabsync::install

#endif  // TABSYNC_INSTALL_DATA_SOURCE_LOOKUP_H_
