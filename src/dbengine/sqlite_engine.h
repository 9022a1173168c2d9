#ifndef TABSYNC_DBENGINE_SQLITE_ENGINE_H_
#define TABSYNC_DBENGINE_SQLITE_ENGINE_H_

#include <memory>

#include "dbengine/dao.h"

namespace tabsync::dao {

// The engine over SQLite 3 files, in the format of docs/database-format.md.
//
// Each open database is one session: one SQLite transaction from the open to
// Close, so a change is visible at once to later operations on the handle and
// reaches the file as one commit; a failing operation undoes only itself, and
// a process that dies before Close leaves the file as it was. An exclusive
// open holds SQLite's exclusive lock for the whole session; a shared open
// holds a shared lock, so neither kind can be had while the other is held.
//
// The locks are POSIX record locks, which the system drops for the whole
// process when any descriptor of the file is closed: a process that holds a
// database open through the engine must not open and close that file by
// other means (copying it, reading its bytes) until it has closed it here.
std::unique_ptr<DatabaseEngine> NewSqliteEngine();

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_SQLITE_ENGINE_H_
