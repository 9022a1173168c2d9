#ifndef TABSYNC_STARTUP_SITE_TOOLS_H_
#define TABSYNC_STARTUP_SITE_TOOLS_H_

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "dbengine/dao.h"
#include "install/backup_history.h"
#include "install/install_platform.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/shared_files_store.h"
#include "platform/stop_signals.h"
#include "startup/command_line.h"

namespace tabsync::startup {

// The file in the shared database folder whose lock a run holds, so that only
// one run at a time works on the databases.
constexpr char kLockFileName[] = "tabsync.lock";

// What --status and --restore work on. The objects must outlive the call.
struct SiteTools {
  install::InstallPlatform install;
  const platform::SharedFilesStore& share;
  const platform::Clock& clock;
  dao::DatabaseEngine& engine;
  std::ostream& out;
  // Where a note that waits for the run lock goes (standard error); null:
  // nowhere.
  std::ostream* err = nullptr;
  // Caught from the moment a restore begins replacing databases; null: not.
  platform::StopSignals* stop = nullptr;
};

// How TakeRunLock takes the lock.
struct RunLockOptions {
  // How long to wait while another run holds it: 0 not at all,
  // kWaitWithoutLimit until it is free.
  long long wait_seconds = 0;
  // Whether to write this process into the lock file (a dry run writes
  // nothing).
  bool record_holder = true;
};

// The holder of the run lock in the shared database folder, as --status
// shows it.
struct RunLockState {
  bool held = false;
  bool holder_known = false;  // the holder recorded itself (FileLock::RecordHolder)
  platform::LockHolder holder;
};

// The program's version, as records and --version give it.
const char* ProgramVersion();

// The setting in share.ini that tells how many update runs the backup
// history keeps.
constexpr char kKeptUpdateRunsKey[] = "KeptUpdateRuns";

// How many update runs the backup history keeps: the setting
// kKeptUpdateRunsKey when it is a whole number from 1 to
// install::kMaxBackupRunsKept, install::kBackupRunsKept otherwise.
int KeptUpdateRuns(const platform::SharedFilesStore& share);

// The exit status of a run stopped by `signal`: 128 + its number (130 for
// SIGINT, 143 for SIGTERM).
int ExitStatusOfSignal(int signal);

// Reads the shared-files location (ending in "/"); the shared database
// folder is location + "Infrastructure/DB/". A location that is not
// registered, or is no absolute folder, gets its critical message and false.
bool ReadLocation(const platform::SharedFilesStore& share, platform::UserInterface& ui,
                  std::string* location);

// Shows the critical message "Cannot read the ODBC data sources:" with the
// path of odbc.ini and why it cannot be read, then `ending` when not empty,
// and gives false when odbc.ini is there but cannot be read (no regular
// file, too large, not readable: RegistrationStore::UnreadableCause). True
// otherwise, also when there is no odbc.ini yet.
bool CheckRegistrations(const install::InstallPlatform& platform, const std::string& ending);

// Takes the run lock in the shared database folder, creating the folder (and
// those above it up to the location) when missing, and records this process
// and the clock's time in it (unless options say not to; a record that
// cannot be written is left out). While another run holds it, waits as
// options say, looking again every 250 ms, after one note on tools.err that
// names the holder. Null, after a critical message, when another run holds
// it still or it cannot be taken.
std::unique_ptr<platform::FileLock> TakeRunLock(const install::InstallPlatform& platform,
                                                const platform::Clock& clock,
                                                const std::string& location,
                                                const RunLockOptions& options = RunLockOptions(),
                                                std::ostream* err = nullptr);

// Whether a run holds the lock now, and who. Takes the lock for an instant
// when its file exists; creates nothing.
RunLockState ReadRunLock(platform::FileSystem& files, const std::string& sharedFolder);

// "pid 4242, started 2026-12-08 09:05:31", or "holder not recorded".
std::string HolderText(const RunLockState& state);

// Rows as columns two blanks apart, one line each. The last cell of a row is
// not padded and does not widen its column, so a row may end in a longer
// text (a problem, a remark).
std::string AlignedColumns(const std::vector<std::vector<std::string>>& rows);

// "512 B", "20.0 KiB", "62.5 MiB", "1.2 GiB": at most 9 characters.
std::string SizeText(long long bytes);

// The clock's time as --status shows it: "2026-12-08 09:05:31".
using install::TimeText;

// Makes sure the database folders below the location exist. False, after
// the critical message "Cannot create the database folder:", when one cannot
// be created.
bool EnsureDatabaseFolders(const install::InstallPlatform& platform, const std::string& location);

// Tells the operator that a question got no answer, the input having ended:
// what was not done (`nothingDone`, "Nothing was restored.") and the
// command that runs unattended (`unattended`, "tabsync --yes DB").
void ShowNoAnswer(platform::UserInterface& ui, const std::string& nothingDone,
                  const std::string& unattended);

// Opens the database only to read it and closes it again, which rolls back
// what a writer killed in the middle of its commit left in a hot journal.
// Raises the engine's errors.
void SettleDatabase(dao::DatabaseEngine& engine, const std::string& path);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_SITE_TOOLS_H_
