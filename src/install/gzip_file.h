#ifndef TABSYNC_INSTALL_GZIP_FILE_H_
#define TABSYNC_INSTALL_GZIP_FILE_H_

#include <string>

#include "platform/file_system.h"

namespace tabsync::install {

// Writes the file at `source`, compressed in the gzip format (readable with
// zcat), as the new file `destination`, reading and writing in pieces of
// 1 MiB at most. The source is left as it is. Raises the file errors (those
// of OpenForAppend and Append; 75 when the source cannot be read or the
// compression fails, 58 when the destination exists); a destination cut off
// by a failure stays for the caller to remove.
void GzipFile(platform::FileSystem& files, const std::string& source,
              const std::string& destination);

}  // namespace tabsync::install

#endif  // TABSYNC_INSTALL_GZIP_FILE_H_
