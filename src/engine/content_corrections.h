#ifndef TABSYNC_ENGINE_CONTENT_CORRECTIONS_H_
#define TABSYNC_ENGINE_CONTENT_CORRECTIONS_H_

#include "engine/update_context.h"

namespace tabsync::engine {

// Fixed corrections of records in ExistingDatabase that the release needs.
// Each first asks with a query whether there is anything to do; when there
// is nothing, it changes nothing and logs nothing. None captures failures: a
// missing table or column, a refused query or a refused write passes to the
// caller, and the record set opened is released with it.

// users.mdb: sets the Feature of every "Services" record whose Feature is
// 'Jobmanagement' (any letter case) to "OnlineShop", and logs once, after
// the last change,
// "  REPLACE CONTENT tables 'AccessPrivileges', 'Services': 'JobManagement' -> 'OnlineShop'".
void ReplaceJobManagementFeature(UpdateContext& context);

// users.mdb: adds to "AccessPrivileges" the record GroupID 5, ID 12 (the
// guests' logon privilege) when it is missing, other columns getting their
// defaults, and logs " ADD RECORD in AccessPrivileges: Guest=Logon".
void AddGuestLogonPrivilege(UpdateContext& context);

// resource.mdb: deletes the strings of "StringTable" whose ID lies between
// 13099 and 13209, both excluded; compared as texts when the ID column is a
// Text column ("WHERE (ID > '13099') And (ID < '13209')"), as numbers
// otherwise ("WHERE (ID > 13099) And (ID < 13209)"). Logs the DELETE
// statement before running it, all or nothing.
void DeleteObsoleteStrings(UpdateContext& context);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_CONTENT_CORRECTIONS_H_
