#ifndef TABSYNC_INSTALL_SHARED_FILES_LOCATION_H_
#define TABSYNC_INSTALL_SHARED_FILES_LOCATION_H_

#include <cstddef>
#include <string>

#include "platform/file_system.h"
#include "platform/shared_files_store.h"

namespace tabsync::install {

// The longest shared-files location that can be read: 510 bytes, the room of
// a 511-byte buffer with its terminating zero. A longer value counts as not
// registered.
constexpr std::size_t kMaxSharedFilesLocationBytes = 510;

// Reads the shared-files location. True when it is registered and not too
// long; *path is then the value with "/" appended unless it ends in one
// ("" gives "/"). False, with *path untouched, otherwise. Raises nothing.
bool GetSharedFilesLocation(const platform::SharedFilesStore& store, std::string* path);

// True when a shared-files location read by GetSharedFilesLocation may be
// used: an absolute folder ("/" first) without control characters. A
// relative one would put the databases below wherever the program was
// started.
bool IsUsableLocation(const std::string& path);

// True when the folder `inner` is the existing folder `outer` or lies below
// it, however either is spelt: folders are compared by identity (device and
// inode), and the part of `inner` that exists is resolved first, so that a
// symbolic link on the way counts where it leads. A part of `inner` not
// made yet lies where its nearest existing folder lies. False when `outer`
// does not exist. Raises nothing.
bool LiesInFolder(const platform::FileSystem& files, const std::string& inner,
                  const std::string& outer);

}  // namespace tabsync::install

#endif  // TABSYNC_INSTALL_SHARED_FILES_LOCATION_H_
