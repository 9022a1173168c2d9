#include "startup/restore.h"

#include <vector>

#include "engine/catalogue.h"
#include "install/backup_history.h"
#include "install/data_source_lookup.h"
#include "install/relocation.h"

namespace tabsync::startup {
namespace {

// One database to put back.
struct Restoration {
  std::string database;  // the path the data source names
  std::string backup;    // where its content comes from
  std::string copy;      // the backup's copy beside the database
};

std::string CopyPathFor(const std::string& database) {
  std::string folder = platform::GetParentFolderName(database) + "/";
  return folder + "." + database.substr(folder.size()) + ".tabsync-restore";
}

// The backup of a database: its ".bak", or its copy in the run folder.
std::string BackupPathFor(const std::string& database, const std::string& run) {
  if (run.empty()) return database + ".bak";
  std::string folder = platform::GetParentFolderName(database) + "/";
  return folder + install::kBackupHistoryFolder + "/" + run + "/" +
         database.substr(folder.size()) + ".bak";
}

std::vector<Restoration> FindBackups(const SiteTools& tools, const std::string& run) {
  std::vector<Restoration> found;
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
    std::string path;
    if (!install::GetDataSourcePath(tools.install.registrations, entry.data_source_name, &path) ||
        !install::NamesDatabaseFile(tools.install.files, path))
      continue;
    std::string backup = BackupPathFor(path, run);
    if (tools.install.files.FileExists(backup)) found.push_back({path, backup, CopyPathFor(path)});
  }
  return found;
}

bool AskToRestore(const SiteTools& tools, const std::vector<Restoration>& found) {
  std::string list;
  for (const Restoration& r : found) list += r.database + "  <-  " + r.backup + "\r\n";
  return tools.install.ui.ShowMessage(
             {"Do you want to put these Korvane databases back from their backups?\r\n\r\n" +
                  list + "\r\nThe databases in use are kept in the backup history first.",
              platform::kProgramTitle, platform::MessageIcon::kQuestion,
              platform::MessageButtons::kYesNo}) == platform::MessageAnswer::kYes;
}

void ReportFailure(const SiteTools& tools, const Restoration& r, const Error& error) {
  install::ShowCritical(tools.install.ui, "Cannot restore the database:\r\n\r\n" + r.database +
                                              "\r\n\r\n" + install::ErrorLine(error));
}

// Step 2 and 3 of one database; its copy is there.
void PutBack(const SiteTools& tools, install::BackupHistory& history, const Restoration& r) {
  platform::FileSystem& files = tools.install.files;
  if (files.FileExists(r.database)) {
    SettleDatabase(tools.engine, r.database);
    history.KeepCopy(r.database);
    files.CopyOwnerAndMode(r.database, r.copy);
  }
  files.ReplaceFile(r.copy, r.database);
}

void RemoveCopy(const SiteTools& tools, const Restoration& r) {
  try {
    if (tools.install.files.FileExists(r.copy)) tools.install.files.DeleteFile(r.copy, true);
  } catch (const Error&) {
    // A copy left beside the database changes nothing; the next restore
    // replaces it.
  }
}

}  // namespace

int Restore(const SiteTools& tools, const std::string& run, bool unattended) {
  std::string location;
  if (!ReadLocation(tools.share, tools.install.ui, &location)) return 2;
  if (!run.empty() && !install::IsRunFolderName(run)) {
    install::ShowCritical(tools.install.ui, "No run folder of the backup history: " + run);
    return 2;
  }
  std::unique_ptr<platform::FileLock> lock = TakeRunLock(tools.install, location);
  if (!lock) return 2;
  std::vector<Restoration> found = FindBackups(tools, run);
  if (found.empty()) {
    install::ShowCritical(tools.install.ui, "There is no backup to restore" +
                                                (run.empty() ? std::string(".") : " in " + run + "."));
    return 2;
  }
  if (!unattended && !AskToRestore(tools, found)) return 0;
  install::BackupHistory history(tools.install.files, tools.clock.Now());
  std::vector<const Restoration*> copied;
  int failed = 0;
  for (const Restoration& r : found) {
    try {
      tools.install.files.CopyFile(r.backup, r.copy, true);
      copied.push_back(&r);
    } catch (const Error& error) {
      ReportFailure(tools, r, error);
      ++failed;
    }
  }
  for (const Restoration* r : copied) {
    try {
      PutBack(tools, history, *r);
      tools.out << "restored " << r->database << " from " << r->backup << "\n";
    } catch (const Error& error) {
      ReportFailure(tools, *r, error);
      RemoveCopy(tools, *r);
      ++failed;
    }
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace tabsync::startup
