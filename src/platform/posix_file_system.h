#ifndef TABSYNC_PLATFORM_POSIX_FILE_SYSTEM_H_
#define TABSYNC_PLATFORM_POSIX_FILE_SYSTEM_H_

#include <memory>

#include "platform/file_system.h"

namespace tabsync::platform {

// The file system of this machine, through POSIX calls. CopyFile with
// overwrite writes a temporary file in the destination's folder, flushes it to
// disk and renames it over the destination.
std::unique_ptr<FileSystem> NewPosixFileSystem();

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_POSIX_FILE_SYSTEM_H_
