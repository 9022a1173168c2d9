#ifndef TABSYNC_TESTS_SUPPORT_FAKE_RUN_TEST_H_
#define TABSYNC_TESTS_SUPPORT_FAKE_RUN_TEST_H_

#include <memory>

#include <gtest/gtest.h>

#include "engine/update_context.h"
#include "log/run_log.h"
#include "platform/console_user_interface.h"
#include "support/fake_database_engine.h"
#include "support/fake_file_system.h"
#include "support/fake_registration_store.h"
#include "support/fixed_clock.h"

namespace tabsync::test {

// A fixture for the update engine's logic: in-memory fakes of the file
// system, the data-source store and the database engine, a clock fixed at
// 12-07-2026 09:05:31, the console's log window, and an update context over
// them. The log has no file until the test sets LogFilePath.
class FakeRunTest : public ::testing::Test {
 protected:
  FakeFileSystem files_;
  FakeRegistrationStore store_;
  FakeDatabaseEngine engine_;
  FixedClock clock_{{2026, 12, 7, 9, 5, 31}};
  std::unique_ptr<platform::UserInterface> ui_ = platform::NewConsoleUserInterface();
  log::RunLog log_{files_, clock_, *ui_};
  install::BackupHistory history_{files_, clock_.Now()};
  engine::UpdateContext context_{engine_, files_, store_, log_, history_};
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FAKE_RUN_TEST_H_
