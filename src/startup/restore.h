#ifndef TABSYNC_STARTUP_RESTORE_H_
#define TABSYNC_STARTUP_RESTORE_H_

#include <string>

#include "startup/site_tools.h"

namespace tabsync::startup {

// --restore: returns the databases to an earlier state, after asking (unless
// unattended). Takes the run lock first, then removes what a restore killed
// half-way left beside the databases. What goes back, for each database
// whose data source names a file:
// - `run` recorded (with its kind) in the shared database folder's history:
//   the state just before `run` (install::StateBefore), whatever ran after
//   it; a database no run since changed is left as it is ("unchanged");
// - `run` "": the same for install::RunToUndo, the last update run (or the
//   first of the attempts at its release that ended otherwise than "done");
// - without such records: the ".bak" files (run "") or those of the run
//   folder `run`, as an older tabsync's history holds them.
// Then, for each:
// 1. the backup, which must be a regular file (a ".bak" may be a link to
//    one; nothing in the history may be a link), is copied beside the
//    database (beside the file it leads to, when it is a symbolic link to
//    one), and the copy must open as a database whose quick check finds
//    nothing and that shares a table with the database in use (all of them
//    before anything else, so that making the history's run folder cannot
//    remove what is read);
// 2. the database in use, unless it is no regular file (a FIFO, a device, a
//    link to neither), is settled (a hot journal rolled back; a file that is
//    no database is taken as it is) and a copy of it saved in the restore's
//    run folder (BackupHistory::SaveCopy), so that the restore can be undone;
// 3. the backup's copy replaces it (or the file its link leads to, so that
//    the link stays) in one rename, with its owner and mode.
// The restore is a run of the history (RunKind::kRestore): its record and
// its log "tabsync-restore.log" lie in its run folder of the shared
// database folder's history. SIGINT and SIGTERM (tools.stop) stop it
// between two databases. Prints "restored <database> from <backup>" for
// each on tools.out; a database that cannot be restored is named in a
// message and stays as it was, and the others are still restored. Returns
// 0 when all went back (or the operator declined, or nothing was to go
// back), 1 when one could not, 2 when it stopped before (no location,
// another run, no backups), 3 (kExitNoAnswer) when the question got no
// answer, the input having ended, 128 + the signal's number when one
// stopped it.
// waitSeconds: how long to wait for the run lock (RunLockOptions).
int Restore(const SiteTools& tools, const std::string& run, bool unattended,
            long long waitSeconds = 0);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_RESTORE_H_
