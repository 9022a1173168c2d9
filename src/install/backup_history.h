#ifndef TABSYNC_INSTALL_BACKUP_HISTORY_H_
#define TABSYNC_INSTALL_BACKUP_HISTORY_H_

#include <map>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace tabsync::install {

// The folder of a history, in the folder of the files it keeps.
constexpr char kBackupHistoryFolder[] = "backups";
// How many run folders a history keeps.
constexpr int kBackupRunsKept = 10;

// "YYYYMMDD-HHMMSS" of a moment: the name of a run's folder in a history.
std::string RunFolderName(const platform::LocalTime& runStart);

// True for a run folder's name: "YYYYMMDD-HHMMSS", with "-" and a number
// after it when two runs started within one second.
bool IsRunFolderName(const std::string& name);

// The run folders of the history in `folder` (which ends in "/"), oldest
// first; none when it has no history. Never raises.
std::vector<std::string> ListRunFolders(const platform::FileSystem& files,
                                        const std::string& folder);

// The files that one run replaces or deletes (older ".bak" files, the old
// log) are kept instead of lost: Keep moves each into the run's folder of
// the history beside it, <folder>/backups/<run start>/, so that every state a
// database had before any of the last kBackupRunsKept runs is in a ".bak" or
// in the history (docs/file-operations.md).
class BackupHistory {
 public:
  // `files` must outlive the history. runStart names the run's folders.
  BackupHistory(platform::FileSystem& files, const platform::LocalTime& runStart);
  BackupHistory(const BackupHistory&) = delete;
  BackupHistory& operator=(const BackupHistory&) = delete;

  // Moves the file at `path` into the run's folder of its folder's history
  // and returns its new path. The run folder is made on the first Keep in a
  // folder ("backups" too when missing), named by the run start, with "-2",
  // "-3"... when an earlier run took the name; then the oldest run folders
  // beyond kBackupRunsKept are removed. A name the run folder holds already
  // gets ".2", ".3"... appended. Raises the file errors; the file then stays
  // where it was.
  std::string Keep(const std::string& path);
  // Like Keep, but copies the file into the history and leaves it in place.
  std::string KeepCopy(const std::string& path);

  // The run's folder in the history of `folder` (ending in "/"), once Keep
  // has made it; "" before.
  std::string RunFolderIn(const std::string& folder) const;

 private:
  std::string PlaceFor(const std::string& path);
  std::string RunFolderFor(const std::string& folder);
  std::string MakeRunFolder(const std::string& history);
  void RemoveOldRuns(const std::string& history, const std::string& current);
  void RemoveRun(const std::string& run);
  std::string FreeName(const std::string& runFolder, const std::string& name) const;

  platform::FileSystem& files_;
  std::string run_name_;
  std::map<std::string, std::string> run_folders_;  // by the folder kept from
};

}  // namespace tabsync::install

#endif  // TABSYNC_INSTALL_BACKUP_HISTORY_H_
