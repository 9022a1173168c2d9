#ifndef TABSYNC_STARTUP_RESTORE_H_
#define TABSYNC_STARTUP_RESTORE_H_

#include <string>

#include "startup/site_tools.h"

namespace tabsync::startup {

// --restore: puts the databases back from their ".bak" files (run "") or
// from the backup history's run folder `run`, after asking (unless
// unattended). Takes the run lock first, then removes what a restore killed
// half-way left beside the databases. For each database whose data source
// names a file and that has such a backup:
// 1. the backup, which must be a regular file (a ".bak" may be a link to
//    one; nothing in the history may be a link), is copied beside the
//    database (beside the file it leads to, when it is a symbolic link to
//    one), and the copy must open as a database whose quick check finds
//    nothing and that shares a table with the database in use (all of them
//    before anything else, so that making the history's run folder cannot
//    remove `run`);
// 2. the database in use, unless it is no regular file (a FIFO, a device, a
//    link to neither), is settled (a hot journal rolled back; a file that is
//    no database is taken as it is) and a copy of it kept in the backup
//    history;
// 3. the backup's copy replaces it (or the file its link leads to, so that
//    the link stays) in one rename, with its owner and mode.
// Prints "restored <database> from <backup>" for each on tools.out; a
// database that cannot be restored is named in a message and stays as it
// was, and the others are still restored. Returns 0 when all went back (or
// the operator declined), 1 when one could not, 2 when it stopped before
// (no location, another run, no backups), 3 (kExitNoAnswer) when the
// question got no answer, the input having ended.
// waitSeconds: how long to wait for the run lock (RunLockOptions).
int Restore(const SiteTools& tools, const std::string& run, bool unattended,
            long long waitSeconds = 0);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_RESTORE_H_
