#include "engine/release_steps.h"

#include "engine/content_corrections.h"
#include "engine/schema_renames.h"
#include "engine/table_merge.h"

namespace tabsync::engine {
namespace {

ReleaseStep Step(std::function<void(UpdateContext&)> run) { return {std::move(run), false}; }

ReleaseStep RenameColumnStep(std::string table, std::string oldColumn, std::string newColumn) {
  return Step([=](UpdateContext& context) { RenameColumn(context, table, oldColumn, newColumn); });
}

ReleaseStep RenameTableStep(std::string oldName, std::string newName) {
  return Step([=](UpdateContext& context) { RenameTable(context, oldName, newName); });
}

ReleaseStep InsertColumnStep(std::string table, std::string column) {
  return Step([=](UpdateContext& context) { InsertColumn(context, table, column); });
}

ReleaseStep MergeTableStep(std::string table) {
  return Step([=](UpdateContext& context) { MergeTable(context, table); });
}

// The last step of the two reference databases, whose failure keeps the
// update information from replacing the database in use.
ReleaseStep MergeWholeDatabase() { return {MergeAllTables, true}; }

std::vector<ReleaseStep> AccountingSteps() {
  return {RenameColumnStep("Actions", "Interval", "ObsInterval"),
          RenameColumnStep("Actions", "Date/Time", "ActionTime"),
          InsertColumnStep("Actions", "UserName"), MergeTableStep("Version")};
}

std::vector<ReleaseStep> AvailabilitySteps() {
  std::vector<ReleaseStep> steps = {
      RenameColumnStep("Availability", "Date", "ReferenceDate"),
      RenameColumnStep("EpochDefect", "From", "StartTime"),
      RenameColumnStep("EpochDefect", "To", "EndTime"),
      RenameColumnStep("SatelliteDefect", "From", "StartTime"),
      RenameColumnStep("SatelliteDefect", "To", "EndTime"),
      RenameColumnStep("VisibleSatellites", "Time", "ReferenceTime")};
  // The cut-off columns, one step per angle so that a failing angle does not
  // keep the next one from its rename. "\xC2\xB0" is the degree sign in UTF-8.
  for (int angle = 0; angle <= 85; angle += 5) {
    std::string a = std::to_string(angle);
    steps.push_back(RenameColumnStep("VisibleSatellites", "Cutoff " + a + "\xC2\xB0", "Cutoff_" + a));
  }
  return steps;
}

std::vector<ReleaseStep> ResourceSteps() {
  // The obsolete strings go and the column gets its new name in the database
  // in use before it is merged into the update information.
  return {Step(DeleteObsoleteStrings), RenameColumnStep("StringTable", "Replace", "ReplaceRow"),
          MergeWholeDatabase()};
}

std::vector<ReleaseStep> UsersSteps() {
  // Both old names of the privileges table are renamed before the
  // corrections, which use the new name.
  return {RenameTableStep("Privilegies", "AccessPrivileges"),
          RenameTableStep("Privileges", "AccessPrivileges"),
          RenameColumnStep("Users", "Full Name", "FullName"),
          RenameColumnStep("Users", "Zip-Code", "ZipCode"),
          Step(ReplaceJobManagementFeature),
          InsertColumnStep("Passwd", "MaxNtripConn"),
          MergeTableStep("Version"),
          Step(AddGuestLogonPrivilege)};
}

}  // namespace

std::vector<ReleaseStep> ReleaseStepsFor(const std::string& baseName) {
  if (baseName == "accounting") return AccountingSteps();
  if (baseName == "availability") return AvailabilitySteps();
  if (baseName == "config") return {MergeWholeDatabase()};
  if (baseName == "resource") return ResourceSteps();
  if (baseName == "users") return UsersSteps();
  return {};
}

// Read off the steps above: InsertColumn reads its table, MergeTable its
// table, MergeAllTables "Version" (the database in use's own is skipped in
// favour of it).
std::vector<std::string> TablesReadFromUpdateInfo(const std::string& baseName) {
  if (baseName == "accounting") return {"Actions", "Version"};
  if (baseName == "config" || baseName == "resource") return {"Version"};
  if (baseName == "users") return {"Passwd", "Version"};
  return {};
}

bool RunReleaseSteps(UpdateContext& context, const std::vector<ReleaseStep>& steps) {
  bool merged = true;
  for (const ReleaseStep& step : steps) {
    bool ran = RunCaptured(context, [&] { step.run(context); });
    if (step.merges_database && !ran) merged = false;
  }
  return merged;
}

bool ApplyReleaseSteps(UpdateContext& context, const std::string& baseName) {
  return RunReleaseSteps(context, ReleaseStepsFor(baseName));
}

}  // namespace tabsync::engine
