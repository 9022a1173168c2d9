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
// - a data source that is not registered, whose "DBQ" is no absolute path to
//   a file, or whose database lies in the update folder itself (also where a
//   symbolic link leads, or as a second name of the update information), is
//   skipped with a " !ERROR " line;
// - a database in use that is there but cannot be examined (a link to
//   nowhere, no permission) is skipped with an " ERROR " line;
// - update information that is no usable database (missing, no regular
//   file, not readable as a database, damaged, or without a table that the
//   release steps read from it: UpdateContext::TablesReadBySteps) leaves the
//   database in use as it was, before anything is done to it, with one
//   " !ERROR database not updated, its update information ..." line;
// - a missing database in use is copied whole from the update information;
// - a database in a missing folder is skipped with a " !ERROR " line;
// - otherwise, after its "DATABASE START: " line, what a killed run left
//   beside it is removed (a file that cannot be, an " ERROR " line naming
//   it), and the database in use is opened once exclusively, which rolls
//   back a hot journal (when that open fails, another program reading or
//   writing it, a " !ERROR " line says so and the database is left as it
//   is), its pages are checked (a damaged one is left as it is, not backed
//   up, with a " !ERROR database not updated, it is damaged (...)" line),
//   and it is backed up (path + ".bak", an older ".bak" moved into the
//   backup history). A data database is then opened
//   exclusively beside the update information (opened immutable), brought
//   to the current file format (UpgradeFormatStep), given its release steps
//   and closed, which commits its changes. A reference database (config,
//   resource) is merged into a working copy of the update information made
//   beside it (WorkingCopyPath) and brought to the current file format, its
//   own session dropping the changes the release steps make to it; only when
//   its opens, its merge and the working copy's commit went through does the
//   working copy replace it, in one rename.
// A database in use that is a symbolic link to a file is updated where the
// link leads: a reference database's working copy and rename are beside the
// link's target, so the link stays a link; its backup is path + ".bak" beside
// the link.
// The update folder is only ever read. From the backup on, every failure is
// captured: it is logged, sets ErrorsDetected, and the next step runs; a
// failed backup keeps the database from being changed, and a reference
// database whose merge failed is not replaced. Earlier failures (copying a
// missing database whole, writing the log) pass to the caller. Unless a
// failure passes to the caller, the database's lines end with
// "DATABASE END: " + fileName.
void UpdateDatabase(UpdateContext& context, const std::string& dataSourceName,
                    const std::string& updateFolder, const std::string& fileName);

// What WorkingCopyPath appends to the hidden name of a working copy.
constexpr char kWorkingCopySuffix[] = ".tabsync-merge";

// The working copy in which a reference database is merged:
// folder + "." + fileName + kWorkingCopySuffix. The run owns this name: a
// file of that name (and its "-journal") left by an interrupted run is
// removed before the next merge.
std::string WorkingCopyPath(const std::string& folder, const std::string& fileName);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_UPDATE_RUN_H_
