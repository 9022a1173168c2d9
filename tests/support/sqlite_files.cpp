#include "support/sqlite_files.h"

#include <sqlite3.h>

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

std::string QuerySql(const std::string& path, const std::string& sql) { return Run(path, sql); }

}  // namespace tabsync::test
