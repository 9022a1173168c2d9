#ifndef TABSYNC_TESTS_SUPPORT_SQLITE_FILES_H_
#define TABSYNC_TESTS_SUPPORT_SQLITE_FILES_H_

#include <string>

#include "support/temp_dir.h"  // ReadFileBytes

namespace tabsync::test {

// Runs SQL on a database file with plain SQLite, as another program would
// (the file is created when missing). Throws std::runtime_error on failure.
void ExecSql(const std::string& path, const std::string& sql);

// Leaves the file as a writer that died in the middle of its commit leaves
// it: some pages of a transaction that deletes every row of `table` already
// written, and the hot journal beside it that a reader must roll back first.
// The file alone, copied without its journal, is torn.
void LeaveHotJournal(const std::string& path, const std::string& table);

// Another program reading a database: a child process that holds SQLite's
// shared lock on the file (an open read transaction) until the object goes.
class SharedReader {
 public:
  explicit SharedReader(const std::string& path);
  ~SharedReader();
  SharedReader(const SharedReader&) = delete;
  SharedReader& operator=(const SharedReader&) = delete;

 private:
  int child_ = -1;
  int release_ = -1;
};

// Runs a query with plain SQLite and returns its rows, one line per row
// ending in "\n", columns joined by "|", NULL as "NULL".
std::string QuerySql(const std::string& path, const std::string& sql);


}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_SQLITE_FILES_H_
