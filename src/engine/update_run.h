#ifndef TABSYNC_ENGINE_UPDATE_RUN_H_
#define TABSYNC_ENGINE_UPDATE_RUN_H_

#include <string>

#include "engine/update_context.h"

namespace tabsync::engine {

// Updates the six catalogue databases, in catalogue order, from the update
// information in updateFolder ("/" is appended when missing). The log shows
// "## BEGIN UPDATING", each database's lines, then "## END UPDATING". A
// failure that UpdateDatabase lets pass ends the run at once: it is logged as
// " ERROR " + number + ": " + description (when the log can be written), sets
// ErrorsDetected, and the remaining databases and "## END UPDATING" are left
// out. Raises nothing.
void UpdateAllDatabases(UpdateContext& context, const std::string& updateFolder);

// Updates one catalogue database, found through its data source, from the
// file of the same name in updateFolder (which ends in "/"):
// - a data source that is not registered, or whose folder is the update
//   folder itself, is skipped with a " !ERROR " line;
// - a missing database in use is copied whole from the update information;
// - a database in a missing folder is skipped with a " !ERROR " line;
// - otherwise the database in use is backed up (path + ".bak"), opened
//   exclusively beside the update information, given its release steps and
//   closed; a reference database (config, resource) is then replaced by the
//   merged update information, whose own file is restored from the backup
//   taken before.
// From the backup of the database in use on, every failure is captured: it is
// logged, sets ErrorsDetected, and the next step runs; a failed backup keeps
// the database from being changed, and a reference database whose opens or
// merge failed is not replaced. Earlier failures (copying a missing database
// whole, backing up the update information, writing the log) pass to the
// caller. Unless a failure passes to the caller, the database's lines end
// with "DATABASE END: " + fileName.
void UpdateDatabase(UpdateContext& context, const std::string& dataSourceName,
                    const std::string& updateFolder, const std::string& fileName);

// Copies folder + fileName to folder + fileName + ".bak", first deleting an
// older backup of that name (also a read-only one). Logs nothing; raises the
// file errors.
void BackupDatabaseFile(UpdateContext& context, const std::string& folder,
                        const std::string& fileName);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_UPDATE_RUN_H_
