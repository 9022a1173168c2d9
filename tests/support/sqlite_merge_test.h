#ifndef TABSYNC_TESTS_SUPPORT_SQLITE_MERGE_TEST_H_
#define TABSYNC_TESTS_SUPPORT_SQLITE_MERGE_TEST_H_

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbengine/dao.h"
#include "dbengine/sqlite_engine.h"
#include "engine/update_context.h"
#include "log/run_log.h"
#include "platform/console_user_interface.h"
#include "support/fake_file_system.h"
#include "support/fake_registration_store.h"
#include "support/fixed_clock.h"
#include "support/temp_dir.h"

namespace tabsync::test {

// A fixture for the schema and record operations of the update engine on
// real SQLite databases: the database in use ("existing.mdb") and the update
// information ("update.mdb") are made with plain SQL in a temporary folder
// and opened through the real engine, exclusively, as the update run opens
// them. The run log goes to an in-memory file, read back by LogLines().
class SqliteMergeTest : public ::testing::Test {
 protected:
  SqliteMergeTest();

  // Creates both files with the given SQL, opens them and sets them as
  // ExistingDatabase and UpdateInfoDatabase of the context.
  void OpenDatabases(const std::string& existingSql, const std::string& updateSql);
  // Sets CurrentDatabaseFile ("config.mdb", ...).
  void WorkOn(const std::string& fileName) { context_.SetCurrentDatabaseFile(fileName); }

  dao::Database& Existing() { return context_.ExistingDatabase(); }
  dao::Database& Update() { return context_.UpdateInfoDatabase(); }

  // Closes both databases (committing their changes) and returns the rows of
  // a query on either file, as QuerySql gives them.
  std::string QueryExisting(const std::string& sql);
  std::string QueryUpdate(const std::string& sql);

  // The log's lines so far (its buffer written first), without their date and
  // time prefix and line end.
  std::vector<std::string> LogLines();

  TempDir dir_;
  std::string existing_path_ = dir_.File("existing.mdb");
  std::string update_path_ = dir_.File("update.mdb");
  FakeFileSystem files_;
  FakeRegistrationStore store_;
  FixedClock clock_{{2026, 12, 7, 9, 5, 31}};
  std::unique_ptr<dao::DatabaseEngine> engine_ = dao::NewSqliteEngine();
  std::unique_ptr<platform::UserInterface> ui_ = platform::NewConsoleUserInterface();
  log::RunLog log_{files_, clock_, *ui_};
  install::BackupHistory history_{files_, clock_.Now()};
  engine::UpdateContext context_{*engine_, files_, store_, log_, history_};

 private:
  void CloseDatabases();
  bool closed_ = false;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_SQLITE_MERGE_TEST_H_
