#include "engine/update_run.h"

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

  std::string ExistingPath() const { return existing_folder + file_name; }
  std::string UpdatePath() const { return update_folder + file_name; }
  bool IsReference() const { return !IsDataDatabase(file_name); }
};

// A failure the run logs in its own words and goes on after.
void ReportProblem(UpdateContext& context, const std::string& line) {
  context.SetErrorsDetected(true);
  context.WriteLog(line);
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

void BackUpUpdateInformation(UpdateContext& context, const DatabaseFiles& db) {
  context.WriteLog("Database '" + db.data_source_name +
                   "' with merge information: " + db.ExistingPath());
  context.WriteLog("Database '" + db.data_source_name +
                   "' with DB to be updated: " + db.UpdatePath());
  BackupDatabaseFile(context, db.update_folder, db.file_name);
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
  // Rebuilding a reference database would copy the update information onto
  // itself, and a data database would be opened twice.
  if (context.Files().SameFolder(db.existing_folder, db.update_folder)) {
    return SkipDatabase(context, db,
                        " !ERROR update folder and database folder are the same: " +
                            db.existing_folder);
  }
  if (!context.Files().FileExists(db.ExistingPath())) {
    CopyWholeDatabase(context, db);
    return false;
  }
  context.WriteLog("DATABASE START: " + db.file_name);
  if (!context.Files().FolderExists(db.existing_folder)) {
    ReportProblem(context, " !ERROR ODBC-entried folder does not exist: " + db.existing_folder);
    return false;
  }
  if (db.IsReference()) BackUpUpdateInformation(context, db);
  return true;
}

// The backup of the database in use is taken before anything opens it, for a
// reference database too: the resource database's release steps change the
// database in use before it is merged. Without a backup nothing may change it.
bool BackUpDatabaseInUse(UpdateContext& context, const DatabaseFiles& db) {
  if (RunCaptured(context, [&] { BackupDatabaseFile(context, db.existing_folder, db.file_name); })) {
    return true;
  }
  ReportProblem(context, " !ERROR database not updated, its backup failed: " + db.ExistingPath());
  return false;
}

// Opens both databases, runs the release steps and closes both. True when
// both opens and the merge of the database went through.
bool OpenUpdateAndClose(UpdateContext& context, const DatabaseFiles& db) {
  dao::DatabaseEngine& engine = context.DBEngine();
  bool opened = RunCaptured(context, [&] {
    context.SetExistingDatabase(engine.OpenDatabase(db.ExistingPath(), dao::kOpenExclusive));
  });
  opened &= RunCaptured(context, [&] {
    context.SetUpdateInfoDatabase(engine.OpenDatabase(db.UpdatePath()));
  });
  bool merged = false;
  RunCaptured(context, [&] { merged = context.ReleaseSteps()(context, BaseName(db.file_name)); });
  RunCaptured(context, [&] { context.UpdateInfoDatabase().Close(); });
  RunCaptured(context, [&] { context.ExistingDatabase().Close(); });
  return opened && merged;
}

// Without its opens or its merge, the update information lacks the
// operator's content, and replacing the database in use would lose it.
void ReplaceReferenceDatabase(UpdateContext& context, const DatabaseFiles& db, bool merged) {
  if (!merged) {
    ReportProblem(context,
                  " !ERROR database not replaced, its merge failed: " + db.ExistingPath());
    return;
  }
  RunCaptured(context, [&] { context.Files().CopyFile(db.UpdatePath(), db.ExistingPath(), true); });
}

void RestoreUpdateInformation(UpdateContext& context, const DatabaseFiles& db) {
  std::string backup = db.UpdatePath() + ".bak";
  bool restored = RunCaptured(context, [&] {
    context.Files().CopyFile(backup, db.UpdatePath(), true);
  });
  // The backup is the only copy of the update information as it was; after a
  // failed restore it stays.
  if (restored) RunCaptured(context, [&] { context.Files().DeleteFile(backup, true); });
}

void UpdateCapturedSteps(UpdateContext& context, const DatabaseFiles& db) {
  if (BackUpDatabaseInUse(context, db)) {
    bool merged = OpenUpdateAndClose(context, db);
    if (db.IsReference()) ReplaceReferenceDatabase(context, db, merged);
  }
  if (db.IsReference()) RestoreUpdateInformation(context, db);
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

void UpdateAllDatabases(UpdateContext& context, const std::string& updateFolder) {
  std::string folder = platform::WithTrailingSlash(updateFolder);
  try {
    context.WriteLog("## BEGIN UPDATING");
    for (const CatalogueEntry& entry : DatabaseCatalogue) {
      UpdateDatabase(context, entry.data_source_name, folder, entry.file_name);
    }
    context.WriteLog("## END UPDATING");
  } catch (const Error& error) {
    ReportRunEnded(context, error);
  }
}

void UpdateDatabase(UpdateContext& context, const std::string& dataSourceName,
                    const std::string& updateFolder, const std::string& fileName) {
  context.WriteLog(kDatabaseSeparator);
  context.SetCurrentDatabaseFile(fileName);
  DatabaseFiles db{dataSourceName, updateFolder, "", fileName};
  bool registered =
      install::GetDataSourceFolder(context.Registrations(), dataSourceName, &db.existing_folder);
  if (PrepareDatabase(context, db, registered)) UpdateCapturedSteps(context, db);
  context.WriteLog("DATABASE END: " + fileName);
}

void BackupDatabaseFile(UpdateContext& context, const std::string& folder,
                        const std::string& fileName) {
  std::string path = folder + fileName;
  std::string backup = path + ".bak";
  if (context.Files().FileExists(backup)) context.Files().DeleteFile(backup, true);
  context.Files().CopyFile(path, backup, true);
}

}  // namespace tabsync::engine
