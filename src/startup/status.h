#ifndef TABSYNC_STARTUP_STATUS_H_
#define TABSYNC_STARTUP_STATUS_H_

#include <string>
#include <vector>

#include "install/backup_history.h"
#include "platform/file_system.h"
#include "startup/site_tools.h"

namespace tabsync::startup {

// One database of the site as --status shows it.
struct DatabaseStatus {
  std::string data_source;
  std::string file;     // its "DBQ"; "" when not registered
  std::string problem;  // why the file cannot be looked at; "" when it can
  bool exists = false;
  platform::FileInfo info;
  std::string version;  // the newest DBVersion of its Version table; "" when none
  int format_version = 0;  // its file format version; 0 when it cannot be read
  // Whether it has a Version table at all (availability and onlineshop have
  // none in any release, so they show no release).
  bool version_table = false;
  bool backup = false;  // file + ".bak"
  platform::FileInfo backup_info;
  std::vector<std::string> runs;  // the run folders of the history beside it
};

struct SiteStatus {
  std::string shared_folder;
  std::string lock_file;
  RunLockState lock;                      // whether a run holds the lock, and who
  std::vector<DatabaseStatus> databases;  // in catalogue order
  // The runs recorded in the shared database folder's history, by sequence;
  // the last is the last run.
  std::vector<install::RecordedRun> runs;
  int history_runs = 0;          // run folders there, recorded or not
  long long history_bytes = 0;   // the histories of every database folder
};

// How a run's record says it ended, for the operator: its ending ("done",
// "errors", "stopped", "signal 15"), or without an end "running" while a
// run holds the lock and "interrupted" otherwise (a run that was killed).
std::string RunEnding(const install::RunRecord& record, bool running);

// Reads the site: the six data sources in catalogue order, their files,
// their releases and format versions (read through the engine, only
// reading), backups and
// history, and whether a run holds the lock. False, after a critical
// message, when share.ini or odbc.ini cannot be read.
bool ReadSiteStatus(const SiteTools& tools, SiteStatus* status);

// The status as a plain table with aligned columns that fits 100 columns
// (paths relative to the shared database folder, sizes in KiB/MiB/GiB, times
// to the minute; a database outside that folder is named in full below the
// table), and as JSON (the same facts, in full; docs/installation.md).
std::string StatusTable(const SiteStatus& status);
std::string StatusJson(const SiteStatus& status);

// --status: prints the table (or the JSON) on tools.out. Returns the exit
// status: 0, or 2 when share.ini or odbc.ini cannot be read.
int ShowStatus(const SiteTools& tools, bool json);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_STATUS_H_
