#ifndef TABSYNC_STARTUP_RUN_SUMMARY_H_
#define TABSYNC_STARTUP_RUN_SUMMARY_H_

#include <string>
#include <string_view>
#include <vector>

namespace tabsync::startup {

// What a run did to one database, counted from its lines in the run log
// (docs/run-log.md).
struct DatabaseCounts {
  std::string file;           // "accounting.mdb", from its "DATABASE START: " line
  bool copied_whole = false;  // " COPY WHOLE DATABASE "
  long long tables_added = 0;      // "ADD TABLE "
  long long tables_renamed = 0;    // " RENAME Table: "
  long long columns_added = 0;     // " INSERT COLUMN, Table ", "   ADD COLUMN "
  long long columns_renamed = 0;   // " RENAME COLUMN, Table "
  long long records_added = 0;     // "   ADD RECORD Key=", " ADD RECORD in "
  long long records_replaced = 0;  // records with "   REPLACE FIELD IN EXISTING RECORD" lines
  long long links = 0;             // " Table ...: LINK REPLACE into: "
  long long other = 0;             // content corrections: "DELETE FROM ", "  REPLACE CONTENT "
  // The database's " ERROR " and " !ERROR " lines, without date and time.
  std::vector<std::string> errors;
};

// Counts a run's log, database by database in the order of the log. Lines
// outside a database's section are not counted.
std::vector<DatabaseCounts> CountLogActions(std::string_view log);

// The short plan of --dry-run --summary: one row of counts per database
// (a database copied whole says so instead), then each error line with its
// database, at most `maxErrors` of them and a line that tells how many more.
std::string SummaryTable(const std::vector<DatabaseCounts>& counts, size_t maxErrors = 20);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_RUN_SUMMARY_H_
