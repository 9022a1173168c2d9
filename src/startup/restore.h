#ifndef TABSYNC_STARTUP_RESTORE_H_
#define TABSYNC_STARTUP_RESTORE_H_

#include <string>

#include "startup/site_tools.h"

namespace tabsync::startup {

// --restore: puts the databases back from their ".bak" files (run "") or
// from the backup history's run folder `run`, after asking (unless
// unattended). Takes the run lock first. For each database whose data source
// names a file and that has such a backup:
// 1. the backup is copied beside the database (all of them before anything
//    else, so that making the history's run folder cannot remove `run`);
// 2. the database in use is settled (a hot journal rolled back) and a copy of
//    it kept in the backup history;
// 3. the backup's copy replaces it in one rename, with its owner and mode.
// Prints "restored <database> from <backup>" for each on tools.out. Returns 0
// when all went back (or the operator declined), 1 when one could not (its
// database stays as it was), 2 when it stopped before (no location, another
// run, no backups).
int Restore(const SiteTools& tools, const std::string& run, bool unattended);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_RESTORE_H_
