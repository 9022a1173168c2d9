#ifndef TABSYNC_TESTS_SUPPORT_SQLITE_FILES_H_
#define TABSYNC_TESTS_SUPPORT_SQLITE_FILES_H_

#include <string>

#include "support/temp_dir.h"  // ReadFileBytes

namespace tabsync::test {

// Runs SQL on a database file with plain SQLite, as another program would
// (the file is created when missing). Throws std::runtime_error on failure.
void ExecSql(const std::string& path, const std::string& sql);

// Runs a query with plain SQLite and returns its rows, one line per row
// ending in "\n", columns joined by "|", NULL as "NULL".
std::string QuerySql(const std::string& path, const std::string& sql);


}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_SQLITE_FILES_H_
