#include "engine/update_run.h"

#include <functional>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "engine/catalogue.h"
#include "engine/format_upgrade.h"
#include "engine/release_version.h"
#include "engine/schema_renames.h"
#include "install/backup_history.h"
#include "install/data_source_lookup.h"

namespace tabsync::engine {
namespace {

constexpr char kDatabaseSeparator[] = "*********************************";

// Where one catalogue database and its update information lie.
struct DatabaseFiles {
  std::string data_source_name;
  std::string update_folder;
  std::string existing_folder;
  std::string file_name;
  std::string registered_path;  // the data source's "DBQ"
  // The file the database in use is: the path in use itself, or the file a
  // symbolic link there leads to (a database kept on another volume).
  std::string target_folder;
  std::string target_name;

  std::string ExistingPath() const { return existing_folder + file_name; }
  std::string UpdatePath() const { return update_folder + file_name; }
  std::string TargetPath() const { return target_folder + target_name; }
  // Beside the file it is to replace, so that the rename stays on one file
  // system and replaces the target, not the link.
  std::string WorkingPath() const { return WorkingCopyPath(target_folder, target_name); }
  bool IsReference() const { return !IsDataDatabase(file_name); }
};

// A failure the run logs in its own words and goes on after.
void ReportProblem(UpdateContext& context, const std::string& line) {
  context.CountError(line);
  context.WriteLog(line);
  context.FlushLog();
}

bool SkipDatabase(UpdateContext& context, const DatabaseFiles& db, const std::string& reason) {
  context.WriteLog("DATABASE START: " + db.file_name);
  ReportProblem(context, reason);
  return false;
}

// The exclusive open puts a release file in WAL mode back to the rollback
// journal, the format's (dao.h), as the rebuild does with its working copy.
void CopyWholeDatabase(UpdateContext& context, const DatabaseFiles& db) {
  context.Files().CopyFile(db.UpdatePath(), db.ExistingPath(), true);
  context.DBEngine().OpenDatabase(db.ExistingPath(), dao::kOpenExclusive)->Close();
  context.WriteLog("DATABASE START: " + db.file_name);
  context.WriteLog(" COPY WHOLE DATABASE " + db.file_name);
}

// Whether the database in use is there. A name that is there but cannot be
// examined (a link to a volume that is offline, a folder that may not be
// searched) is no missing database: copying the release over it would put an
// empty database in place of the operator's. Such a database is skipped.
bool FindDatabaseInUse(UpdateContext& context, const DatabaseFiles& db, bool* exists) {
  try {
    *exists = context.Files().CheckedFileExists(db.ExistingPath());
    return true;
  } catch (const Error& error) {
    context.WriteLog("DATABASE START: " + db.file_name);
    ReportError(context, error);
    return false;
  }
}

// The working copy and a journal, -wal or -shm its session may have left (a
// release file in WAL mode has both while its session opens).
std::vector<std::string> WorkingCopyFiles(const DatabaseFiles& db) {
  std::string copy = db.WorkingPath();
  return {copy, copy + "-journal", copy + "-wal", copy + "-shm"};
}

void RemoveWorkingCopy(UpdateContext& context, const DatabaseFiles& db) {
  for (const std::string& path : WorkingCopyFiles(db)) {
    if (context.Files().FileExists(path) || context.Files().IsSymbolicLink(path)) {
      context.Files().DeleteFile(path, true);
    }
  }
}

// One removal of a killed run's leftovers. A failure is logged naming what
// was to be removed, and the run goes on.
void RemoveLeftover(UpdateContext& context, const std::string& name,
                    const std::function<void()>& removal) {
  try {
    removal();
  } catch (const Error& error) {
    ReportError(context, Error(error.Number(), error.Description() +
                                                   " (leftover of a killed run: " + name + ")"));
  }
}

// What a run or a restore killed while working on this database left beside
// it: its working copy, the restore's copy, and copies cut off half-way.
// Under the run lock nobody else writes such names. Runs after the
// database's START line, so that a failure is logged within the database's
// lines.
void RemoveLeftovers(UpdateContext& context, const DatabaseFiles& db) {
  platform::FileSystem& files = context.Files();
  for (const std::string& path : WorkingCopyFiles(db)) {
    RemoveLeftover(context, path, [&] {
      if (files.FileExists(path) || files.IsSymbolicLink(path)) files.DeleteFile(path, true);
    });
  }
  RemoveLeftover(context, install::RestoreCopyPath(db.ExistingPath()),
                 [&] { install::RemoveRestoreLeftovers(files, db.ExistingPath()); });
  for (const auto& [folder, name] :
       {std::pair{db.existing_folder, db.file_name},
        std::pair{db.existing_folder, db.file_name + ".bak"},
        std::pair{db.target_folder, "." + db.target_name + kWorkingCopySuffix}}) {
    std::string path = folder + name;
    // The names CopyFile gives its temporary files (file-operations.md).
    std::string copies = folder + "." + name + ".tmp-XXXXXX";
    RemoveLeftover(context, copies, [&] { files.RemoveCutOffCopies(path); });
  }
}

// A database in use that is a symbolic link is worked on where the link
// leads. A link that leads nowhere is left to FindDatabaseInUse to report.
void FollowLink(UpdateContext& context, DatabaseFiles& db) {
  if (!context.Files().IsSymbolicLink(db.ExistingPath())) return;
  try {
    std::string target = context.Files().ResolvedPath(db.ExistingPath());
    db.target_folder = platform::WithTrailingSlash(platform::GetParentFolderName(target));
    db.target_name = target.substr(target.find_last_of('/') + 1);
  } catch (const Error&) {
    // Reported when the database in use is looked for.
  }
}

// Rebuilding a reference database would copy the update information onto
// itself, and a data database would be opened twice; either would write the
// update folder. Also through a link, or a second name of the same file.
bool KeepsOutOfUpdateFolder(UpdateContext& context, const DatabaseFiles& db) {
  platform::FileSystem& files = context.Files();
  for (const std::string& folder : {db.existing_folder, db.target_folder}) {
    if (files.SameFolder(folder, db.update_folder)) {
      return SkipDatabase(
          context, db, " !ERROR update folder and database folder are the same: " + folder);
    }
  }
  if (files.SameFile(db.ExistingPath(), db.UpdatePath())) {
    return SkipDatabase(
        context, db, " !ERROR database in use is its update information: " + db.ExistingPath());
  }
  return true;
}

// Why the opened update information cannot serve the release steps; "" when
// it can.
std::string ExaminedProblem(UpdateContext& context, dao::Database& database,
                            const std::string& fileName) {
  std::string damage = database.QuickCheck();
  if (!damage.empty()) return "is damaged (" + damage + ")";
  for (const std::string& table : context.TablesReadBySteps(BaseName(fileName))) {
    if (!FindTable(database, table)) return "lacks the table " + table;
  }
  return "";
}

// Why the update information cannot serve the update, in words that follow
// "its update information"; "" when it can. Decided before anything changes
// the database in use, so that a release file that is no usable database
// leaves it as it was instead of half updated. Raises nothing of its own.
std::string UpdateInformationProblem(UpdateContext& context, const DatabaseFiles& db) {
  platform::FileSystem& files = context.Files();
  std::string path = db.UpdatePath();
  if (!files.IsRegularFile(path)) {
    bool there = files.FileExists(path) || files.FolderExists(path) || files.IsSymbolicLink(path);
    return there ? "is not a regular file" : "is missing";
  }
  try {
    std::unique_ptr<dao::Database> database =
        context.DBEngine().OpenDatabase(path, dao::kOpenImmutable);
    std::string problem = ExaminedProblem(context, *database, db.file_name);
    database->Close();
    return problem;
  } catch (const Error& error) {
    return "cannot be read (" + std::to_string(error.Number()) + ": " + error.Description() + ")";
  }
}

std::string NotUpdatedLine(const DatabaseFiles& db, const std::string& problem) {
  return " !ERROR database not updated, its update information " + problem + ": " +
         db.UpdatePath();
}

bool UpdateInformationUsable(UpdateContext& context, const DatabaseFiles& db) {
  std::string problem = UpdateInformationProblem(context, db);
  if (problem.empty()) return true;
  ReportProblem(context, NotUpdatedLine(db, problem));
  return false;
}

// A missing database in use gets the update information whole, when that is
// a usable database; then what a killed run left beside it goes.
void CopyUsableDatabase(UpdateContext& context, const DatabaseFiles& db) {
  std::string problem = UpdateInformationProblem(context, db);
  if (!problem.empty()) {
    SkipDatabase(context, db, NotUpdatedLine(db, problem));
    if (!context.Files().FolderExists(db.existing_folder)) return;
  } else {
    CopyWholeDatabase(context, db);
  }
  RemoveLeftovers(context, db);
}

// The steps before the error capture. True when the database goes on to be
// backed up and opened; false when it was copied whole or is skipped.
bool PrepareDatabase(UpdateContext& context, DatabaseFiles& db, bool registered) {
  // The lookup of an unregistered data source gives the root folder, where
  // the database would be copied whole; such a database is skipped instead.
  if (!registered) {
    return SkipDatabase(context, db,
                        " !ERROR ODBC data source not registered: " + db.data_source_name);
  }
  // A relative path would be taken from wherever the program runs, and a
  // folder would put the database one folder up.
  if (!install::NamesDatabaseFile(context.Files(), db.registered_path)) {
    return SkipDatabase(
        context, db, " !ERROR ODBC data source does not name a database file: " + db.data_source_name);
  }
  FollowLink(context, db);
  if (!KeepsOutOfUpdateFolder(context, db)) return false;
  bool exists = false;
  if (!FindDatabaseInUse(context, db, &exists)) return false;
  if (!exists) {
    CopyUsableDatabase(context, db);
    return false;
  }
  context.WriteLog("DATABASE START: " + db.file_name);
  if (!context.Files().FolderExists(db.existing_folder)) {
    ReportProblem(context, " !ERROR ODBC-entried folder does not exist: " + db.existing_folder);
    return false;
  }
  RemoveLeftovers(context, db);
  if (db.IsReference()) {
    context.WriteLog("Database '" + db.data_source_name +
                     "' with merge information: " + db.ExistingPath());
    context.WriteLog("Database '" + db.data_source_name +
                     "' with DB to be updated: " + db.UpdatePath());
  }
  return true;
}

// Opens the database once, exclusively and only reading: the open rolls back
// what a writer that died mid-commit left in a hot journal, so that a copy
// of the file is not torn. Its pages are checked on the way: "" when they
// are sound, otherwise the check's first finding.
std::string SettleAndCheckDatabase(UpdateContext& context, const std::string& path) {
  std::unique_ptr<dao::Database> database =
      context.DBEngine().OpenDatabase(path, dao::kOpenDiscardChanges);
  std::string damage = database->QuickCheck();
  database->Close();
  return damage;
}

// The backup itself: path + ".bak", a copy of the settled file; an older
// backup of that name goes into the backup history first.
void CopyToBackup(UpdateContext& context, const std::string& path) {
  std::string backup = path + ".bak";
  if (context.Files().FileExists(backup)) context.History().Keep(backup);
  context.Files().CopyFile(path, backup, true);
  // Recorded once the backup is whole: a run killed before has not changed
  // the database, and its state before the run is what it holds now.
  context.History().NoteBackup(path);
}

// What kept the exclusive open before the backup from working. The engine
// refuses it (3045) while another connection holds a lock on the file, that
// is, while another program is in the middle of reading it (a read
// transaction, an open query) or of writing it, beyond the engine's short
// wait; merely having the file open takes no lock.
std::string OpenFailure(const Error& error) {
  if (error.Number() == errors::kFileInUse) return "another program is reading or writing it";
  return "it could not be opened exclusively";
}

// The backup is taken before anything opens the database. Without a backup
// nothing may change it, and a damaged database is neither updated nor
// backed up: its last backup stays the last good state.
bool BackUpDatabaseInUse(UpdateContext& context, const DatabaseFiles& db) {
  std::string damage;
  try {
    damage = SettleAndCheckDatabase(context, db.ExistingPath());
  } catch (const Error& error) {
    ReportError(context, error);
    ReportProblem(context,
                  " !ERROR database not updated, " + OpenFailure(error) + ": " + db.ExistingPath());
    return false;
  }
  if (!damage.empty()) {
    ReportProblem(context, " !ERROR database not updated, it is damaged (" + damage +
                               "): " + db.ExistingPath());
    return false;
  }
  if (RunCaptured(context, [&] { CopyToBackup(context, db.ExistingPath()); })) return true;
  ReportProblem(context, " !ERROR database not updated, its backup failed: " + db.ExistingPath());
  return false;
}

// Opens the database in use and the update information, each under the
// capture. True when both opened.
bool OpenBoth(UpdateContext& context, const std::string& existingPath, int existingOptions,
              const std::string& updatePath, int updateOptions, bool updateReadOnly) {
  dao::DatabaseEngine& engine = context.DBEngine();
  bool opened = RunCaptured(context, [&] {
    context.SetExistingDatabase(engine.OpenDatabase(existingPath, existingOptions));
  });
  opened &= RunCaptured(context, [&] {
    context.SetUpdateInfoDatabase(engine.OpenDatabase(updatePath, updateOptions, updateReadOnly));
  });
  return opened;
}

// Runs the release steps and closes both databases, the update information
// first. True when the opens, the merge of the database and the close
// (commit) of the update information went through.
bool UpdateAndClose(UpdateContext& context, bool opened, const std::string& fileName) {
  bool merged = false;
  RunCaptured(context, [&] { merged = context.ReleaseSteps()(context, BaseName(fileName)); });
  bool committed = RunCaptured(context, [&] { context.UpdateInfoDatabase().Close(); });
  RunCaptured(context, [&] { context.ExistingDatabase().Close(); });
  return opened && merged && committed;
}

// A data database is changed in place, in one session that commits at its
// close (a failed commit leaves it as it was); the update information is only
// read.
void UpdateDataDatabase(UpdateContext& context, const DatabaseFiles& db) {
  if (!BackUpDatabaseInUse(context, db)) return;
  bool opened = OpenBoth(context, db.ExistingPath(), dao::kOpenExclusive, db.UpdatePath(),
                         dao::kOpenImmutable, false);
  if (opened) UpgradeFormatStep(context, context.ExistingDatabase());
  UpdateAndClose(context, opened, db.file_name);
}

// The update information as delivered, beside the database in use, with the
// owner and mode of the file it is to replace.
void MakeWorkingCopy(UpdateContext& context, const DatabaseFiles& db) {
  context.Files().CopyFile(db.UpdatePath(), db.WorkingPath(), true);
  context.Files().CopyOwnerAndMode(db.ExistingPath(), db.WorkingPath());
}

// The database in use is merged into the working copy; its own session only
// reads (the release steps' changes to it serve the merge and are dropped).
bool MergeIntoWorkingCopy(UpdateContext& context, const DatabaseFiles& db) {
  if (!RunCaptured(context, [&] { MakeWorkingCopy(context, db); })) return false;
  bool opened = OpenBoth(context, db.ExistingPath(), dao::kOpenDiscardChanges, db.WorkingPath(),
                         dao::kOpenExclusive, false);
  if (opened) UpgradeFormatStep(context, context.UpdateInfoDatabase());
  return UpdateAndClose(context, opened, db.file_name);
}

// A reference database is rebuilt: the merged working copy replaces it in one
// rename. Without its opens, its merge or its commit, the working copy lacks
// the operator's content, and the database in use stays as it was.
void UpdateReferenceDatabase(UpdateContext& context, const DatabaseFiles& db) {
  if (!BackUpDatabaseInUse(context, db)) return;
  bool replaced = false;
  if (MergeIntoWorkingCopy(context, db)) {
    replaced = RunCaptured(context, [&] {
      context.Files().ReplaceFile(db.WorkingPath(), db.TargetPath());
    });
  } else {
    ReportProblem(context,
                  " !ERROR database not replaced, its merge failed: " + db.ExistingPath());
  }
  if (!replaced) RunCaptured(context, [&] { RemoveWorkingCopy(context, db); });
}

// The record's line of a database: updated, or not and why (its last error
// line).
void NoteOutcome(UpdateContext& context, const CatalogueEntry& entry, const std::string& error) {
  std::string file = entry.file_name;
  size_t text = error.find_first_not_of(' ');
  context.History().Note("database", error.empty() ? file + " updated"
                                                   : file + " not-updated " + error.substr(text));
}

// The safe point between two databases: none is open, each one done is
// whole. One line says where the run stopped.
bool StopBefore(UpdateContext& context, const CatalogueEntry& entry) {
  int signal = context.StopRequested();
  if (signal == 0) return false;
  context.SetStoppedBy(signal);
  context.WriteLog("## STOPPED BY SIGNAL " + std::to_string(signal) + " BEFORE " +
                   entry.file_name);
  context.FlushLog();
  return true;
}

// The next database would only fill the disk further; the one the full disk
// struck is left whole (its commit or its replacement did not happen). True
// when the run stops here, before the last database.
bool StopForFullDisk(UpdateContext& context, size_t index) {
  if (!context.DiskFull() || index + 1 >= std::size(DatabaseCatalogue)) return false;
  ReportProblem(context, std::string(" !ERROR disk full, the run stops: the databases after ") +
                             DatabaseCatalogue[index].file_name + " are not updated");
  return true;
}

void UpdateOneOfAll(UpdateContext& context, const std::string& folder, size_t index) {
  const CatalogueEntry& entry = DatabaseCatalogue[index];
  context.Progress().StartDatabase(static_cast<int>(index) + 1,
                                   static_cast<int>(std::size(DatabaseCatalogue)), entry.file_name);
  int errors_before = context.ErrorCount();
  UpdateDatabase(context, entry.data_source_name, folder, entry.file_name);
  bool updated = context.ErrorCount() == errors_before;
  if (updated) context.CountDatabaseUpdated();
  NoteOutcome(context, entry, updated ? "" : context.LastErrorLine());
}

void ReportRunEnded(UpdateContext& context, const Error& error) {
  try {
    ReportError(context, error);
  } catch (const Error&) {
    // Writing the log is often the very failure that ended the run;
    // ErrorsDetected is set all the same, so the operator is still told.
  }
}

}  // namespace

std::string WorkingCopyPath(const std::string& folder, const std::string& fileName) {
  return folder + "." + fileName + kWorkingCopySuffix;
}

void UpdateAllDatabases(UpdateContext& context, const std::string& updateFolder) {
  std::string folder = platform::WithTrailingSlash(updateFolder);
  install::BackupHistory& history = context.History();
  if (history.RecordStarted())
    history.Note("release", UpdateFolderRelease(context.DBEngine(), folder));
  size_t next = 0;  // the catalogue entry the run has not begun
  try {
    context.WriteLog("## BEGIN UPDATING");
    for (; next < std::size(DatabaseCatalogue); ++next) {
      if (StopBefore(context, DatabaseCatalogue[next])) break;
      UpdateOneOfAll(context, folder, next);
      if (StopForFullDisk(context, next)) {
        ++next;
        break;
      }
    }
    if (next == std::size(DatabaseCatalogue)) {
      context.WriteLog("## END UPDATING");
      context.FlushLog();
      context.SetCompleted();
    }
  } catch (const Error& error) {
    ReportRunEnded(context, error);
    if (next < std::size(DatabaseCatalogue))
      NoteOutcome(context, DatabaseCatalogue[next++], context.LastErrorLine());
  }
  for (; next < std::size(DatabaseCatalogue); ++next)
    history.Note("database", std::string(DatabaseCatalogue[next].file_name) + " not-reached");
}

void UpdateDatabase(UpdateContext& context, const std::string& dataSourceName,
                    const std::string& updateFolder, const std::string& fileName) {
  context.WriteLog(kDatabaseSeparator);
  context.SetCurrentDatabaseFile(fileName);
  DatabaseFiles db{dataSourceName, updateFolder, "", fileName, "", "", fileName};
  bool registered =
      install::GetDataSourceFolder(context.Registrations(), dataSourceName, &db.existing_folder);
  install::GetDataSourcePath(context.Registrations(), dataSourceName, &db.registered_path);
  db.target_folder = db.existing_folder;
  if (PrepareDatabase(context, db, registered) && UpdateInformationUsable(context, db)) {
    if (db.IsReference()) {
      UpdateReferenceDatabase(context, db);
    } else {
      UpdateDataDatabase(context, db);
    }
  }
  context.WriteLog("DATABASE END: " + fileName);
  // Each database's lines are in the file once it is done.
  context.FlushLog();
}

}  // namespace tabsync::engine
