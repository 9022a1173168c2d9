#include "startup/status.h"

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/fake_database_engine.h"
#include "support/fake_install_test.h"
#include "support/fake_shared_files_store.h"
#include "support/fixed_clock.h"

namespace tabsync::startup {
namespace {

constexpr char kShared[] = "/srv/shared/Infrastructure/DB/";

// --status over fakes: the data sources in every state the table must tell
// apart, a run holding the lock, and the stores that cannot be read.
class StatusTest : public test::FakeInstallTest {
 protected:
  StatusTest() {
    share_.Register("/srv/shared");
    files_.AddFolder(kShared);
  }

  int Show(bool json) { return ShowStatus(tools_, json); }

  test::FakeSharedFilesStore share_;
  test::FixedClock clock_{{2026, 12, 8, 9, 5, 31}};
  test::FakeDatabaseEngine engine_;
  std::ostringstream out_;
  SiteTools tools_{platform_, share_, clock_, engine_, out_};
};

TEST_F(StatusTest, EachDataSourceIsToldApartAndTheLockSeen) {
  registrations_.Register("Accounting", std::string(kShared) + "accounting.mdb");
  registrations_.Register("Orbisdat", "availability.mdb");
  registrations_.Register("Config", std::string(kShared) + "config \"q\".mdb");
  files_.AddUnexaminable(std::string(kShared) + "config \"q\".mdb", 75);
  registrations_.Register("Users", std::string(kShared) + "users.mdb");
  files_.AddFile(std::string(kShared) + "users.mdb.bak", "older");
  files_.AddFolder(std::string(kShared) + "backups/20261207-090531");
  auto held = files_.TryLockFile(std::string(kShared) + "tabsync.lock");

  ASSERT_EQ(0, Show(true));
  std::string json = out_.str();
  for (const char* part : {
           "\"update_running\": true",
           "{\"data_source\": \"Accounting\", \"file\": \"/srv/shared/Infrastructure/DB/"
           "accounting.mdb\", \"problem\": null, \"exists\": false, \"database\": null",
           "{\"data_source\": \"Orbisdat\", \"file\": \"availability.mdb\", \"problem\": \"names "
           "no database file\"",
           "\"file\": \"/srv/shared/Infrastructure/DB/config \\\"q\\\".mdb\", \"problem\": "
           "\"Error 75: Path/File access error\"",
           "{\"data_source\": \"OnlineShop\", \"file\": null, \"problem\": \"not registered\"",
           "\"backup\": {\"size\": 5, \"modified\": \"2026-12-07 09:05:31\"}, \"history\": "
           "[\"20261207-090531\"]}",
       })
    EXPECT_NE(std::string::npos, json.find(part)) << part << "\n" << json;
  // Only the lock was looked at: no database was opened.
  EXPECT_TRUE(engine_.Actions().empty());
}

TEST_F(StatusTest, StoresThatCannotBeReadEndWithStatusTwo) {
  registrations_.MakeUnreadable();
  EXPECT_EQ(2, Show(false));
  EXPECT_EQ(std::vector<std::string>{"critical/ok Korvane Database Update: Cannot read the ODBC "
                                     "data sources:||/etc/odbc.ini"},
            Messages());
  share_ = test::FakeSharedFilesStore();
  EXPECT_EQ(2, Show(false));
  EXPECT_EQ("", out_.str());
}

}  // namespace
}  // namespace tabsync::startup
