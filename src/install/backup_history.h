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
// How many update runs a history keeps unless told otherwise (SetRunsKept);
// the restores made since the oldest of them stay as well.
constexpr int kBackupRunsKept = 10;
// The most update runs a history may be told to keep.
constexpr int kMaxBackupRunsKept = 1000;
// The history's record in each run folder it makes (docs/file-operations.md).
constexpr char kRunRecordName[] = "tabsync-run";
// The first line of a record.
constexpr char kRunRecordHeader[] = "tabsync run record 1";

// "YYYY-MM-DD HH:MM:SS" of a moment, as run records, the lock's holder and
// --status write it.
std::string TimeText(const platform::LocalTime& time);

// "YYYYMMDD-HHMMSS" of a moment: the name of a run's folder in a history.
std::string RunFolderName(const platform::LocalTime& runStart);

// True for a run folder's name: "YYYYMMDD-HHMMSS", with "-" and a number
// after it when two runs started within one second.
bool IsRunFolderName(const std::string& name);

// What a run was: an update or a restore.
enum class RunKind { kUpdate, kRestore };

// The outcome of one catalogue database in a run's record.
struct DatabaseOutcome {
  std::string file;     // the catalogue file name, "users.mdb"
  std::string outcome;  // "updated", "not-updated", "not-reached", "restored", ...
  std::string why;      // for "not-updated" and "not-restored": the reason; "" otherwise
};

// What the record of a run folder says (docs/file-operations.md).
struct RunRecord {
  // 1 for the first run folder of a history, one more than the highest
  // recorded for each later one: the order of the runs, whatever the clock.
  uint64_t sequence = 0;
  // The names the history put into the folder (or was about to).
  std::vector<std::string> kept;
  std::string start;  // "YYYY-MM-DD HH:MM:SS" as the clock gave it
  // "update" or "restore"; "" in a record of an older tabsync, which was an
  // update run.
  std::string kind;
  std::string version;     // the program's version
  std::string release;     // an update's: the release of its update folder
  std::string folder;      // an update's: its update folder
  std::string restore_of;  // a restore's: the run it returned to, "" for the .bak files
  // The files of this folder whose ".bak" the run made (the state before it),
  // and those whose copy it saved in its run folder before replacing them.
  std::vector<std::string> backups;
  std::vector<std::string> saved;
  std::vector<DatabaseOutcome> databases;
  int errors = -1;         // -1: not recorded
  std::string end;         // the end's time; "" when the record has no end
  // How it ended: "done", "errors", "stopped", "signal N"; "" without an end
  // (a run killed, or still going on).
  std::string ending;

  bool IsUpdate() const { return kind != "restore"; }
};

// The record of one run folder of a history.
struct RecordedRun {
  std::string name;  // the run folder's name
  RunRecord record;
};

// The recorded runs of the history in `folder` (which ends in "/"), by
// sequence: what ListRunFolders lists after the unrecorded folders. Never
// raises.
std::vector<RecordedRun> ReadRecordedRuns(const platform::FileSystem& files,
                                          const std::string& folder);

// The size of the history in `folder` (ending in "/"): the bytes of the files
// in its run folders, recorded or not, links not followed. Never raises.
long long HistorySize(const platform::FileSystem& files, const std::string& folder);

// Where the history keeps what the database `file` in `folder` (ending in
// "/") held just before the run `run` of that folder's history: the run
// itself when it changed the database, or else the oldest later run that did
// (whatever ran after `run`, the history holds what each run replaced). A
// restore's saved copy in its run folder, or the ".bak" an update made, in
// the run folder of the next update that replaced it or beside the
// database. "" when no run from `run` on changed the database. A `run` that
// is no recorded run of the history stands for the recorded runs whose names
// do not sort before it.
std::string StateBefore(const platform::FileSystem& files, const std::string& folder,
                        const std::string& file, const std::string& run);

// The update run that `--restore` alone undoes, in the history of `folder`:
// the last update run, or, when the update runs just before it were attempts
// at the same release that did not end "done" (killed, stopped, with errors),
// the first of those attempts. "" when the history records no update run of
// this tabsync (records with a kind).
std::string RunToUndo(const platform::FileSystem& files, const std::string& folder);

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
  // `files` must outlive the history. runStart names the run's folders and
  // `kind` goes into their records.
  BackupHistory(platform::FileSystem& files, const platform::LocalTime& runStart,
                RunKind kind = RunKind::kUpdate);
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
  // Like Keep, for a log: the file goes into the history compressed (gzip,
  // path's name + ".gz"), and is then deleted. Where it cannot be compressed
  // it is kept as Keep keeps it. Raises as Keep.
  std::string KeepCompressed(const std::string& path);
  // KeepCopy of a database in use that the run is about to replace, with
  // "saved <file name>" in the record: the state before the run.
  std::string SaveCopy(const std::string& database);
  // Records "backup <file name>" in the run's record of the database's
  // folder (made when missing): the run has made database + ".bak", the
  // state before it. Raises as Keep.
  void NoteBackup(const std::string& database);
  // A new file of that name in the run's folder of `folder`'s history,
  // recorded as kept; returns its path. Raises as Keep.
  std::string PlaceNew(const std::string& folder, const std::string& name);

  // The update runs kept (kBackupRunsKept unless set; 1 to
  // kMaxBackupRunsKept). Set it before the first Keep.
  void SetRunsKept(int count) { runs_kept_ = count; }

  // Makes the run's folder in the history of `folder` (ending in "/") when
  // Keep has not, and makes its record the run's record, which Note and End
  // write to. Raises as Keep; the folder is then tried again at the next
  // Note.
  void StartRecord(const std::string& folder);
  bool RecordStarted() const { return !main_folder_.empty(); }
  // Appends the line "key value" to the run's record (control characters
  // shown as "?"); nothing before StartRecord. A line that cannot be written
  // is lost: the record is the summary, the log the account.
  void Note(const std::string& key, const std::string& value);
  // Writes "errors <count>" to the run's record and "end <now> <ending>" to
  // every record the run made. Never raises.
  void End(const platform::LocalTime& now, int errors, const std::string& ending);

  // The run's folder in the history of `folder` (ending in "/"), once Keep
  // has made it; "" before.
  std::string RunFolderIn(const std::string& folder) const;

 private:
  struct RunFolder {
    std::string path;  // ends in "/"
    std::unique_ptr<platform::AppendFile> record;
  };

  std::string PlaceFor(const std::string& path);
  std::string PlaceNamed(const std::string& folder, const std::string& name);
  static void Append(RunFolder& run, const std::string& line);
  RunFolder& RunFolderFor(const std::string& folder);
  std::string MakeRunFolder(const std::string& history);
  std::unique_ptr<platform::AppendFile> WriteRecord(const std::string& run, uint64_t sequence);
  void CheckNoLinks(const std::string& folder, const RunFolder& run) const;
  std::string FreeName(const std::string& runFolder, const std::string& name) const;

  platform::FileSystem& files_;
  platform::LocalTime run_start_;
  RunKind kind_;
  int runs_kept_ = kBackupRunsKept;
  std::string run_name_;
  std::string main_folder_;    // the folder StartRecord named
  RunFolder* main_ = nullptr;  // the run's record, once made
  std::map<std::string, RunFolder> run_folders_;  // by the folder kept from
};

}  // namespace tabsync::install

#endif  // TABSYNC_INSTALL_BACKUP_HISTORY_H_
