#include "install/relocation.h"

#include "install/data_source_lookup.h"
#include "install/data_sources.h"

namespace tabsync::install {
namespace {

// The message that ends the program after a failed move.
void ShowMoveFailure(platform::UserInterface& ui, const std::string& firstLine) {
  ShowCritical(ui, firstLine +
                       "\r\n\r\nCould not move all databases. Please re-run \r\n\r\n"
                       "  'tabsync DB'\r\n\r\n"
                       "from the target folder.\r\n"
                       "You do not need to re-run the whole installation again.");
}

// Keeps a copy of the file at `destination` as its ".bak". A copy, not a
// rename: the destination must stay in place until its replacement is
// complete, or a move that fails in between would leave only the ".bak". An
// older ".bak" goes into the backup history.
void KeepAsBackup(platform::FileSystem& files, BackupHistory& history,
                  const std::string& destination) {
  std::string backup = destination + ".bak";
  if (files.FileExists(backup)) history.Keep(backup);
  if (files.FileExists(destination)) files.CopyFile(destination, backup, false);
}

// Copies the database into the target folder, registers it there and deletes
// the old file. False when the data source could not be registered anew: the
// old file then stays, because the data source still names it, and an update
// run would otherwise find it missing and put an empty database in its place.
// Raises the file errors.
bool CopyIntoTarget(const InstallPlatform& platform, BackupHistory& history,
                    const std::string& dataSourceName, const std::string& source,
                    const std::string& destination) {
  KeepAsBackup(platform.files, history, destination);
  // CopyFile writes a temporary file in the target folder and renames it
  // over the destination once the copy is complete.
  platform.files.CopyFile(source, destination, true);
  if (!CreateDataSource(platform, dataSourceName, destination)) return false;
  platform.files.DeleteFile(source, false);
  return true;
}

}  // namespace

void CreateDatabaseFolders(platform::FileSystem& files, const std::string& location) {
  for (const std::string& folder :
       {location, location + "Infrastructure", location + "Infrastructure/DB"}) {
    if (!files.FolderExists(folder)) files.CreateFolder(folder);
  }
}

bool MoveDatabase(const InstallPlatform& platform, BackupHistory& history,
                  const std::string& targetFolder, const std::string& updateFolder,
                  const std::string& dataSourceName, const std::string& fileName) {
  std::string currentFolder;
  if (!GetDataSourceFolder(platform.registrations, dataSourceName, &currentFolder)) {
    ShowCritical(platform.ui, "Database " + dataSourceName + " not found!");
    return true;
  }
  std::string path;
  GetDataSourcePath(platform.registrations, dataSourceName, &path);
  if (!NamesDatabaseFile(platform.files, path)) {
    // Its folder would be taken from wherever the program runs, or from a
    // folder the data source names by mistake.
    ShowCritical(platform.ui, "ODBC data source does not name a database file: " + dataSourceName);
    return true;
  }
  if (currentFolder == targetFolder) return true;
  std::string source = currentFolder + fileName;
  std::string destination = targetFolder + fileName;
  if (platform.files.SameFolder(currentFolder, targetFolder) ||
      platform.files.SameFile(source, destination)) {
    // Copying the file onto itself would destroy it; it is in place already.
    CreateDataSource(platform, dataSourceName, destination);
    return true;
  }
  if (platform.files.SameFolder(currentFolder, updateFolder)) {
    // Moving it would delete the release's file from the update folder.
    ShowCritical(platform.ui, "The database of ODBC data source " + dataSourceName +
                                  " lies in the update folder and is not moved:\r\n\r\n" + source);
    return true;
  }
  if (!platform.files.FileExists(source)) {
    ShowMoveFailure(platform.ui, "Error: ODBC-entried file does not exist: \r\n" + source);
    return false;
  }
  try {
    if (CopyIntoTarget(platform, history, dataSourceName, source, destination)) return true;
    ShowMoveFailure(platform.ui, "Error: ODBC entry " + dataSourceName +
                                     " not re-configured; the database stays at: \r\n" + source);
  } catch (const Error& error) {
    ShowMoveFailure(platform.ui, ErrorLine(error));
  }
  return false;
}

}  // namespace tabsync::install
