#include "support/sqlite_merge_test.h"

#include "support/sqlite_files.h"

namespace tabsync::test {
namespace {

constexpr char kLogPath[] = "/db/Stabmerge.log";
constexpr char kTimePrefix[] = "12-07-2026 09:05:31 ";

}  // namespace

SqliteMergeTest::SqliteMergeTest() {
  files_.AddFolder("/db");
  log_.SetLogFilePath(kLogPath);
}

void SqliteMergeTest::OpenDatabases(const std::string& existingSql, const std::string& updateSql) {
  ExecSql(existing_path_, existingSql);
  ExecSql(update_path_, updateSql);
  context_.SetExistingDatabase(engine_->OpenDatabase(existing_path_, dao::kOpenExclusive));
  context_.SetUpdateInfoDatabase(engine_->OpenDatabase(update_path_, dao::kOpenExclusive));
}

void SqliteMergeTest::CloseDatabases() {
  if (closed_) return;
  closed_ = true;
  Existing().Close();
  Update().Close();
}

std::string SqliteMergeTest::QueryExisting(const std::string& sql) {
  CloseDatabases();
  return QuerySql(existing_path_, sql);
}

std::string SqliteMergeTest::QueryUpdate(const std::string& sql) {
  CloseDatabases();
  return QuerySql(update_path_, sql);
}

std::vector<std::string> SqliteMergeTest::LogLines() {
  log_.Flush();
  std::vector<std::string> lines;
  if (!files_.HasFile(kLogPath)) return lines;
  const std::string& content = files_.GetFile(kLogPath).content;
  const std::string prefix = kTimePrefix;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find("\r\n", start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    EXPECT_EQ(0u, line.rfind(prefix, 0)) << "no date and time prefix: " << line;
    lines.push_back(line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : line);
    start = end + 2;
  }
  return lines;
}

}  // namespace tabsync::test
