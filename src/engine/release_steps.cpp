#include "engine/release_steps.h"

namespace tabsync::engine {

std::vector<ReleaseStep> ReleaseStepsFor(const std::string& baseName) {
  // No database has changes of the release yet: the update run backs each
  // database up, opens and closes it, and rebuilds the reference databases
  // from their update information as it stands. The release's renames,
  // corrections and merges are listed here by base name.
  (void)baseName;
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
