#ifndef TABSYNC_ENGINE_RELEASE_STEPS_H_
#define TABSYNC_ENGINE_RELEASE_STEPS_H_

#include <functional>
#include <string>
#include <vector>

#include "engine/update_context.h"

namespace tabsync::engine {

// One change the new release makes to a database, working on the two open
// handles of the context. merges_database marks the step that merges the whole
// database in use into the update information (config, resource): when it
// fails, the update information must not replace the database in use.
struct ReleaseStep {
  std::function<void(UpdateContext&)> run;
  bool merges_database = false;
};

// The steps of the database with that base name ("accounting", ...), in the
// order they run; none for an unknown name.
std::vector<ReleaseStep> ReleaseStepsFor(const std::string& baseName);

// The tables of the update information that the steps of that base name read,
// which must be there before the steps change the database in use: the
// model of an added column, a "Version" table brought in, the "Version" table
// that the whole-database merge keeps as delivered. None for an unknown name
// and for the steps that read only the database in use.
std::vector<std::string> TablesReadFromUpdateInfo(const std::string& baseName);

// Runs the steps in order, each under the run's error capture on its own, so
// that a failing step does not keep the next one from running. False when a
// step that merges the database failed.
bool RunReleaseSteps(UpdateContext& context, const std::vector<ReleaseStep>& steps);

// RunReleaseSteps on ReleaseStepsFor(baseName).
bool ApplyReleaseSteps(UpdateContext& context, const std::string& baseName);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_RELEASE_STEPS_H_
