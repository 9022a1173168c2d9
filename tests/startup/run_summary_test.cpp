#include "startup/run_summary.h"

#include <string>

#include <gtest/gtest.h>

namespace tabsync::startup {
namespace {

// A log of each kind of line the summary counts, with its date and time.
std::string Log(std::initializer_list<const char*> texts) {
  std::string log;
  for (const char* text : texts) log += std::string("12-08-2026 09:05:31 ") + text + "\r\n";
  return log;
}

// Every kind of line is counted in its own column; a record is replaced once
// however many of its fields change; lines outside a database are not
// counted.
TEST(RunSummaryTest, EachKindOfLineIsCountedPerDatabase) {
  std::string log = Log({
      "## BEGIN UPDATING",
      " ERROR 61: Disk full",
      "DATABASE START: users.mdb",
      " RENAME Table: Privilegies -> AccessPrivileges",
      " RENAME COLUMN, Table 'Users'; Column: Zip-Code -> ZipCode",
      " INSERT COLUMN, Table 'Passwd'; Column: MaxNtripConn",
      "ADD TABLE Version",
      "    COLUMN 0: DBVersion (10)",
      " ADD COLUMNS in Users",
      "   ADD COLUMN Phone",
      " ADD/REPLACE RECORDS in Version",
      "   ADD RECORD Key=DBVersion ",
      "   ADD FIELD TO NEW RECORD DBVersion:= 3.3.0",
      "   REPLACE FIELD IN EXISTING RECORD Key=7 Field=A 1 -> 2",
      "   REPLACE FIELD IN EXISTING RECORD Key=7 Field=B 1 -> 2",
      "   REPLACE FIELD IN EXISTING RECORD Key=8 Field=A 1 -> 2",
      " ADD/REPLACE RECORDS in Other",
      "   REPLACE FIELD IN EXISTING RECORD Key=8 Field=A 1 -> 2",
      " Table Help Type  +ATTACHED_TABLE: LINK REPLACE into: ;DATABASE=/srv/resource.mdb",
      "  REPLACE CONTENT tables 'AccessPrivileges', 'Services': 'JobManagement' -> 'OnlineShop'",
      " ADD RECORD in AccessPrivileges: Guest=Logon",
      " !ERROR database not replaced, its merge failed: /srv/users.mdb",
      "DATABASE END: users.mdb",
      "DATABASE START: config.mdb",
      " COPY WHOLE DATABASE config.mdb",
      "DATABASE END: config.mdb",
      "   ADD RECORD Key=ID ",
  });
  std::vector<DatabaseCounts> counts = CountLogActions(log);
  ASSERT_EQ(2u, counts.size());
  const DatabaseCounts& users = counts[0];
  EXPECT_EQ("users.mdb", users.file);
  EXPECT_FALSE(users.copied_whole);
  EXPECT_EQ((std::vector<long long>{1, 1, 2, 1, 2, 3, 1, 1}),
            (std::vector<long long>{users.tables_added, users.tables_renamed, users.columns_added,
                                    users.columns_renamed, users.records_added,
                                    users.records_replaced, users.links, users.other}));
  EXPECT_EQ(std::vector<std::string>{" !ERROR database not replaced, its merge failed: /srv/users.mdb"},
            users.errors);
  EXPECT_TRUE(counts[1].copied_whole);
  EXPECT_EQ(0, counts[1].records_added);

  EXPECT_EQ("            TABLES           COLUMNS           RECORDS\n"
            "DATABASE    ADDED   RENAMED  ADDED    RENAMED  ADDED  REPLACED  LINKS  OTHER  ERRORS\n"
            "users.mdb   1       1        2        1        2      3         1      1      1\n"
            "config.mdb  copied whole from the update information\n"
            "\n"
            "users.mdb: !ERROR database not replaced, its merge failed: /srv/users.mdb\n",
            SummaryTable(counts));
  counts[1].errors = {" ERROR 70: Permission denied", " ERROR 61: Disk full"};
  std::string limited = SummaryTable(counts, 2);
  EXPECT_NE(std::string::npos, limited.find("config.mdb: ERROR 70: Permission denied\n"
                                            "(1 more error lines in the log)\n"))
      << limited;
}

}  // namespace
}  // namespace tabsync::startup
