#include "startup/restore.h"

#include <algorithm>
#include <set>
#include <vector>

#include "dbengine/error.h"
#include "dbengine/names.h"
#include "engine/catalogue.h"
#include "install/backup_history.h"
#include "install/data_source_lookup.h"
#include "install/relocation.h"
#include "startup/main_flow.h"

namespace tabsync::startup {
namespace {

constexpr char kCannotRestore[] = "Cannot restore the database:\r\n\r\n";

// One database to put back.
struct Restoration {
  std::string database;  // the path the data source names
  std::string backup;    // where its content comes from
  bool linked_history;   // a symbolic link on its way in the history
  std::string target;    // the file replaced: the database, or where its link leads
  std::string copy;      // the backup's copy beside the target
  std::string problem;   // why the database in use may not be replaced; "" when it may
};

std::string FolderOf(const std::string& path) {
  return platform::GetParentFolderName(path) + "/";
}

// The backup of a database: its ".bak", or its copy in the run folder.
std::string BackupPathFor(const std::string& database, const std::string& run) {
  if (run.empty()) return database + ".bak";
  std::string folder = FolderOf(database);
  return folder + install::kBackupHistoryFolder + "/" + run + "/" +
         database.substr(folder.size()) + ".bak";
}

// A folder where the data source names its database: no file to restore
// over, but a backup of it is still the operator's to hear of.
bool IsFolderInPlace(const platform::FileSystem& files, const std::string& path) {
  return !path.empty() && path.front() == '/' && path.back() != '/' &&
         !install::HasControlCharacter(path) && files.FolderExists(path);
}

// The databases of the data sources that name a file, or a folder in its
// place.
std::vector<std::string> DatabasePaths(const SiteTools& tools) {
  const platform::FileSystem& files = tools.install.files;
  std::vector<std::string> paths;
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
    std::string path;
    if (install::GetDataSourcePath(tools.install.registrations, entry.data_source_name, &path) &&
        (install::NamesDatabaseFile(files, path) || IsFolderInPlace(files, path))) {
      paths.push_back(path);
    }
  }
  return paths;
}

void RemoveLeftovers(const SiteTools& tools, const std::string& database) {
  try {
    install::RemoveRestoreLeftovers(tools.install.files, database);
  } catch (const Error&) {
    // A leftover that cannot be removed only takes room: the copy is made
    // anew, whole, over whatever has its name.
  }
}

// Where the backup goes: the database itself, or the file that a symbolic
// link in its place leads to (a database kept on another volume), so that
// the link stays a link. Sets r->problem when the database in use may not be
// replaced: a folder, a FIFO or a device is no database whose bytes could be
// kept.
void FindTarget(const platform::FileSystem& files, Restoration* r) {
  r->target = r->database;
  try {
    bool link = files.IsSymbolicLink(r->database);
    bool there = files.CheckedFileExists(r->database) || files.FolderExists(r->database);
    if ((there || link) && !files.IsRegularFile(r->database)) {
      r->problem = "It is no regular file; it is left as it is.";
    } else if (link) {
      r->target = files.ResolvedPath(r->database);
    }
  } catch (const Error& error) {
    r->problem = install::ErrorLine(error);
  }
  r->copy = install::RestoreCopyPath(r->target);
}

// Every backup that is there in any form: one that is no regular file (a
// folder, a FIFO, a link to nowhere) is named as unusable rather than passed
// over, since the operator asked for it.
std::vector<Restoration> FindBackups(const SiteTools& tools,
                                     const std::vector<std::string>& databases,
                                     const std::string& run) {
  platform::FileSystem& files = tools.install.files;
  std::vector<Restoration> found;
  for (const std::string& path : databases) {
    std::string backup = BackupPathFor(path, run);
    if (!files.FileExists(backup) && !files.FolderExists(backup) && !files.IsSymbolicLink(backup))
      continue;
    bool linked = !run.empty() && (install::RunFolderIsLinked(files, FolderOf(path), run) ||
                                   files.IsSymbolicLink(backup));
    found.push_back({path, backup, linked, "", "", ""});
    FindTarget(files, &found.back());
  }
  return found;
}

platform::MessageAnswer AskToRestore(const SiteTools& tools,
                                     const std::vector<Restoration>& found) {
  std::string list;
  for (const Restoration& r : found) list += r.database + "  <-  " + r.backup + "\r\n";
  return tools.install.ui.ShowMessage(
             {"Do you want to put these Korvane databases back from their backups?\r\n\r\n" +
                  list + "\r\nThe databases in use are kept in the backup history first.",
              platform::kProgramTitle, platform::MessageIcon::kQuestion,
              platform::MessageButtons::kYesNo});
}

void ReportFailure(const SiteTools& tools, const Restoration& r, const Error& error) {
  install::ShowCritical(tools.install.ui,
                        kCannotRestore + r.database + "\r\n\r\n" + install::ErrorLine(error));
}

void ReportBadBackup(const SiteTools& tools, const Restoration& r, const std::string& problem) {
  install::ShowCritical(tools.install.ui, kCannotRestore + r.database +
                                              "\r\n\r\nIts backup is no usable database:\r\n\r\n" +
                                              r.backup + "\r\n\r\n" + problem);
}

// Why the backup may not be read; "" when it may. A FIFO would hang the
// copy, a device feed it without end. A ".bak" may lead to a file kept
// elsewhere, which is only read; the history holds no links of its own.
std::string BackupFileProblem(const platform::FileSystem& files, const Restoration& r) {
  if (r.linked_history) return "It is a symbolic link, which a restore does not follow.";
  if (!files.IsRegularFile(r.backup)) return "It is no regular file.";
  return "";
}

// The names of the database's tables, ignoring letter case.
std::set<std::string> TableNames(dao::Database& db) {
  std::set<std::string> names;
  dao::Collection<dao::TableDef>& tables = db.TableDefs();
  for (int i = 0; i < tables.Count(); ++i) names.insert(dao::LowerName(tables.Item(i).Name()));
  return names;
}

// The tables of the database in use; none when it does not open (no
// database, or in use by another program), when nothing can be told by them.
std::set<std::string> TablesInUse(dao::DatabaseEngine& engine, const Restoration& r) {
  try {
    std::unique_ptr<dao::Database> db = engine.OpenDatabase(r.target, dao::kOpenDiscardChanges);
    std::set<std::string> names = TableNames(*db);
    db->Close();
    return names;
  } catch (const Error&) {
    return {};
  }
}

// Why the checked copy is no backup of the database in use; "" when its
// quick check finds nothing and it shares a table with the database in use
// (an older release's backup lacks only newer tables; a database of other
// tables, or of none, would empty the one in use).
std::string ContentProblem(dao::Database& copy, const std::set<std::string>& tablesInUse) {
  std::string problem = copy.QuickCheck();
  if (!problem.empty()) return "PRAGMA quick_check: " + problem;
  std::set<std::string> tables = TableNames(copy);
  if (tables.empty()) return "It holds no table.";
  bool shared = std::any_of(tables.begin(), tables.end(),
                            [&](const std::string& table) { return tablesInUse.count(table); });
  if (!tablesInUse.empty() && !shared) return "It holds none of the tables of the database in use.";
  return "";
}

// The copy is the backup byte for byte, so an error names the backup, which
// the operator knows, not the copy, which is gone when the message is read.
std::string NamingTheBackup(const Restoration& r, std::string line) {
  for (size_t at = line.find(r.copy); at != std::string::npos;
       at = line.find(r.copy, at + r.backup.size())) {
    line.replace(at, r.copy.size(), r.backup);
  }
  return line;
}

// Why the copy of the backup may not replace the database in use; "" when it
// may. The open makes nothing beside the copy.
std::string DatabaseProblem(dao::DatabaseEngine& engine, const Restoration& r) {
  std::set<std::string> tables_in_use = TablesInUse(engine, r);
  try {
    std::unique_ptr<dao::Database> db = engine.OpenDatabase(r.copy, dao::kOpenImmutable);
    std::string problem = ContentProblem(*db, tables_in_use);
    db->Close();
    return problem;
  } catch (const Error& error) {
    return NamingTheBackup(r, install::ErrorLine(error));
  }
}

// Step 1 of one database: the backup's copy beside it, checked. False, after
// its message, when the database cannot be restored.
bool CopyBackup(const SiteTools& tools, const Restoration& r) {
  platform::FileSystem& files = tools.install.files;
  if (!r.problem.empty()) {
    install::ShowCritical(tools.install.ui, kCannotRestore + r.database + "\r\n\r\n" + r.problem);
    return false;
  }
  std::string problem = BackupFileProblem(files, r);
  if (problem.empty()) {
    try {
      // The copy is checked, not the backup: what is checked is what goes
      // into place, and the history is never opened for writing.
      files.CopyFile(r.backup, r.copy, true);
      problem = DatabaseProblem(tools.engine, r);
    } catch (const Error& error) {
      ReportFailure(tools, r, error);
      RemoveLeftovers(tools, r.target);
      return false;
    }
  }
  if (problem.empty()) return true;
  ReportBadBackup(tools, r, problem);
  RemoveLeftovers(tools, r.target);
  return false;
}

// A file that is no database (junk, an empty file) has no journal to roll
// back; its bytes are kept as they are, and it is replaced all the same:
// that is when a restore is needed.
void SettleUnlessNoDatabase(dao::DatabaseEngine& engine, const std::string& path) {
  try {
    SettleDatabase(engine, path);
  } catch (const Error& error) {
    if (error.Number() != errors::kUnrecognizedFormat) throw;
  }
}

// Step 2 and 3 of one database; its copy is there.
void PutBack(const SiteTools& tools, install::BackupHistory& history, const Restoration& r) {
  platform::FileSystem& files = tools.install.files;
  if (files.FileExists(r.target)) {
    SettleUnlessNoDatabase(tools.engine, r.target);
    history.KeepCopy(r.database);  // in the history beside the data source's path
    files.CopyOwnerAndMode(r.target, r.copy);
  }
  files.ReplaceFile(r.copy, r.target);
}

}  // namespace

int Restore(const SiteTools& tools, const std::string& run, bool unattended,
            long long waitSeconds) {
  std::string location;
  if (!ReadLocation(tools.share, tools.install.ui, &location)) return 2;
  if (!run.empty() && !install::IsRunFolderName(run)) {
    install::ShowCritical(tools.install.ui, "No run folder of the backup history: " + run);
    return 2;
  }
  std::unique_ptr<platform::FileLock> lock =
      TakeRunLock(tools.install, tools.clock, location, {waitSeconds, true}, tools.err);
  if (!lock) return 2;
  std::vector<std::string> databases = DatabasePaths(tools);
  for (const std::string& database : databases) RemoveLeftovers(tools, database);
  std::vector<Restoration> found = FindBackups(tools, databases, run);
  if (found.empty()) {
    install::ShowCritical(tools.install.ui, "There is no backup to restore" +
                                                (run.empty() ? std::string(".") : " in " + run + "."));
    return 2;
  }
  if (!unattended) {
    platform::MessageAnswer answer = AskToRestore(tools, found);
    if (answer == platform::MessageAnswer::kNoAnswer) {
      ShowNoAnswer(tools.install.ui, "Nothing was restored.",
                   "tabsync --yes --restore" + (run.empty() ? "" : " " + run));
      return kExitNoAnswer;
    }
    if (answer != platform::MessageAnswer::kYes) return 0;
  }
  // Every copy is made and checked before the history's run folder, whose
  // making removes the oldest runs, perhaps `run`.
  std::vector<const Restoration*> copied;
  int failed = 0;
  for (const Restoration& r : found) {
    if (CopyBackup(tools, r)) {
      copied.push_back(&r);
    } else {
      ++failed;
    }
  }
  install::BackupHistory history(tools.install.files, tools.clock.Now());
  for (const Restoration* r : copied) {
    try {
      PutBack(tools, history, *r);
      tools.out << "restored " << r->database << " from " << r->backup << "\n";
    } catch (const Error& error) {
      ReportFailure(tools, *r, error);
      RemoveLeftovers(tools, r->target);
      ++failed;
    }
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace tabsync::startup
