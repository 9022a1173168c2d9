#ifndef TABSYNC_INSTALL_BACKUP_HISTORY_H_
#define TABSYNC_INSTALL_BACKUP_HISTORY_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace tabsync::install {

// The folder of a history, in the folder of the files it keeps.
constexpr char kBackupHistoryFolder[] = "backups";
// How many run folders a history keeps.
constexpr int kBackupRunsKept = 10;
// The history's record in each run folder it makes (docs/file-operations.md).
constexpr char kRunRecordName[] = "tabsync-run";
// The first line of a record.
constexpr char kRunRecordHeader[] = "tabsync run record 1";

// "YYYYMMDD-HHMMSS" of a moment: the name of a run's folder in a history.
std::string RunFolderName(const platform::LocalTime& runStart);

// True for a run folder's name: "YYYYMMDD-HHMMSS", with "-" and a number
// after it when two runs started within one second.
bool IsRunFolderName(const std::string& name);

// What the record of a run folder says.
struct RunRecord {
  // 1 for the first run folder of a history, one more than the highest
  // recorded for each later one: the order of the runs, whatever the clock.
  uint64_t sequence = 0;
  // The names the history put into the folder (or was about to).
  std::vector<std::string> kept;
};

// Reads the record of the run folder at `run` (a path, no trailing "/").
// False when the folder holds no record of the history: none, a symbolic link
// (the folder or the record), no regular file, a file too large, a first line
// other than kRunRecordHeader, or no valid sequence. Never raises.
bool ReadRunRecord(const platform::FileSystem& files, const std::string& run, RunRecord* record);

// The run folders of the history in `folder` (which ends in "/"), oldest
// first: folders that hold no record of the history (made by an older
// tabsync, or by hand) first, by name; then the recorded runs by sequence.
// Symbolic links are no run folders, and a history that is one has none.
// None when there is no history. Never raises.
std::vector<std::string> ListRunFolders(const platform::FileSystem& files,
                                        const std::string& folder);

// True when "backups" beside `folder` (which ends in "/"), or its run folder
// `run` (a name), is a symbolic link: nothing in it is the history's then.
bool RunFolderIsLinked(const platform::FileSystem& files, const std::string& folder,
                       const std::string& run);

// The name --restore gives its copy of a backup, beside the database:
// "." + file name + ".tabsync-restore".
std::string RestoreCopyPath(const std::string& database);

// Removes what a --restore killed half-way left beside the database (and
// beside the file it leads to, when it is a symbolic link to one): its copy
// (RestoreCopyPath) and copies of it cut off, ".X.mdb.tabsync-restore" and
// "[.].X.mdb.tabsync-restore.tmp-XXXXXX". Only the restore's names; call it
// under the run lock. Raises the file errors.
void RemoveRestoreLeftovers(platform::FileSystem& files, const std::string& database);

// The files that one run replaces or deletes (older ".bak" files, the old
// log) are kept instead of lost: Keep moves each into the run's folder of
// the history beside it, <folder>/backups/<run start>/, so that every state a
// database had before any of the last kBackupRunsKept runs is in a ".bak" or
// in the history (docs/file-operations.md).
//
// Each run folder the history makes holds its record (kRunRecordName): the
// run's sequence number, its start, and one line for each name kept there.
// Runs are ordered and removed by that record alone, never by the folders'
// names, which come from a clock that may have been wrong; a folder without
// the record is never removed, nor anything a record does not list. The
// history never writes or removes through a symbolic link.
class BackupHistory {
 public:
  // `files` must outlive the history. runStart names the run's folders.
  BackupHistory(platform::FileSystem& files, const platform::LocalTime& runStart);
  BackupHistory(const BackupHistory&) = delete;
  BackupHistory& operator=(const BackupHistory&) = delete;

  // Moves the file at `path` into the run's folder of its folder's history
  // and returns its new path. The run folder is made on the first Keep in a
  // folder ("backups" too when missing), named by the run start, with "-2",
  // "-3"... when the name is taken, and its record written; then the oldest
  // recorded runs beyond kBackupRunsKept are removed, never the run before
  // this one. A name the run folder holds already gets ".2", ".3"...
  // appended. The name is recorded before the file moves. Raises the file
  // errors, and 75 with a description that names the path when "backups" or
  // the run folder is a symbolic link or "backups" no folder; the file then
  // stays where it was.
  std::string Keep(const std::string& path);
  // Like Keep, but copies the file into the history and leaves it in place.
  std::string KeepCopy(const std::string& path);

  // The run's folder in the history of `folder` (ending in "/"), once Keep
  // has made it; "" before.
  std::string RunFolderIn(const std::string& folder) const;

 private:
  struct RunFolder {
    std::string path;  // ends in "/"
    std::unique_ptr<platform::AppendFile> record;
  };

  std::string PlaceFor(const std::string& path);
  RunFolder& RunFolderFor(const std::string& folder);
  std::string MakeRunFolder(const std::string& history);
  std::unique_ptr<platform::AppendFile> WriteRecord(const std::string& run, uint64_t sequence);
  void CheckNoLinks(const std::string& folder, const RunFolder& run) const;
  std::string FreeName(const std::string& runFolder, const std::string& name) const;

  platform::FileSystem& files_;
  platform::LocalTime run_start_;
  std::string run_name_;
  std::map<std::string, RunFolder> run_folders_;  // by the folder kept from
};

}  // namespace tabsync::install

#endif  // TABSYNC_INSTALL_BACKUP_HISTORY_H_
