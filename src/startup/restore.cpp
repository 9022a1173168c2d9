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
#include "log/log_line.h"
#include "startup/main_flow.h"

namespace tabsync::startup {
namespace {

constexpr char kCannotRestore[] = "Cannot restore the database:\r\n\r\n";
// The restore's log, in its run folder of the shared folder's history.
constexpr char kRestoreLogName[] = "tabsync-restore.log";

// One database to put back.
struct Restoration {
  std::string file_name;  // the catalogue's, for the record
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

// A database of the catalogue as its data source names it.
struct DatabasePath {
  std::string file_name;  // the catalogue's
  std::string path;
};

// The databases of the data sources that name a file, or a folder in its
// place.
std::vector<DatabasePath> DatabasePaths(const SiteTools& tools) {
  const platform::FileSystem& files = tools.install.files;
  std::vector<DatabasePath> paths;
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
    std::string path;
    if (install::GetDataSourcePath(tools.install.registrations, entry.data_source_name, &path) &&
        (install::NamesDatabaseFile(files, path) || IsFolderInPlace(files, path))) {
      paths.push_back({entry.file_name, path});
    }
  }
  return paths;
}

// What the restore returns to: the files of a run folder or the ".bak" files
// (an older tabsync's history), or the state before a recorded run.
struct Target {
  std::string run;   // the run folder; "" for the .bak files
  bool undo = false;  // the state before `run`, wherever the history keeps it
};

// `--restore RUN` undoes RUN when the shared folder's history records it;
// `--restore` alone the last update run (RunToUndo). Without such records
// the files of RUN, or the ".bak" files, are put back as before.
Target ChooseTarget(const platform::FileSystem& files, const std::string& shared,
                    const std::string& run) {
  if (run.empty()) {
    std::string last = install::RunToUndo(files, shared);
    return {last, !last.empty()};
  }
  for (const install::RecordedRun& recorded : install::ReadRecordedRuns(files, shared)) {
    if (recorded.name == run) return {run, !recorded.record.kind.empty()};
  }
  return {run, false};
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Where the database's content comes from; "" when nothing is to be put
// back (undoing, a database no run since changed).
std::string SourceFor(const platform::FileSystem& files, const std::string& database,
                      const Target& target) {
  if (!target.undo) return BackupPathFor(database, target.run);
  return install::StateBefore(files, FolderOf(database), FileNameOf(database), target.run);
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
// over, since the operator asked for it. Undoing, a backup the history names
// is looked for even when missing; the databases no later run changed are
// left in `unchanged`.
std::vector<Restoration> FindBackups(const SiteTools& tools,
                                     const std::vector<DatabasePath>& databases,
                                     const Target& target, std::vector<DatabasePath>* unchanged) {
  platform::FileSystem& files = tools.install.files;
  std::vector<Restoration> found;
  for (const DatabasePath& database : databases) {
    const std::string& path = database.path;
    std::string backup = SourceFor(files, path, target);
    if (backup.empty()) {
      unchanged->push_back(database);
      continue;
    }
    if (!target.undo && !files.FileExists(backup) && !files.FolderExists(backup) &&
        !files.IsSymbolicLink(backup))
      continue;
    // Only the ".bak" beside the database may be a link (kept elsewhere).
    bool in_history = backup != path + ".bak";
    std::string run_of_backup =
        in_history ? FileNameOf(platform::GetParentFolderName(backup)) : std::string();
    bool linked = in_history && (install::RunFolderIsLinked(files, FolderOf(path), run_of_backup) ||
                                 files.IsSymbolicLink(backup));
    found.push_back({database.file_name, path, backup, linked, "", "", ""});
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

// The message's text on one line, for the restore's log and record.
std::string OneLine(const std::string& text) {
  std::string line;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text.compare(at, 4, "\r\n\r\n") == 0) {
      line += " ";
      at += 3;
    } else {
      line += static_cast<unsigned char>(text[at]) < 0x20 ? ' ' : text[at];
    }
  }
  return line;
}

// Shows why the database cannot be restored; returns it on one line.
std::string ReportCause(const SiteTools& tools, const Restoration& r, const std::string& cause) {
  install::ShowCritical(tools.install.ui, kCannotRestore + r.database + "\r\n\r\n" + cause);
  return OneLine(cause);
}

std::string ReportFailure(const SiteTools& tools, const Restoration& r, const Error& error) {
  return ReportCause(tools, r, install::ErrorLine(error));
}

std::string ReportBadBackup(const SiteTools& tools, const Restoration& r,
                            const std::string& problem) {
  return ReportCause(tools, r,
                     "Its backup is no usable database:\r\n\r\n" + r.backup + "\r\n\r\n" + problem);
}

// Why the backup may not be read; "" when it may. A FIFO would hang the
// copy, a device feed it without end. A ".bak" may lead to a file kept
// elsewhere, which is only read; the history holds no links of its own.
std::string BackupFileProblem(const platform::FileSystem& files, const Restoration& r) {
  if (r.linked_history) return "It is a symbolic link, which a restore does not follow.";
  if (!files.FileExists(r.backup) && !files.FolderExists(r.backup) &&
      !files.IsSymbolicLink(r.backup))
    return "It is missing.";
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

// Step 1 of one database: the backup's copy beside it, checked. "" when it
// may go into place; otherwise, after its message, why not on one line.
std::string CopyBackup(const SiteTools& tools, const Restoration& r) {
  platform::FileSystem& files = tools.install.files;
  if (!r.problem.empty()) return ReportCause(tools, r, r.problem);
  std::string problem = BackupFileProblem(files, r);
  if (problem.empty()) {
    try {
      // The copy is checked, not the backup: what is checked is what goes
      // into place, and the history is never opened for writing.
      files.CopyFile(r.backup, r.copy, true);
      problem = DatabaseProblem(tools.engine, r);
    } catch (const Error& error) {
      std::string why = ReportFailure(tools, r, error);
      RemoveLeftovers(tools, r.target);
      return why;
    }
  }
  if (problem.empty()) return "";
  std::string why = ReportBadBackup(tools, r, problem);
  RemoveLeftovers(tools, r.target);
  return why;
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
    history.SaveCopy(r.database);  // in the history beside the data source's path
    files.CopyOwnerAndMode(r.target, r.copy);
  }
  files.ReplaceFile(r.copy, r.target);
}

// The restore as a run of the history: its run folder (what it replaced),
// its record, and its log in that folder (docs/installation.md).
class RestoreJournal {
 public:
  RestoreJournal(const SiteTools& tools, const std::string& shared, const Target& target)
      : tools_(tools),
        history_(tools.install.files, tools.clock.Now(), install::RunKind::kRestore) {
    history_.SetRunsKept(KeptUpdateRuns(tools.share));
    try {
      history_.StartRecord(shared);
      log_ = tools.install.files.OpenForAppend(history_.PlaceNew(shared, kRestoreLogName));
    } catch (const Error&) {
      // No record or no log: the history refuses (a link), and so each
      // database's copy fails with its own message.
    }
    history_.Note("version", ProgramVersion());
    history_.Note("restore-of", target.run.empty() ? ".bak" : target.run);
    Log("## BEGIN RESTORING " + (!target.undo        ? target.run.empty() ? std::string("the .bak files")
                                                                          : "the files of " + target.run
                                 : "the state before " + target.run));
  }

  install::BackupHistory& History() { return history_; }

  void Restored(const Restoration& r) {
    tools_.out << "restored " << r.database << " from " << r.backup << "\n";
    Log("restored " + r.database + " from " + r.backup);
    history_.Note("database", r.file_name + " restored");
  }
  void NotRestored(const Restoration& r, const std::string& why) {
    Log(" !ERROR not restored " + r.database + ": " + why);
    history_.Note("database", r.file_name + " not-restored " + why);
    ++failed_;
  }
  void Unchanged(const DatabasePath& database, const std::string& run) {
    tools_.out << "unchanged " << database.path << " (no run since " << run << " changed it)\n";
    Log("unchanged " + database.path);
    history_.Note("database", database.file_name + " unchanged");
  }
  void NotReached(const Restoration& r) { history_.Note("database", r.file_name + " not-reached"); }
  void Stopped(int signal, const Restoration& r) {
    Log("## STOPPED BY SIGNAL " + std::to_string(signal) + " BEFORE " + r.database);
  }

  // Ends the log and the record; returns the exit status.
  int Finish(int signal) {
    if (signal == 0) Log("## END RESTORING");
    std::string ending = signal != 0 ? "signal " + std::to_string(signal)
                         : failed_ == 0 ? "done"
                                        : "errors";
    history_.End(tools_.clock.Now(), failed_, ending);
    if (signal != 0) return ExitStatusOfSignal(signal);
    return failed_ == 0 ? 0 : 1;
  }

 private:
  void Log(const std::string& text) {
    if (!log_) return;
    try {
      log_->Append(log::FormatLogLine(text, true, tools_.clock.Now()));
    } catch (const Error&) {
      // The messages and the record still tell the operator.
    }
  }

  const SiteTools& tools_;
  install::BackupHistory history_;
  std::unique_ptr<platform::AppendFile> log_;
  int failed_ = 0;
};

int CaughtSignal(const SiteTools& tools) {
  return tools.stop != nullptr ? tools.stop->Caught() : 0;
}

// Steps 2 and 3 for every database whose copy is there, in catalogue order;
// between two, a stop signal ends the restore, and the copies not used go.
int PutAllBack(const SiteTools& tools, const std::vector<Restoration>& found,
               const std::vector<std::string>& problems, RestoreJournal& journal) {
  if (tools.stop != nullptr) tools.stop->Catch();
  int signal = 0;
  bool stopped = false;
  for (size_t i = 0; i < found.size(); ++i) {
    const Restoration& r = found[i];
    if (!problems[i].empty()) {
      journal.NotRestored(r, problems[i]);
    } else if (signal != 0 || (signal = CaughtSignal(tools)) != 0) {
      if (!stopped) journal.Stopped(signal, r);
      stopped = true;
      journal.NotReached(r);
      RemoveLeftovers(tools, r.target);
    } else {
      try {
        PutBack(tools, journal.History(), r);
        journal.Restored(r);
      } catch (const Error& error) {
        journal.NotRestored(r, ReportFailure(tools, r, error));
        RemoveLeftovers(tools, r.target);
      }
    }
  }
  return journal.Finish(signal);
}

}  // namespace

int Restore(const SiteTools& tools, const std::string& run, bool unattended,
            long long waitSeconds) {
  std::string location;
  if (!ReadLocation(tools.share, tools.install.ui, &location) ||
      !CheckRegistrations(tools.install, ""))
    return 2;
  if (!run.empty() && !install::IsRunFolderName(run)) {
    install::ShowCritical(tools.install.ui, "No run folder of the backup history: " + run);
    return 2;
  }
  std::unique_ptr<platform::FileLock> lock =
      TakeRunLock(tools.install, tools.clock, location, {waitSeconds, true}, tools.err);
  if (!lock) return 2;
  std::string shared = location + install::kDatabaseSubfolder;
  std::vector<DatabasePath> databases = DatabasePaths(tools);
  for (const DatabasePath& database : databases) RemoveLeftovers(tools, database.path);
  Target target = ChooseTarget(tools.install.files, shared, run);
  std::vector<DatabasePath> unchanged;
  std::vector<Restoration> found = FindBackups(tools, databases, target, &unchanged);
  if (found.empty() && target.undo) {
    tools.out << "Every database is as it was before " << target.run << "; nothing to restore.\n";
    return 0;
  }
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
  std::vector<std::string> problems;
  for (const Restoration& r : found) problems.push_back(CopyBackup(tools, r));
  RestoreJournal journal(tools, shared, target);
  for (const DatabasePath& database : unchanged) journal.Unchanged(database, target.run);
  return PutAllBack(tools, found, problems, journal);
}

}  // namespace tabsync::startup
