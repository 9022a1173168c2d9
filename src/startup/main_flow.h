#ifndef TABSYNC_STARTUP_MAIN_FLOW_H_
#define TABSYNC_STARTUP_MAIN_FLOW_H_

#include <functional>
#include <string>

#include "dbengine/dao.h"
#include "install/backup_history.h"
#include "install/install_platform.h"
#include "log/run_log.h"
#include "platform/clock.h"
#include "platform/shared_files_store.h"

namespace tabsync::startup {

// The program's exit status (docs/installation.md).
constexpr int kExitSuccess = 0;         // the run had no errors, or the operator declined
constexpr int kExitErrorsDetected = 1;  // the run ended with errors detected
constexpr int kExitStopped = 2;         // the program stopped before the run

// The name of the log file in the shared database folder.
constexpr char kLogFileName[] = "Stabmerge.log";
// The file in the shared database folder whose lock a run holds, so that only
// one run at a time works on the databases.
constexpr char kLockFileName[] = "tabsync.lock";

// The update of all databases from an update folder, writing to the log and
// keeping replaced backups in the history. Returns ErrorsDetected.
using UpdateRun = std::function<bool(log::RunLog& log, install::BackupHistory& history,
                                     const std::string& updateFolder)>;

// The update run of the engine: UpdateAllDatabases with a fresh state over
// these objects, which must outlive the result.
UpdateRun EngineUpdateRun(dao::DatabaseEngine& dbEngine, platform::FileSystem& files,
                          const platform::RegistrationStore& registrations);

// Everything Main works on. The objects must outlive the call.
struct MainPlatform {
  install::InstallPlatform install;
  const platform::SharedFilesStore& share;
  const platform::Clock& clock;
  UpdateRun run;
};

// True when both "accounting.mdb" and "users.mdb" exist in folder ("" is the
// current directory). "users.mdb" is looked for only when "accounting.mdb"
// is there.
bool FolderHasDatabases(const platform::FileSystem& files, const std::string& folder);

// The installation flow, once through (docs/installation.md): takes the
// update folder from the argument text ("" is the current directory, given to
// the run as "."), checks that it holds a database set, reads the
// shared-files location (refusing one that is no absolute folder), takes the
// run lock in the shared database folder (refusing to go on while another
// run holds it), makes sure the six data sources exist (offering to move
// databases that lie outside the shared database folder), asks before
// updating databases that already exist, moves the old log file into the
// backup history, runs the update, and after a run with errors tells the
// operator and shows the log window until it is closed. Returns the exit
// status.
int Main(MainPlatform& platform, const std::string& argumentText);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_MAIN_FLOW_H_
