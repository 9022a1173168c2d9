#ifndef TABSYNC_ENGINE_FORMAT_UPGRADE_H_
#define TABSYNC_ENGINE_FORMAT_UPGRADE_H_

#include "dbengine/dao.h"
#include "engine/update_context.h"

namespace tabsync::engine {

// The step of the update run that brings a database the run changes to the
// engine's current file format (docs/database-format.md, "Format versions"),
// right after its open and before its release steps, so that what the steps
// create is declared as the current format declares it. The change is part
// of the database's session: it reaches the file with the session's commit,
// or not at all. It is no action on the operator's data and writes no log
// line. A failure is captured like every step's (" ERROR <number>:
// <description>", ErrorsDetected); the database then keeps its declarations
// and the run goes on with its release steps.
void UpgradeFormatStep(UpdateContext& context, dao::Database& database);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_FORMAT_UPGRADE_H_
