#ifndef TABSYNC_INSTALL_RELOCATION_H_
#define TABSYNC_INSTALL_RELOCATION_H_

#include <string>

#include "install/backup_history.h"
#include "install/install_platform.h"

namespace tabsync::install {

// The folder of the databases below the shared-files location.
constexpr char kDatabaseSubfolder[] = "Infrastructure/DB/";

// Makes sure location, location + "Infrastructure" and location +
// "Infrastructure/DB" exist, creating the missing ones in this order (one
// level each; the location's own parent is not created). location ends in
// "/". Raises the file errors of FileSystem::CreateFolder.
void CreateDatabaseFolders(platform::FileSystem& files, const std::string& location);

// Moves the database of a data source into targetFolder (which ends in "/")
// and registers the data source anew for its new path. Returns false when
// the program must end: the move failed and the operator has been told to
// repeat it (a critical message). Otherwise:
// - a data source that is not registered gets the critical message
//   "Database " + name + " not found!", and the caller goes on;
// - a data source whose "DBQ" is no absolute path to a file
//   (NamesDatabaseFile) gets the critical message "ODBC data source does not
//   name a database file: " + name, and the caller goes on: nothing is moved
//   from or to such a path;
// - a database whose folder is targetFolder, as text or by identity (another
//   spelling, a symbolic link), is not touched; in the second case only its
//   data source is registered anew for the target's spelling;
// - a database in updateFolder (the release's own file, which the update run
//   only reads) gets the critical message "The database of ODBC data source "
//   + name + " lies in the update folder and is not moved:" and its path, and
//   the caller goes on: nothing is copied from, deleted in or registered for
//   the update folder, and the update run then skips that database;
// - otherwise an older targetFolder + fileName is kept as its ".bak" (an
//   older ".bak" moved into the backup history first), the database is
//   copied into targetFolder,
//   the data source is registered anew, and the old file is deleted. When
//   the data source cannot be registered anew (CreateDataSource has shown its
//   message), the old file stays, since the data source still names it, and
//   the move fails.
// The database is never lost: a missing source changes nothing, and the file
// in the target folder is replaced whole by the copy, only once it is
// complete, so that at every moment of a failed move the old file in the
// target folder is still there.
bool MoveDatabase(const InstallPlatform& platform, BackupHistory& history,
                  const std::string& targetFolder, const std::string& updateFolder,
                  const std::string& dataSourceName, const std::string& fileName);

}  // namespace tabsync::install

#endif  // TABSYNC_INSTALL_RELOCATION_H_
