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
  held->RecordHolder("2026-12-08 09:00:00");

  ASSERT_EQ(0, Show(true));
  std::string json = out_.str();
  for (const char* part : {
           "\"update_running\": true,\n  \"lock_holder\": {\"pid\": 4242, \"started\": "
           "\"2026-12-08 09:00:00\"}",
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

// The table fits 100 columns: paths relative to the shared folder, sizes and
// times short, what does not fit in notes below it.
TEST(StatusTableTest, EveryStateInAHundredColumns) {
  platform::FileInfo info{65576960, {2026, 12, 8, 21, 59, 43}};
  auto db = [&](const char* source, std::string file, const char* version, bool table) {
    DatabaseStatus status;
    status.data_source = source;
    status.file = std::move(file);
    status.exists = true;
    status.info = info;
    status.version = version;
    status.version_table = table;
    status.format_version = 2;
    status.backup = true;
    status.backup_info = {1000, {2026, 12, 8, 21, 59, 40}};
    status.runs = {"20261201-090000", "20261208-215940"};
    return status;
  };
  SiteStatus site;
  site.shared_folder = kShared;
  site.lock = {true, true, {4242, "2026-12-08 21:59:40"}};
  site.databases = {db("Accounting", std::string(kShared) + "accounting.mdb", "3.3.0", true),
                    db("Orbisdat", std::string(kShared) + "availability.mdb", "", false),
                    db("Config", "/old/server/config.mdb", "3.3.0", true),
                    db("OnlineShop", "", "", false),
                    db("Resource", std::string(kShared) + "resource.mdb", "", false),
                    db("Users", std::string(kShared) + "users.mdb", "", false)};
  site.databases[2].runs.clear();
  site.databases[3].problem = "not registered";
  site.databases[3].exists = false;
  site.databases[4].problem = "Error 3343: Unrecognized database format";
  site.databases[5].exists = false;
  site.databases[5].backup = false;
  EXPECT_EQ("Shared database folder: /srv/shared/Infrastructure/DB/\n"
            "Update running: yes (pid 4242, started 2026-12-08 21:59:40)\n"
            "Last run: none recorded\n"
            "\n"
            "DATA SOURCE  DATABASE                RELEASE  FORMAT  SIZE      MODIFIED          BACKUP\n"
            "Accounting   accounting.mdb          3.3.0    2       62.5 MiB  2026-12-08 21:59  2026-12-08 21:59\n"
            "Orbisdat     availability.mdb        none     2       62.5 MiB  2026-12-08 21:59  2026-12-08 21:59\n"
            "Config       config.mdb (elsewhere)  3.3.0    2       62.5 MiB  2026-12-08 21:59  2026-12-08 21:59\n"
            "OnlineShop   -                       not registered\n"
            "Resource     resource.mdb            ?        2       62.5 MiB  2026-12-08 21:59  2026-12-08 21:59\n"
            "Users        users.mdb               -        -       missing   -                 none\n"
            "\n"
            "Config: /old/server/config.mdb\n"
            "Resource: Error 3343: Unrecognized database format\n"
            "Release none: the database has no Version table to read its release from.\n"
            "\n"
            "History: 2 runs, newest 20261208-215940\n"
            "History of /old/server/: none\n"
            "History size: 0 B (0 bytes); recorded: 0 updates, 0 restores\n",
            StatusTable(site));
}

// A record without an end is a run going on while the lock is held, and one
// that was killed otherwise; the history's size counts every run folder.
TEST_F(StatusTest, ARecordWithoutAnEndIsRunningOrInterrupted) {
  files_.AddFile(std::string(kShared) + "backups/20261207-090531/tabsync-run",
                 "tabsync run record 1\nsequence 1\nstart 2026-12-07 09:05:31\nkind update\n"
                 "release 3.3.0\ndatabase accounting.mdb updated\n");
  files_.AddFile(std::string(kShared) + "backups/20261201-090000/users.mdb.bak", "1234");
  for (bool held : {true, false}) {
    auto lock = held ? files_.TryLockFile(std::string(kShared) + "tabsync.lock") : nullptr;
    out_.str("");
    ASSERT_EQ(0, Show(false));
    std::string ending = held ? "running" : "interrupted";
    EXPECT_NE(std::string::npos,
              out_.str().find("Last run: 20261207-090531, update to release 3.3.0\n"
                              "  started 2026-12-07 09:05:31: " + ending +
                              "\n  accounting.mdb: updated\n  availability.mdb: " + ending +
                              "\n  config.mdb: not-reached\n"))
        << out_.str();
    EXPECT_NE(std::string::npos, out_.str().find("  users.mdb: not-reached\n\n")) << out_.str();
    EXPECT_NE(std::string::npos,
              out_.str().find("\nHistory size: 120 B (120 bytes); recorded: 1 update, 0 restores\n"))
        << out_.str();
  }
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
