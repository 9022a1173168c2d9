#include "engine/format_upgrade.h"

namespace tabsync::engine {

void UpgradeFormatStep(UpdateContext& context, dao::Database& database) {
  RunCaptured(context, [&] { database.UpgradeFormat(); });
}

}  // namespace tabsync::engine
