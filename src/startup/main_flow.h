#ifndef TABSYNC_STARTUP_MAIN_FLOW_H_
#define TABSYNC_STARTUP_MAIN_FLOW_H_

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "dbengine/dao.h"
#include "install/backup_history.h"
#include "install/install_platform.h"
#include "log/run_log.h"
#include "platform/clock.h"
#include "platform/progress_display.h"
#include "platform/shared_files_store.h"
#include "platform/stop_signals.h"
#include "startup/site_tools.h"

namespace tabsync::startup {

// The program's exit status (docs/installation.md).
constexpr int kExitSuccess = 0;         // the run had no errors, or the operator declined
constexpr int kExitErrorsDetected = 1;  // the run ended with errors detected
constexpr int kExitStopped = 2;         // the program stopped before the run
constexpr int kExitNoAnswer = 3;        // a question got no answer (end of input)

// The name of the log file in the shared database folder.
constexpr char kLogFileName[] = "Stabmerge.log";

// How an update run ended.
struct RunOutcome {
  bool errors_detected = false;
  int databases_updated = 0;  // of the six, those without an error of their own
  int errors = 0;             // error lines logged
  bool completed = true;      // it went through every database ("## END UPDATING")
  int stopped_by = 0;         // the signal that stopped it between databases; 0: none
};

// The update of all databases from an update folder, finding them through
// `registrations`, writing to the log and keeping replaced backups in the
// history.
using UpdateRun = std::function<RunOutcome(log::RunLog& log, install::BackupHistory& history,
                                           const platform::RegistrationStore& registrations,
                                           const std::string& updateFolder)>;

// The update run of the engine: UpdateAllDatabases with a fresh state over
// these objects, which must outlive the result, showing its progress on
// `progress`, and stopping between databases once `stop` (when not null) has
// caught a signal.
UpdateRun EngineUpdateRun(dao::DatabaseEngine& dbEngine, platform::FileSystem& files,
                          platform::ProgressDisplay& progress,
                          const platform::StopSignals* stop = nullptr);

// Everything Main works on. The objects must outlive the call.
struct MainPlatform {
  install::InstallPlatform install;
  const platform::SharedFilesStore& share;
  const platform::Clock& clock;
  UpdateRun run;
  // Where a run's summary line and a dry run's log are printed (standard
  // output on the console); null: the summary is not printed.
  std::ostream* out = nullptr;
  // Where what no log can hold is printed (standard error): why the log
  // file could not be written. Null: not printed.
  std::ostream* err = nullptr;
  // How often the run log writes the lines waiting in its buffer
  // (RunLog::StartFlushTimer); zero: only at the log's own flush points. Set
  // only with a file system that may be used from the timer's thread.
  std::chrono::milliseconds log_flush_interval{0};
  // Caught from the moment the update begins (Catch), so that SIGINT and
  // SIGTERM stop it between databases; null: they end the program as they
  // would.
  platform::StopSignals* stop = nullptr;
};

// How Main runs (the command line's options).
struct RunOptions {
  // Every question is answered Yes without being shown; after a run with
  // errors neither the errors message nor the log window is shown.
  bool unattended = false;
  // The whole update on copies of the databases (DryRunSite); its log is
  // printed on `out`, and nothing of the site changes.
  bool dry_run = false;
  // With dry_run: `out` gets the counts of what the run did per database
  // (SummaryTable) instead of its log.
  bool summary = false;
  // How long to wait for the run lock while another run holds it (seconds;
  // kWaitWithoutLimit: until it is free); 0 stops at once.
  long long wait_seconds = 0;
};

// True when both "accounting.mdb" and "users.mdb" exist in folder ("" is the
// current directory). "users.mdb" is looked for only when "accounting.mdb"
// is there.
bool FolderHasDatabases(const platform::FileSystem& files, const std::string& folder);

// When FolderHasDatabases is false because "accounting.mdb" or "users.mdb"
// (looked at in that order, as there) is there but is no file: its path and
// what it is, "<path> (a folder)" or "<path> (a symbolic link that leads to
// no file)". "" when the first of them that is no file is missing.
std::string MisfitDatabase(const platform::FileSystem& files, const std::string& folder);

// The installation flow, once through (docs/installation.md): takes the
// update folder from the argument text ("" is the current directory, given to
// the run as "."), checks that it holds a database set, reads the
// shared-files location (refusing one that is no absolute folder), takes the
// run lock in the shared database folder (refusing to go on while another
// run holds it), makes sure the six data sources exist (offering to move
// databases that lie outside the shared database folder), asks before
// updating databases that already exist, moves the old log file into the
// backup history, runs the update, prints the summary line, and after a run
// with errors tells the operator and shows the log window until it is
// closed. A question that gets no answer (the end of the console's input)
// stops the program with a message and kExitNoAnswer. A dry run takes the lock only where a run has left its lock file,
// checks the data sources as the run does (creating the missing ones in
// memory, DryRunDataSources), offers no move and goes on to the run on
// copies. When the log file could not be written in full, both say why on
// `err`. A run that updates writes its record in the backup history of the
// shared database folder (docs/file-operations.md): the version, the update
// folder and its release, each database's outcome, the error count and how
// it ended; every record the run made gets its end. A run stopped by a
// signal between databases ends with ExitStatusOfSignal, after its summary
// line, without the errors message. Returns the exit status.
int Main(MainPlatform& platform, const std::string& argumentText,
         const RunOptions& options = RunOptions());

// The summary line of a run: "6 of 6 databases updated, 0 errors, 1.2 s;
// log: <path>" ("1 error" for one).
std::string SummaryLine(const RunOutcome& outcome, long long milliseconds,
                        const std::string& logPath);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_MAIN_FLOW_H_
