#ifndef TABSYNC_STARTUP_SPACE_ESTIMATE_H_
#define TABSYNC_STARTUP_SPACE_ESTIMATE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/registration_store.h"

namespace tabsync::startup {

// How many bytes of log a byte of merged data gives at most, about: the
// merge writes a line for every field of every record it adds, some 50 bytes
// beside a value that the database stores in a few (docs/installation.md,
// "Disk space").
constexpr uint64_t kLogBytesPerMergedByte = 8;
// What the history's records and the log's first lines take, at most.
constexpr uint64_t kHistoryBytesPerFolder = 64 * 1024;

// What an update run will write on one file system, estimated before it
// changes anything.
struct SpaceNeed {
  std::string folder;      // the first folder of the run's files found on it, ending in "/"
  uint64_t device = 0;     // platform::DiskSpace::device
  uint64_t available = 0;  // bytes free
  uint64_t backups = 0;    // the ".bak" copies: the databases in use
  uint64_t copies = 0;     // working copies of the reference databases, whole copies of missing ones
  uint64_t growth = 0;     // what the data databases gain: their update information's size
  uint64_t journal = 0;    // the largest rollback journal of one database while it commits
  uint64_t log = 0;        // the log, estimated (kLogBytesPerMergedByte)
  uint64_t history = 0;    // the old log's compressed copy (at most its size) and the records

  uint64_t Total() const { return backups + copies + growth + journal + log + history; }
};

// Estimates what the run will write, per file system, from the sizes of the
// databases it will update (found as the run finds them: through their data
// sources, a symbolic link followed to its file) and of their update
// information in updateFolder (ending in "/"); the log and the history of
// the shared folder (ending in "/") count on its file system. A database the
// run skips (no usable data source or update information, a folder that is
// missing or is the update folder) counts nothing. For each database in use,
// of size D, with update information of size U:
// - missing: a whole copy, U;
// - a data database: its backup D (beside the data source's path), the
//   records it gains, at most U, a rollback journal of at most D while it
//   commits, and a log of kLogBytesPerMergedByte × U;
// - a reference database: its backup D, its working copy, at most U + D,
//   whose journal takes at most U, and a log of kLogBytesPerMergedByte × D.
// The journals are counted once, the largest: the databases are updated one
// after the other. The history takes kHistoryBytesPerFolder and the size of
// the old log, whose compressed copy it keeps. Never raises; a file system whose free space cannot be
// had is left out.
std::vector<SpaceNeed> EstimateSpace(const platform::FileSystem& files,
                                     const platform::RegistrationStore& registrations,
                                     const std::string& updateFolder,
                                     const std::string& sharedFolder);

// The text that refuses a run for want of space on the file system of
// `need`: its folder, the bytes free and the estimate with its parts.
std::string NoSpaceText(const SpaceNeed& need);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_SPACE_ESTIMATE_H_
