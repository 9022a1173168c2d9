#include "engine/update_context.h"

#include "engine/release_steps.h"
#include "engine/runtime_errors.h"

namespace tabsync::engine {
namespace {

dao::Database& Handle(const std::unique_ptr<dao::Database>& database) {
  if (!database) throw ObjectNotSet();
  return *database;
}

}  // namespace

UpdateContext::UpdateContext(dao::DatabaseEngine& dbEngine, platform::FileSystem& files,
                             const platform::RegistrationStore& registrations,
                             log::RunLog& log, install::BackupHistory& history)
    : db_engine_(dbEngine),
      files_(files),
      registrations_(registrations),
      log_(log),
      history_(history),
      release_steps_(ApplyReleaseSteps) {}

dao::Database& UpdateContext::ExistingDatabase() { return Handle(existing_database_); }

dao::Database& UpdateContext::UpdateInfoDatabase() { return Handle(update_info_database_); }

void UpdateContext::SetExistingDatabase(std::unique_ptr<dao::Database> database) {
  existing_database_ = std::move(database);
}

void UpdateContext::SetUpdateInfoDatabase(std::unique_ptr<dao::Database> database) {
  update_info_database_ = std::move(database);
}

std::vector<std::string> UpdateContext::TablesReadBySteps(const std::string& baseName) const {
  if (release_steps_replaced_) return {};
  return TablesReadFromUpdateInfo(baseName);
}

void ReportError(UpdateContext& context, const Error& error) {
  std::string line = " ERROR " + std::to_string(error.Number()) + ": " + error.Description();
  context.CountError(line);
  if (error.Number() == platform::file_errors::kDiskFull || error.Number() == errors::kDiskFull)
    context.SetDiskFull();
  context.WriteLog(line);
  // An error line reaches the file at once: it is what a killed run's
  // operator most needs to read.
  context.FlushLog();
}

bool RunCaptured(UpdateContext& context, const std::function<void()>& step) {
  try {
    step();
    return true;
  } catch (const Error& error) {
    ReportError(context, error);
    return false;
  }
}

}  // namespace tabsync::engine
