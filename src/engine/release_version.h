#ifndef TABSYNC_ENGINE_RELEASE_VERSION_H_
#define TABSYNC_ENGINE_RELEASE_VERSION_H_

#include <string>

#include "dbengine/dao.h"

namespace tabsync::engine {

// The newest release in the Version table of the open database: the latest
// ReleaseDate, and among equal dates the highest DBVersion ("3.10.0" after
// "3.9.2"). "" without such a table or without a DBVersion in it; *table
// (when given) tells whether there is one. Raises nothing.
std::string NewestVersion(dao::Database& db, bool* table = nullptr);

// The release of the update information in `updateFolder` (ending in "/"):
// the newest release of the first of accounting, users, config and resource
// that tells one, each opened as an immutable image. "" when none does.
// Raises nothing.
std::string UpdateFolderRelease(dao::DatabaseEngine& engine, const std::string& updateFolder);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_RELEASE_VERSION_H_
