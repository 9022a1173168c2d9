#include "engine/update_run.h"

#include <functional>
#include <iterator>

#include "engine/catalogue.h"
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

  std::string ExistingPath() const { return existing_folder + file_name; }
  std::string UpdatePath() const { return update_folder + file_name; }
  std::string WorkingPath() const { return WorkingCopyPath(existing_folder, file_name); }
  bool IsReference() const { return !IsDataDatabase(file_name); }
};

// A failure the run logs in its own words and goes on after.
void ReportProblem(UpdateContext& context, const std::string& line) {
  context.CountError();
  context.WriteLog(line);
  context.FlushLog();
}

bool SkipDatabase(UpdateContext& context, const DatabaseFiles& db, const std::string& reason) {
  context.WriteLog("DATABASE START: " + db.file_name);
  ReportProblem(context, reason);
  return false;
}

void CopyWholeDatabase(UpdateContext& context, const DatabaseFiles& db) {
  context.Files().CopyFile(db.UpdatePath(), db.ExistingPath(), true);
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

// The working copy and a journal its session may have left.
void RemoveWorkingCopy(UpdateContext& context, const DatabaseFiles& db) {
  for (const std::string& path : {db.WorkingPath(), db.WorkingPath() + "-journal"}) {
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

// What a run killed while working on this database left beside it: its
// working copy and copies cut off half-way. Under the run lock nobody else
// writes such names. Runs after the database's START line, so that a
// failure is logged within the database's lines.
void RemoveLeftovers(UpdateContext& context, const DatabaseFiles& db) {
  platform::FileSystem& files = context.Files();
  for (const std::string& path : {db.WorkingPath(), db.WorkingPath() + "-journal"}) {
    RemoveLeftover(context, path, [&] {
      if (files.FileExists(path) || files.IsSymbolicLink(path)) files.DeleteFile(path, true);
    });
  }
  for (const std::string& name :
       {db.file_name, db.file_name + ".bak", "." + db.file_name + kWorkingCopySuffix}) {
    std::string path = db.existing_folder + name;
    // The names CopyFile gives its temporary files (file-operations.md).
    std::string copies = db.existing_folder + "." + name + ".tmp-XXXXXX";
    RemoveLeftover(context, copies, [&] { files.RemoveCutOffCopies(path); });
  }
}

// The steps before the error capture. True when the database goes on to be
// backed up and opened; false when it was copied whole or is skipped.
bool PrepareDatabase(UpdateContext& context, const DatabaseFiles& db, bool registered) {
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
  // Rebuilding a reference database would copy the update information onto
  // itself, and a data database would be opened twice.
  if (context.Files().SameFolder(db.existing_folder, db.update_folder)) {
    return SkipDatabase(context, db,
                        " !ERROR update folder and database folder are the same: " +
                            db.existing_folder);
  }
  bool exists = false;
  if (!FindDatabaseInUse(context, db, &exists)) return false;
  if (!exists) {
    CopyWholeDatabase(context, db);
    RemoveLeftovers(context, db);
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
// of the file is not torn.
void SettleDatabase(UpdateContext& context, const std::string& path) {
  context.DBEngine().OpenDatabase(path, dao::kOpenDiscardChanges)->Close();
}

// The backup itself: path + ".bak", a copy of the settled file; an older
// backup of that name goes into the backup history first.
void CopyToBackup(UpdateContext& context, const std::string& path) {
  std::string backup = path + ".bak";
  if (context.Files().FileExists(backup)) context.History().Keep(backup);
  context.Files().CopyFile(path, backup, true);
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
// nothing may change it.
bool BackUpDatabaseInUse(UpdateContext& context, const DatabaseFiles& db) {
  try {
    SettleDatabase(context, db.ExistingPath());
  } catch (const Error& error) {
    ReportError(context, error);
    ReportProblem(context,
                  " !ERROR database not updated, " + OpenFailure(error) + ": " + db.ExistingPath());
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
  bool opened = OpenBoth(context, db.ExistingPath(), dao::kOpenExclusive, db.UpdatePath(), 0, true);
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
      context.Files().ReplaceFile(db.WorkingPath(), db.ExistingPath());
    });
  } else {
    ReportProblem(context,
                  " !ERROR database not replaced, its merge failed: " + db.ExistingPath());
  }
  if (!replaced) RunCaptured(context, [&] { RemoveWorkingCopy(context, db); });
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
  try {
    context.WriteLog("## BEGIN UPDATING");
    int number = 0;
    for (const CatalogueEntry& entry : DatabaseCatalogue) {
      context.Progress().StartDatabase(++number, static_cast<int>(std::size(DatabaseCatalogue)),
                                       entry.file_name);
      int errors_before = context.ErrorCount();
      UpdateDatabase(context, entry.data_source_name, folder, entry.file_name);
      if (context.ErrorCount() == errors_before) context.CountDatabaseUpdated();
    }
    context.WriteLog("## END UPDATING");
    context.FlushLog();
  } catch (const Error& error) {
    ReportRunEnded(context, error);
  }
}

void UpdateDatabase(UpdateContext& context, const std::string& dataSourceName,
                    const std::string& updateFolder, const std::string& fileName) {
  context.WriteLog(kDatabaseSeparator);
  context.SetCurrentDatabaseFile(fileName);
  DatabaseFiles db{dataSourceName, updateFolder, "", fileName, ""};
  bool registered =
      install::GetDataSourceFolder(context.Registrations(), dataSourceName, &db.existing_folder);
  install::GetDataSourcePath(context.Registrations(), dataSourceName, &db.registered_path);
  if (PrepareDatabase(context, db, registered)) {
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
