#ifndef TABSYNC_TESTS_SUPPORT_REAL_RUN_TEST_H_
#define TABSYNC_TESTS_SUPPORT_REAL_RUN_TEST_H_

#include <memory>

#include <gtest/gtest.h>

#include "dbengine/sqlite_engine.h"
#include "engine/update_context.h"
#include "log/run_log.h"
#include "platform/console_user_interface.h"
#include "platform/odbc_ini_store.h"
#include "platform/posix_file_system.h"
#include "platform/system_clock.h"
#include "support/temp_dir.h"

namespace tabsync::test {

// A fixture for update runs on real files: a temporary folder, the SQLite
// engine, the POSIX file system, unixODBC's odbc.ini (point it at the private
// folder of private_odbc_folder.h), the system clock, the console's log
// window, and an update context over them.
class RealRunTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::unique_ptr<dao::DatabaseEngine> engine_ = dao::NewSqliteEngine();
  std::unique_ptr<platform::FileSystem> files_ = platform::NewPosixFileSystem();
  std::unique_ptr<platform::RegistrationStore> store_ = platform::NewOdbcIniStore();
  std::unique_ptr<platform::Clock> clock_ = platform::NewSystemClock();
  std::unique_ptr<platform::UserInterface> ui_ = platform::NewConsoleUserInterface();
  log::RunLog log_{*files_, *clock_, *ui_};
  install::BackupHistory history_{*files_, clock_->Now()};
  engine::UpdateContext context_{*engine_, *files_, *store_, log_, history_};
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_REAL_RUN_TEST_H_
