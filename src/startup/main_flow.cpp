#include "startup/main_flow.h"

#include "engine/catalogue.h"
#include "engine/update_context.h"
#include "engine/update_run.h"
#include "install/data_source_lookup.h"
#include "install/data_sources.h"
#include "install/relocation.h"
#include "install/shared_files_location.h"
#include "startup/command_line.h"
#include "startup/dry_run.h"
#include "startup/run_summary.h"
#include "startup/space_estimate.h"
#include "startup/site_tools.h"

#include <cstdio>
#include <optional>

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
  InstallationFlow(MainPlatform& platform, const RunOptions& options)
      : platform_(platform),
        options_(options),
        install_(platform.install),
        log_(install_.files, platform.clock, install_.ui),
        history_(install_.files, platform.clock.Now()) {}

  int Run(const std::string& argumentText);

 private:
  int RunSteps(const std::string& argumentText);
  void StartRecord();
  void CatchStopSignals();
  int RunDry();
  void PrintDryRun(const DryRunSite& site, const RunOutcome& outcome);
  bool TakeLeftRunLock();
  bool CheckUpdateFolder();
  bool ReadSharedFilesLocation();
  bool CheckFoldersApart();
  bool TakeRunLock();
  bool OfferToMoveDatabases();
  bool CheckDiskSpace(const platform::RegistrationStore& registrations);
  bool MoveAllDatabases();
  bool DatabasesInstalled() const;
  MessageAnswer AskToUpdate();
  int StopUnanswered();
  bool EnsureDatabaseFolders();
  bool KeepOldLogFile();
  int RunUpdate();
  RunOutcome TimedRun(log::RunLog& log, install::BackupHistory& history,
                      const platform::RegistrationStore& registrations);
  void ReportErrors();

  void StartLogFlushTimer(log::RunLog& log);
  void ReportLogFailure(log::RunLog& log);
  MessageAnswer Ask(const std::string& text, MessageIcon icon);
  std::string RunFolder() const;

  MainPlatform& platform_;
  RunOptions options_;
  const install::InstallPlatform& install_;
  log::RunLog log_;
  install::BackupHistory history_;
  std::unique_ptr<platform::FileLock> run_lock_;
  std::string update_folder_;
  std::string location_;
  std::string shared_database_folder_;
  long long run_milliseconds_ = 0;
  int stop_status_ = kExitStopped;  // when a step before the run stops the program
  // How the run ended, for its record: a run that returns before its update
  // has stopped.
  std::string ending_ = "stopped";
  int errors_ = 0;
};

// Every record the run made gets its end, also when it stopped before the
// update (after a move, say): only a killed run leaves one without.
int InstallationFlow::Run(const std::string& argumentText) {
  int status = RunSteps(argumentText);
  history_.End(platform_.clock.Now(), errors_, ending_);
  return status;
}

int InstallationFlow::RunSteps(const std::string& argumentText) {
  update_folder_ = GetCommandLineFolder(argumentText);
  if (!CheckUpdateFolder() || !ReadSharedFilesLocation()) return kExitStopped;
  shared_database_folder_ = location_ + install::kDatabaseSubfolder;
  history_.SetRunsKept(KeptUpdateRuns(platform_.share));
  // Checked before anything is written, the dry run stopping with the run: a
  // shared folder in the update folder would put the run's files into the
  // release, and an odbc.ini that cannot be read would fail every data source.
  if (!CheckFoldersApart() || !CheckRegistrations(install_, kCanceled)) return kExitStopped;
  if (options_.dry_run) return RunDry();
  if (!TakeRunLock() || !OfferToMoveDatabases()) return stop_status_;
  if (!CheckDiskSpace(install_.registrations)) return kExitStopped;
  log_.SetLogFilePath(shared_database_folder_ + kLogFileName);
  if (DatabasesInstalled()) {
    MessageAnswer answer = AskToUpdate();
    if (answer == MessageAnswer::kNoAnswer) return StopUnanswered();
    if (answer != MessageAnswer::kYes) return kExitSuccess;
  }
  // A first installation needs the folders for its databases. When the
  // operator kept the databases where they are, the folder is still needed
  // for the log file.
  if (!EnsureDatabaseFolders()) return kExitStopped;
  StartRecord();
  if (!KeepOldLogFile()) return kExitStopped;
  return RunUpdate();
}

// The record lies in the history of the shared database folder, beside the
// log. A history that refuses it (a "backups" that is a link) refuses the
// backups too, and those failures are the run's to report.
void InstallationFlow::StartRecord() {
  try {
    history_.StartRecord(shared_database_folder_);
  } catch (const Error&) {
    return;  // no record: the run goes on, its log tells what happened
  }
  history_.Note("version", ProgramVersion());
  std::string folder = RunFolder();
  try {
    folder = install_.files.ResolvedPath(folder);
  } catch (const Error&) {
    // The folder as given: it was found, so it names the update folder.
  }
  history_.Note("folder", folder);
}

// Only now: until the update begins, nothing is half done, and Ctrl-C at a
// question ends the program as it always did.
void InstallationFlow::CatchStopSignals() {
  if (platform_.stop != nullptr) platform_.stop->Catch();
}

bool InstallationFlow::CheckUpdateFolder() {
  if (FolderHasDatabases(install_.files, update_folder_)) return true;
  std::string misfit = MisfitDatabase(install_.files, update_folder_);
  if (!misfit.empty()) {
    install::ShowCritical(install_.ui, "The update information is no database file:\r\n\r\n" +
                                           misfit + "\r\n\r\n" + kCanceled);
    return false;
  }
  install::ShowCritical(install_.ui,
                        "Cannot find folder: \r\n\r\n" + update_folder_ + "\r\n\r\n" + kCanceled);
  return false;
}

bool InstallationFlow::ReadSharedFilesLocation() {
  return ReadLocation(platform_.share, install_.ui, &location_);
}

// The lock, the log, the backups and the databases go into the shared
// database folder: in the update folder they would change the release.
bool InstallationFlow::CheckFoldersApart() {
  if (!install::LiesInFolder(install_.files, shared_database_folder_, RunFolder())) return true;
  std::string update = RunFolder();
  try {
    update = install_.files.ResolvedPath(update);
  } catch (const Error&) {
    // It was found a moment ago; named as given, it is still recognisable.
  }
  install::ShowCritical(
      install_.ui,
      std::string(install_.files.SameFolder(shared_database_folder_, RunFolder())
                      ? "The shared database folder and the update folder are the same folder:"
                      : "The shared database folder lies in the update folder:") +
          "\r\n\r\n" + shared_database_folder_ + "\r\n" + update +
          "\r\n\r\nThe run would write its lock, log, backups and databases into the update "
          "information.\r\n\r\n" +
          kCanceled);
  return false;
}

bool InstallationFlow::TakeRunLock() {
  run_lock_ = startup::TakeRunLock(install_, platform_.clock, location_,
                                   {options_.wait_seconds, !options_.dry_run}, platform_.err);
  return run_lock_ != nullptr;
}

// A dry run creates nothing, not even the lock file: it locks only a file
// that a run has left, so that it does not copy databases another run is
// writing.
bool InstallationFlow::TakeLeftRunLock() {
  if (!install_.files.FileExists(shared_database_folder_ + kLockFileName)) return true;
  return TakeRunLock();
}

// The real run's code on copies of the databases: no question, no move, no
// data source created; the log it wrote is printed with the real folders.
int InstallationFlow::RunDry() {
  if (!TakeLeftRunLock()) return kExitStopped;
  // The data sources are checked, and missing ones created, as the real run
  // does, in memory; a move is not offered, as if the operator answered No.
  DryRunDataSources sources(install_.registrations, install_.installer);
  install::CheckDataSources({install_.files, sources, sources, install_.ui},
                            shared_database_folder_);
  // What the real run could not write, the dry run does not pretend to.
  if (!CheckDiskSpace(sources)) return kExitStopped;
  DryRunSite site(install_.files, sources, shared_database_folder_,
                  platform::WithTrailingSlash(RunFolder()));
  try {
    site.CopyDatabases();
  } catch (const Error& error) {
    install::ShowCritical(install_.ui, "Cannot copy the databases for the dry run:\r\n\r\n" +
                                           install::ErrorLine(error) + "\r\n\r\n" + kCanceled);
    return kExitStopped;
  }
  log::RunLog log(install_.files, platform_.clock, install_.ui);
  log.SetLogFilePath(site.LogPath());
  install::BackupHistory history(install_.files, platform_.clock.Now());
  StartLogFlushTimer(log);
  log.frmLog();
  CatchStopSignals();
  RunOutcome outcome = TimedRun(log, history, site);
  ReportLogFailure(log);
  log.UnloadLogWindow();
  if (platform_.out != nullptr) PrintDryRun(site, outcome);
  if (outcome.stopped_by != 0) return ExitStatusOfSignal(outcome.stopped_by);
  return outcome.errors_detected ? kExitErrorsDetected : kExitSuccess;
}

void InstallationFlow::PrintDryRun(const DryRunSite& site, const RunOutcome& outcome) {
  std::string text;
  try {
    text = install_.files.ReadFile(site.LogPath());
  } catch (const Error&) {
    // No log: the run ended before its first line; the summary says so.
  }
  text = site.WithRealFolders(std::move(text));
  if (options_.summary) {
    text = "Plan of the update (a dry run: nothing was changed)\n\n" +
           SummaryTable(CountLogActions(text)) + "\n";
  }
  *platform_.out << text;
  *platform_.out << SummaryLine(outcome, run_milliseconds_, "(dry run, not kept)") << "\n";
}

bool InstallationFlow::OfferToMoveDatabases() {
  if (!install::CheckDataSources(install_, shared_database_folder_)) return true;
  MessageAnswer answer =
      Ask("Do you want to move the Korvane Common Databases into \r\n\r\n" +
              shared_database_folder_ + "  \r\n\r\nand re-configure their ODBC entries ?",
          MessageIcon::kQuestion);
  if (answer == MessageAnswer::kNoAnswer) {
    stop_status_ = StopUnanswered();
    return false;
  }
  return answer != MessageAnswer::kYes || MoveAllDatabases();
}

// Before anything is written: a run that fills the disk half-way leaves
// databases at two releases and a log cut off.
bool InstallationFlow::CheckDiskSpace(const platform::RegistrationStore& registrations) {
  bool enough = true;
  for (const SpaceNeed& need :
       EstimateSpace(install_.files, registrations, platform::WithTrailingSlash(RunFolder()),
                     shared_database_folder_)) {
    if (need.Total() <= need.available) continue;
    install::ShowCritical(install_.ui, NoSpaceText(need) + "\r\n\r\n" + kCanceled);
    enough = false;
  }
  return enough;
}

bool InstallationFlow::MoveAllDatabases() {
  if (!EnsureDatabaseFolders()) return false;
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
    if (!install::MoveDatabase(install_, history_, shared_database_folder_, RunFolder(),
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

MessageAnswer InstallationFlow::AskToUpdate() {
  return Ask(
      "Would you like to perform an update of the Korvane databases? \r\n\r\n"
      "Please be aware that the updated Korvane databases are required for the full "
      "functionality of the software.\r\n\r\n"
      "A log file will be generated: \r\n\r\n" +
          log_.LogFilePath(),
      MessageIcon::kNone);
}

bool InstallationFlow::EnsureDatabaseFolders() {
  return startup::EnsureDatabaseFolders(install_, location_);
}

// The old log goes into the backup history. A symbolic link in its place is
// removed, never written through.
bool InstallationFlow::KeepOldLogFile() {
  const std::string& path = log_.LogFilePath();
  try {
    if (install_.files.IsSymbolicLink(path)) {
      install_.files.DeleteFile(path, true);
    } else if (install_.files.FileExists(path)) {
      history_.KeepCompressed(path);
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
  StartLogFlushTimer(log_);
  log_.frmLog();
  CatchStopSignals();
  RunOutcome outcome = TimedRun(log_, history_, install_.registrations);
  ReportLogFailure(log_);
  errors_ = outcome.errors;
  ending_ = outcome.stopped_by != 0 ? "signal " + std::to_string(outcome.stopped_by)
            : !outcome.completed    ? "stopped"
            : outcome.errors_detected ? "errors"
                                      : "done";
  if (platform_.out != nullptr) {
    *platform_.out << SummaryLine(outcome, run_milliseconds_, log_.LogFilePath()) << "\n";
  }
  // The operator asked for the stop: no message, no window to close.
  if (outcome.stopped_by != 0) {
    log_.UnloadLogWindow();
    return ExitStatusOfSignal(outcome.stopped_by);
  }
  // Unattended, nobody would read the message or close the window.
  if (outcome.errors_detected && !options_.unattended) ReportErrors();
  log_.UnloadLogWindow();
  return outcome.errors_detected ? kExitErrorsDetected : kExitSuccess;
}

RunOutcome InstallationFlow::TimedRun(log::RunLog& log, install::BackupHistory& history,
                                      const platform::RegistrationStore& registrations) {
  long long start = platform_.clock.MonotonicMilliseconds();
  RunOutcome outcome = platform_.run(log, history, registrations, RunFolder());
  run_milliseconds_ = platform_.clock.MonotonicMilliseconds() - start;
  return outcome;
}

// The log cannot tell that it could not be written, so this says why.
void InstallationFlow::ReportLogFailure(log::RunLog& log) {
  std::optional<Error> failure = log.FileFailure();
  if (!failure || platform_.err == nullptr) return;
  *platform_.err << "tabsync: cannot write the log file " << log.LogFilePath() << ": "
                 << install::ErrorLine(*failure) << "\n";
}

void InstallationFlow::StartLogFlushTimer(log::RunLog& log) {
  if (platform_.log_flush_interval.count() > 0) log.StartFlushTimer(platform_.log_flush_interval);
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

MessageAnswer InstallationFlow::Ask(const std::string& text, MessageIcon icon) {
  if (options_.unattended) return MessageAnswer::kYes;
  return install_.ui.ShowMessage({text, platform::kProgramTitle, icon, MessageButtons::kYesNo});
}

// An installer or a cron job without --yes must not take a question nobody
// could answer for a No that succeeded.
int InstallationFlow::StopUnanswered() {
  ShowNoAnswer(install_.ui, "Nothing was moved or updated.", "tabsync --yes DB");
  return kExitNoAnswer;
}

}  // namespace

UpdateRun EngineUpdateRun(dao::DatabaseEngine& dbEngine, platform::FileSystem& files,
                          platform::ProgressDisplay& progress,
                          const platform::StopSignals* stop) {
  return [&dbEngine, &files, &progress, stop](log::RunLog& log, install::BackupHistory& history,
                                               const platform::RegistrationStore& registrations,
                                               const std::string& updateFolder) {
    engine::UpdateContext context(dbEngine, files, registrations, log, history);
    context.SetProgress(&progress);
    if (stop != nullptr) context.SetStopCheck([stop] { return stop->Caught(); });
    engine::UpdateAllDatabases(context, updateFolder);
    progress.Finish();
    return RunOutcome{context.ErrorsDetected(), context.DatabasesUpdated(), context.ErrorCount(),
                      context.Completed(), context.StoppedBy()};
  };
}

std::string SummaryLine(const RunOutcome& outcome, long long milliseconds,
                        const std::string& logPath) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(milliseconds) / 1000.0);
  return std::to_string(outcome.databases_updated) + " of " +
         std::to_string(engine::DatabaseCatalogue.size()) + " databases updated, " +
         std::to_string(outcome.errors) + (outcome.errors == 1 ? " error, " : " errors, ") +
         seconds + " s; log: " + logPath;
}

bool FolderHasDatabases(const platform::FileSystem& files, const std::string& folder) {
  return files.FileExists(platform::BuildPath(folder, "accounting.mdb")) &&
         files.FileExists(platform::BuildPath(folder, "users.mdb"));
}

std::string MisfitDatabase(const platform::FileSystem& files, const std::string& folder) {
  for (const char* name : {"accounting.mdb", "users.mdb"}) {
    std::string path = platform::BuildPath(folder, name);
    if (files.FileExists(path)) continue;
    if (files.FolderExists(path)) return path + " (a folder)";
    if (files.IsSymbolicLink(path)) return path + " (a symbolic link that leads to no file)";
    return "";
  }
  return "";
}

int Main(MainPlatform& platform, const std::string& argumentText, const RunOptions& options) {
  return InstallationFlow(platform, options).Run(argumentText);
}

}  // namespace tabsync::startup
