#ifndef TABSYNC_TESTS_SUPPORT_SQLITE_FILES_H_
#define TABSYNC_TESTS_SUPPORT_SQLITE_FILES_H_

#include <string>

namespace tabsync::test {

// Runs SQL on a database file with plain SQLite, as another program would
// (the file is created when missing). Throws std::runtime_error on failure.
void ExecSql(const std::string& path, const std::string& sql);

// Runs a query with plain SQLite and returns its rows, one line per row
// ending in "\n", columns joined by "|", NULL as "NULL".
std::string QuerySql(const std::string& path, const std::string& sql);

// The whole content of a file; throws when it cannot be read. Do not call it
// on a database that this process holds open through the engine: closing any
// descriptor of a file drops the process's POSIX locks on it.
std::string ReadFileBytes(const std::string& path);

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_SQLITE_FILES_H_
