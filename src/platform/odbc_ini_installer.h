#ifndef TABSYNC_PLATFORM_ODBC_INI_INSTALLER_H_
#define TABSYNC_PLATFORM_ODBC_INI_INSTALLER_H_

#include <memory>

#include "platform/odbc_installer.h"

namespace tabsync::platform {

// Creates system data sources of unixODBC in the file SystemOdbcIniPath()
// (odbc_ini_store.h), the one that NewOdbcIniStore() reads.
//
// AddSystemDataSource(name, file) changes only the first section whose name
// equals `name` ignoring letter case, by the reading rules of ReadIniValue
// (ini_file.h). It keeps that section's header line and every line of it that
// is not read as a key (comments, blank and indented lines) where they are,
// drops its key lines, and puts "Driver=SQLite3", "DBQ=<file>" and
// "Database=<file>" right after the header. Without such a section it appends
// "[name]" and the three keys after the existing text, one empty line
// between. Every other line stays byte for byte as it was; the lines written
// end in "\n". A missing file is created.
//
// False, with nothing written, when:
// - the name or the file path is empty, or could not be stored so that it
//   reads back the same: a line break or NUL in either; blank, tab, "\r",
//   "\v" or "\f" at either end of either; "[" or "]" in the name;
// - the new text would not give `file` back as the "DBQ" of `name` (a stray
//   line before the first section makes the whole file unreadable);
// - the file exists but cannot be read, or its folder cannot be opened,
//   locked or written.
// The one exception to "nothing written": when the rename has been done but
// the folder cannot be flushed to disk afterwards, the new file is in place
// and the call still returns false, because it may not survive a crash.
//
// Writers in any thread or process that use this installer do not
// interleave: each holds an exclusive flock() on the folder of odbc.ini from
// reading the file to renaming the new one over it. The new text is written
// to a temporary file in that folder with the permission bits of the old
// file (0644 when there was none), flushed to disk and renamed over
// odbc.ini, so a reader sees the old file or the new one, never a part. No
// lock or temporary file is left behind. Raises nothing.
std::unique_ptr<OdbcInstaller> NewOdbcIniInstaller();

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_ODBC_INI_INSTALLER_H_
