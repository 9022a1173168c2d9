#include "support/sqlite_files.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tabsync::test {

namespace {

sqlite3* OpenOrThrow(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path + ": " + message);
  }
  return db;
}

int AppendRow(void* out, int columns, char** values, char**) {
  auto* text = static_cast<std::string*>(out);
  for (int i = 0; i < columns; ++i) {
    if (i > 0) *text += "|";
    *text += values[i] ? values[i] : "NULL";
  }
  *text += "\n";
  return 0;
}

std::string Run(const std::string& path, const std::string& sql) {
  sqlite3* db = OpenOrThrow(path);
  std::string rows;
  char* error = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), AppendRow, &rows, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("sql failed on " + path + ": " + message);
  return rows;
}

}  // namespace

void ExecSql(const std::string& path, const std::string& sql) { Run(path, sql); }

SharedReader::SharedReader(const std::string& path) {
  int ready[2], release[2];
  if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe failed");
  child_ = fork();
  if (child_ == 0) {
    close(ready[0]);
    close(release[1]);
    sqlite3* db = OpenOrThrow(path);
    int rc = sqlite3_exec(db, "BEGIN; SELECT count(*) FROM sqlite_schema;", nullptr, nullptr,
                          nullptr);
    char byte = rc == SQLITE_OK ? 1 : 0;
    (void)!write(ready[1], &byte, 1);
    (void)!read(release[0], &byte, 1);  // returns when the parent lets go
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  release_ = release[1];
  char locked = 0;
  bool ok = read(ready[0], &locked, 1) == 1 && locked == 1;
  close(ready[0]);
  if (!ok) throw std::runtime_error("the reader did not get its lock on " + path);
}

SharedReader::~SharedReader() {
  close(release_);
  waitpid(child_, nullptr, 0);
}

void LeaveHotJournal(const std::string& path, const std::string& table) {
  pid_t child = fork();
  if (child == 0) {
    // A cache of a few pages spills the deletion (with a table of some
    // thousand pages) into the file before the commit; _exit leaves the
    // journal as a crash would.
    sqlite3* db = OpenOrThrow(path);
    sqlite3_exec(db,
                 ("PRAGMA cache_size = 2; BEGIN; DELETE FROM " + table +
                  "; CREATE TABLE tabsync_spill (x);"
                  " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
                  " INSERT INTO tabsync_spill SELECT randomblob(1000) FROM n;")
                     .c_str(),
                 nullptr, nullptr, nullptr);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (access((path + "-journal").c_str(), F_OK) != 0) {
    throw std::runtime_error("no journal was left beside " + path);
  }
}

std::string QuerySql(const std::string& path, const std::string& sql) { return Run(path, sql); }

}  // namespace tabsync::test
