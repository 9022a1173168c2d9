#include "startup/main_flow.h"

#include "engine/catalogue.h"
#include "engine/update_context.h"
#include "engine/update_run.h"
#include "install/data_source_lookup.h"
#include "install/data_sources.h"
#include "install/relocation.h"
#include "install/shared_files_location.h"
#include "startup/command_line.h"

namespace tabsync::startup {
namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

constexpr char kCanceled[] = "Update of information DB's canceled.";

// The text with each control character shown as "?", for a message.
std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return text;
}

// One pass through the installation flow. Each step returns false when the
// program stops there; the exit status is then kExitStopped.
class InstallationFlow {
 public:
  explicit InstallationFlow(MainPlatform& platform)
      : platform_(platform),
        install_(platform.install),
        log_(install_.files, platform.clock, install_.ui),
        history_(install_.files, platform.clock.Now()) {}

  int Run(const std::string& argumentText);

 private:
  bool CheckUpdateFolder();
  bool ReadSharedFilesLocation();
  bool TakeRunLock();
  bool OfferToMoveDatabases();
  bool MoveAllDatabases();
  bool DatabasesInstalled() const;
  bool AskToUpdate();
  bool EnsureDatabaseFolders();
  bool KeepOldLogFile();
  int RunUpdate();
  void ReportErrors();

  bool Ask(const std::string& text, MessageIcon icon);
  std::string RunFolder() const;

  MainPlatform& platform_;
  const install::InstallPlatform& install_;
  log::RunLog log_;
  install::BackupHistory history_;
  std::unique_ptr<platform::FileLock> run_lock_;
  std::string update_folder_;
  std::string location_;
  std::string shared_database_folder_;
};

int InstallationFlow::Run(const std::string& argumentText) {
  update_folder_ = GetCommandLineFolder(argumentText);
  if (!CheckUpdateFolder() || !ReadSharedFilesLocation()) return kExitStopped;
  shared_database_folder_ = location_ + install::kDatabaseSubfolder;
  if (!TakeRunLock() || !OfferToMoveDatabases()) return kExitStopped;
  log_.SetLogFilePath(shared_database_folder_ + kLogFileName);
  if (DatabasesInstalled() && !AskToUpdate()) return kExitSuccess;
  // A first installation needs the folders for its databases. When the
  // operator kept the databases where they are, the folder is still needed
  // for the log file.
  if (!EnsureDatabaseFolders() || !KeepOldLogFile()) return kExitStopped;
  return RunUpdate();
}

bool InstallationFlow::CheckUpdateFolder() {
  if (FolderHasDatabases(install_.files, update_folder_)) return true;
  install::ShowCritical(install_.ui,
                        "Cannot find folder: \r\n\r\n" + update_folder_ + "\r\n\r\n" + kCanceled);
  return false;
}

bool InstallationFlow::ReadSharedFilesLocation() {
  if (!install::GetSharedFilesLocation(platform_.share, &location_)) {
    install::ShowCritical(install_.ui, "Korvane Common Files folder NOT registered:\r\n\r\n" +
                                           location_ + "\r\n\r\nCannot install databases.");
    return false;
  }
  if (install::IsUsableLocation(location_)) return true;
  // A relative location would put the databases below the current directory.
  install::ShowCritical(install_.ui, "Korvane Common Files folder NOT registered:\r\n\r\n" +
                                         Printable(location_) +
                                         "\r\n\r\nThe SharedFilesLocation of " +
                                         platform_.share.Source() +
                                         " is no absolute folder path.\r\n\r\n"
                                         "Cannot install databases.");
  return false;
}

// The lock is a kernel lock on a file that stays in the folder: a run that
// dies drops it. The shared database folder is made first when missing, as
// a first installation makes it anyway.
bool InstallationFlow::TakeRunLock() {
  if (!EnsureDatabaseFolders()) return false;
  std::string path = shared_database_folder_ + kLockFileName;
  try {
    run_lock_ = install_.files.TryLockFile(path);
  } catch (const Error& error) {
    install::ShowCritical(install_.ui, "Cannot lock the database folder:\r\n\r\n" + path +
                                           "\r\n\r\n" + install::ErrorLine(error) +
                                           "\r\n\r\n" + kCanceled);
    return false;
  }
  if (run_lock_) return true;
  install::ShowCritical(install_.ui,
                        "Another update of the Korvane databases is running; it holds the "
                        "lock file:\r\n\r\n" +
                            path + "\r\n\r\n" + kCanceled);
  return false;
}

bool InstallationFlow::OfferToMoveDatabases() {
  if (!install::CheckDataSources(install_, shared_database_folder_)) return true;
  if (!Ask("Do you want to move the Korvane Common Databases into \r\n\r\n" +
               shared_database_folder_ + "  \r\n\r\nand re-configure their ODBC entries ?",
           MessageIcon::kQuestion)) {
    return true;
  }
  return MoveAllDatabases();
}

bool InstallationFlow::MoveAllDatabases() {
  if (!EnsureDatabaseFolders()) return false;
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
    if (!install::MoveDatabase(install_, history_, shared_database_folder_,
                               entry.data_source_name, entry.file_name)) {
      return false;
    }
  }
  install_.ui.ShowMessage({"Korvane Common Databases have been moved successfully.",
                           platform::kProgramTitle, MessageIcon::kInformation,
                           MessageButtons::kOk});
  return true;
}

bool InstallationFlow::DatabasesInstalled() const {
  // Where the data source points, registered or not: an unregistered one
  // gives "/", which holds no accounting database.
  std::string folder;
  install::GetDataSourceFolder(install_.registrations, "Accounting", &folder);
  return install_.files.FileExists(folder + "accounting.mdb");
}

bool InstallationFlow::AskToUpdate() {
  return Ask(
      "Would you like to perform an update of the Korvane databases? \r\n\r\n"
      "Please be aware that the updated Korvane databases are required for the full "
      "functionality of the software.\r\n\r\n"
      "A log file will be generated: \r\n\r\n" +
          log_.LogFilePath(),
      MessageIcon::kNone);
}

bool InstallationFlow::EnsureDatabaseFolders() {
  try {
    install::CreateDatabaseFolders(install_.files, location_);
    return true;
  } catch (const Error& error) {
    install::ShowCritical(install_.ui, "Cannot create the database folder:\r\n\r\n" +
                                           shared_database_folder_ + "\r\n\r\n" +
                                           install::ErrorLine(error) + "\r\n\r\n" + kCanceled);
    return false;
  }
}

// The old log goes into the backup history. A symbolic link in its place is
// removed, never written through.
bool InstallationFlow::KeepOldLogFile() {
  const std::string& path = log_.LogFilePath();
  try {
    if (install_.files.IsSymbolicLink(path)) {
      install_.files.DeleteFile(path, true);
    } else if (install_.files.FileExists(path)) {
      history_.Keep(path);
    }
    return true;
  } catch (const Error& error) {
    // Appending to the old log would mix two runs in one file.
    install::ShowCritical(install_.ui, "Cannot delete the old log file:\r\n\r\n" + path +
                                           "\r\n\r\n" + install::ErrorLine(error) +
                                           "\r\n\r\n" + kCanceled);
    return false;
  }
}

int InstallationFlow::RunUpdate() {
  log_.frmLog();
  bool errors_detected = platform_.run(log_, history_, RunFolder());
  if (errors_detected) ReportErrors();
  log_.UnloadLogWindow();
  return errors_detected ? kExitErrorsDetected : kExitSuccess;
}

void InstallationFlow::ReportErrors() {
  install::ShowCritical(install_.ui,
                        "There are errors detected. Please check the log file\r\n\r\n[" +
                            log_.LogFilePath() +
                            "]\r\n\r\nand then run the command\r\n\r\n  'tabsync DB'\r\n\r\n"
                            "from the target folder.\r\n"
                            "You do not need to repeat the whole installation.");
  platform::LogWindow& window = log_.frmLog();
  window.Show();
  while (window.Visible()) window.WaitForEvent();
}

// The run appends "/" to its folder, which would make an empty one the root
// folder; the databases were found in the current directory, so the run takes
// them from there.
std::string InstallationFlow::RunFolder() const {
  return update_folder_.empty() ? "." : update_folder_;
}

bool InstallationFlow::Ask(const std::string& text, MessageIcon icon) {
  return install_.ui.ShowMessage({text, platform::kProgramTitle, icon,
                                  MessageButtons::kYesNo}) == MessageAnswer::kYes;
}

}  // namespace

UpdateRun EngineUpdateRun(dao::DatabaseEngine& dbEngine, platform::FileSystem& files,
                          const platform::RegistrationStore& registrations) {
  return [&dbEngine, &files, &registrations](log::RunLog& log, install::BackupHistory& history,
                                              const std::string& updateFolder) {
    engine::UpdateContext context(dbEngine, files, registrations, log, history);
    engine::UpdateAllDatabases(context, updateFolder);
    return context.ErrorsDetected();
  };
}

bool FolderHasDatabases(const platform::FileSystem& files, const std::string& folder) {
  return files.FileExists(platform::BuildPath(folder, "accounting.mdb")) &&
         files.FileExists(platform::BuildPath(folder, "users.mdb"));
}

int Main(MainPlatform& platform, const std::string& argumentText) {
  return InstallationFlow(platform).Run(argumentText);
}

}  // namespace tabsync::startup
