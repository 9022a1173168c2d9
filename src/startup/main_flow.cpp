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

// One pass through the installation flow. Each step returns false when the
// program stops there; the exit status is then kExitStopped.
class InstallationFlow {
 public:
  explicit InstallationFlow(MainPlatform& platform)
      : platform_(platform),
        install_(platform.install),
        log_(install_.files, platform.clock, install_.ui) {}

  int Run(const std::string& argumentText);

 private:
  bool CheckUpdateFolder();
  bool ReadSharedFilesLocation();
  bool OfferToMoveDatabases();
  bool MoveAllDatabases();
  bool DatabasesInstalled() const;
  bool AskToUpdate();
  bool EnsureDatabaseFolders();
  bool DeleteOldLogFile();
  int RunUpdate();
  void ReportErrors();

  bool Ask(const std::string& text, MessageIcon icon);
  std::string RunFolder() const;

  MainPlatform& platform_;
  const install::InstallPlatform& install_;
  log::RunLog log_;
  std::string update_folder_;
  std::string location_;
  std::string shared_database_folder_;
};

int InstallationFlow::Run(const std::string& argumentText) {
  update_folder_ = GetCommandLineFolder(argumentText);
  if (!CheckUpdateFolder() || !ReadSharedFilesLocation()) return kExitStopped;
  shared_database_folder_ = location_ + install::kDatabaseSubfolder;
  if (!OfferToMoveDatabases()) return kExitStopped;
  log_.SetLogFilePath(shared_database_folder_ + kLogFileName);
  if (DatabasesInstalled() && !AskToUpdate()) return kExitSuccess;
  // A first installation needs the folders for its databases. When the
  // operator kept the databases where they are, the folder is still needed
  // for the log file.
  if (!EnsureDatabaseFolders() || !DeleteOldLogFile()) return kExitStopped;
  return RunUpdate();
}

bool InstallationFlow::CheckUpdateFolder() {
  if (FolderHasDatabases(install_.files, update_folder_)) return true;
  install::ShowCritical(install_.ui,
                        "Cannot find folder: \r\n\r\n" + update_folder_ + "\r\n\r\n" + kCanceled);
  return false;
}

bool InstallationFlow::ReadSharedFilesLocation() {
  if (install::GetSharedFilesLocation(platform_.share, &location_)) return true;
  install::ShowCritical(install_.ui, "Korvane Common Files folder NOT registered:\r\n\r\n" +
                                         location_ + "\r\n\r\nCannot install databases.");
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
    if (!install::MoveDatabase(install_, shared_database_folder_, entry.data_source_name,
                               entry.file_name)) {
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

bool InstallationFlow::DeleteOldLogFile() {
  const std::string& path = log_.LogFilePath();
  if (!install_.files.FileExists(path)) return true;
  try {
    install_.files.DeleteFile(path, false);
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
  bool errors_detected = platform_.run(log_, RunFolder());
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
  return [&dbEngine, &files, &registrations](log::RunLog& log, const std::string& updateFolder) {
    engine::UpdateContext context(dbEngine, files, registrations, log);
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
