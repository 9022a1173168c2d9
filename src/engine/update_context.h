#ifndef TABSYNC_ENGINE_UPDATE_CONTEXT_H_
#define TABSYNC_ENGINE_UPDATE_CONTEXT_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dao.h"
#include "dbengine/error.h"
#include "install/backup_history.h"
#include "log/run_log.h"
#include "platform/file_system.h"
#include "platform/progress_display.h"
#include "platform/registration_store.h"

namespace tabsync::engine {

class UpdateContext;

// Runs the release steps of one database (ApplyReleaseSteps in
// release_steps.h). False when the step that merges the whole database failed.
using ReleaseStepsFunction = std::function<bool(UpdateContext&, const std::string& baseName)>;

// The state of an update run and the platform it works on, handed to every
// procedure of the update engine. The two database handles are open only
// while one database is being updated; a closed handle stays in its place
// until the next database is opened, so a failed open leaves the handle of
// the database before, closed, and every use of it fails in turn.
class UpdateContext {
 public:
  // The objects passed in must outlive the context. The release steps are
  // ApplyReleaseSteps unless SetReleaseSteps gives others. The history keeps
  // the older backups that the run replaces.
  UpdateContext(dao::DatabaseEngine& dbEngine, platform::FileSystem& files,
                const platform::RegistrationStore& registrations, log::RunLog& log,
                install::BackupHistory& history);
  UpdateContext(const UpdateContext&) = delete;
  UpdateContext& operator=(const UpdateContext&) = delete;

  dao::DatabaseEngine& DBEngine() { return db_engine_; }
  platform::FileSystem& Files() { return files_; }
  const platform::RegistrationStore& Registrations() const { return registrations_; }
  install::BackupHistory& History() { return history_; }

  // One line of the run log, with the date and time prefix. Raises when the
  // log file cannot be written.
  void WriteLog(const std::string& sText) { log_.WriteLog(sText, true); }
  // Writes the log lines still waiting in its buffer. Raises when the log
  // file cannot be written.
  void FlushLog() { log_.Flush(); }

  // The database in use and the update-information database of the catalogue
  // entry being updated. Raise 91 while no handle has been set yet; a closed
  // handle raises the engine's 3420 on use.
  dao::Database& ExistingDatabase();
  dao::Database& UpdateInfoDatabase();
  void SetExistingDatabase(std::unique_ptr<dao::Database> database);
  void SetUpdateInfoDatabase(std::unique_ptr<dao::Database> database);

  // The catalogue file name of the database being updated ("resource.mdb");
  // kept after its update.
  const std::string& CurrentDatabaseFile() const { return current_database_file_; }
  void SetCurrentDatabaseFile(const std::string& fileName) { current_database_file_ = fileName; }

  // Set by any failure of the run; only the starter of a run resets it.
  bool ErrorsDetected() const { return errors_detected_; }
  void SetErrorsDetected(bool detected) { errors_detected_ = detected; }
  // A failure logged in the run's own words or as " ERROR ", by its line:
  // sets ErrorsDetected and counts it.
  void CountError(const std::string& line) {
    errors_detected_ = true;
    ++error_count_;
    last_error_line_ = line;
  }
  int ErrorCount() const { return error_count_; }
  // The line of the last failure counted; "" before the first.
  const std::string& LastErrorLine() const { return last_error_line_; }
  // Set by ReportError for a full disk (file error 61, engine error 3026):
  // the run stops after the database it happened in.
  bool DiskFull() const { return disk_full_; }
  void SetDiskFull() { disk_full_ = true; }
  // Databases whose update ended without an error of their own.
  int DatabasesUpdated() const { return databases_updated_; }
  void CountDatabaseUpdated() { ++databases_updated_; }

  // Where the run shows its progress; nothing unless SetProgress gave a
  // display, which must outlive the context.
  platform::ProgressDisplay& Progress() { return *progress_; }
  void SetProgress(platform::ProgressDisplay* progress) { progress_ = progress; }

  // Asked between databases whether the run is to stop: the number of the
  // signal that asked for it, 0 to go on. Never asked unless set.
  void SetStopCheck(std::function<int()> check) { stop_check_ = std::move(check); }
  int StopRequested() const { return stop_check_ ? stop_check_() : 0; }
  // After UpdateAllDatabases: the signal that stopped the run (0: none), and
  // whether it went through every database ("## END UPDATING").
  int StoppedBy() const { return stopped_by_; }
  void SetStoppedBy(int signal) { stopped_by_ = signal; }
  bool Completed() const { return completed_; }
  void SetCompleted() { completed_ = true; }

  ReleaseStepsFunction& ReleaseSteps() { return release_steps_; }
  // Replaces the release's steps; the steps given read no table of the
  // update information that must be there.
  void SetReleaseSteps(ReleaseStepsFunction steps) {
    release_steps_ = std::move(steps);
    release_steps_replaced_ = true;
  }
  // The tables of the update information that the release steps of a
  // database read (TablesReadFromUpdateInfo in release_steps.h), none once
  // SetReleaseSteps has replaced the steps.
  std::vector<std::string> TablesReadBySteps(const std::string& baseName) const;

 private:
  dao::DatabaseEngine& db_engine_;
  platform::FileSystem& files_;
  const platform::RegistrationStore& registrations_;
  log::RunLog& log_;
  install::BackupHistory& history_;
  std::unique_ptr<dao::Database> existing_database_;
  std::unique_ptr<dao::Database> update_info_database_;
  std::string current_database_file_;
  bool errors_detected_ = false;
  int error_count_ = 0;
  bool disk_full_ = false;
  int databases_updated_ = 0;
  std::string last_error_line_;
  std::function<int()> stop_check_;
  int stopped_by_ = 0;
  bool completed_ = false;
  ReleaseStepsFunction release_steps_;
  bool release_steps_replaced_ = false;
  std::unique_ptr<platform::ProgressDisplay> no_progress_ = platform::NewNoProgress();
  platform::ProgressDisplay* progress_ = no_progress_.get();
};

// Logs a failure the run goes on after: sets ErrorsDetected and writes
// " ERROR " + number + ": " + description, and the log's buffer with it.
// Raises when the log cannot be written.
void ReportError(UpdateContext& context, const Error& error);

// Runs one step under the run's error capture: an Error the step raises is
// reported (ReportError) and the run goes on. Returns false when the step
// raised. An error of writing the report itself passes to the caller.
bool RunCaptured(UpdateContext& context, const std::function<void()>& step);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_UPDATE_CONTEXT_H_
