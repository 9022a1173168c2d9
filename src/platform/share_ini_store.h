#ifndef TABSYNC_PLATFORM_SHARE_INI_STORE_H_
#define TABSYNC_PLATFORM_SHARE_INI_STORE_H_

#include <memory>
#include <string>

#include "platform/shared_files_store.h"

namespace tabsync::platform {

// The folder of share.ini when TABSYNC_SYSCONFDIR is unset or empty.
constexpr char kDefaultSysconfDir[] = "/etc/korvane";

// The shared-files location as an earlier installation registered it: the key
// SharedFilesLocation of the section [Share] of the ini file ShareIniPath(),
// read by the rules of ini_file.h (docs/installation.md). A file that is
// missing or unreadable, or lacks the section or the key, holds no location.
std::unique_ptr<SharedFilesStore> NewShareIniStore();

// share.ini in the folder named by the environment variable
// TABSYNC_SYSCONFDIR, or in kDefaultSysconfDir. Read at every call.
std::string ShareIniPath();

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_SHARE_INI_STORE_H_
