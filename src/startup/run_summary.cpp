#include "startup/run_summary.h"

#include <memory>

#include "startup/site_tools.h"

namespace tabsync::startup {
namespace {

// "12-07-2026 09:05:31 " before every text of the run.
constexpr size_t kPrefixSize = 20;

bool Starts(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Counts one line of a database's section. The fields of one replaced record
// follow each other, so a record is counted when its table or key changes.
class LineCounter {
 public:
  explicit LineCounter(DatabaseCounts& counts) : counts_(counts) {}
  void Count(std::string_view text);

 private:
  void CountReplaced(std::string_view text);

  DatabaseCounts& counts_;
  std::string table_;
  std::string last_key_;
};

void LineCounter::Count(std::string_view text) {
  DatabaseCounts& c = counts_;
  if (Starts(text, "ADD TABLE ")) {
    ++c.tables_added;
  } else if (Starts(text, " RENAME Table: ")) {
    ++c.tables_renamed;
  } else if (Starts(text, " INSERT COLUMN, Table ") || Starts(text, "   ADD COLUMN ")) {
    ++c.columns_added;
  } else if (Starts(text, " RENAME COLUMN, Table ")) {
    ++c.columns_renamed;
  } else if (Starts(text, "   ADD RECORD Key=") || Starts(text, " ADD RECORD in ")) {
    ++c.records_added;
  } else if (Starts(text, "   REPLACE FIELD IN EXISTING RECORD Key=")) {
    CountReplaced(text);
  } else if (Starts(text, " ADD/REPLACE RECORDS in ")) {
    table_ = text.substr(24);
    last_key_.clear();
  } else if (Starts(text, " Table ") && text.find(": LINK REPLACE into: ") != std::string::npos) {
    ++c.links;
  } else if (Starts(text, "DELETE FROM ") || Starts(text, "  REPLACE CONTENT ")) {
    ++c.other;
  } else if (Starts(text, " COPY WHOLE DATABASE ")) {
    c.copied_whole = true;
  } else if (Starts(text, " ERROR ") || Starts(text, " !ERROR ")) {
    c.errors.emplace_back(text);
  }
}

void LineCounter::CountReplaced(std::string_view text) {
  std::string_view rest = text.substr(40);
  std::string key(rest.substr(0, rest.find(" Field=")));
  if (key == last_key_) return;
  last_key_ = key;
  ++counts_.records_replaced;
}

std::string Number(long long n) { return std::to_string(n); }

}  // namespace

std::vector<DatabaseCounts> CountLogActions(std::string_view log) {
  std::vector<DatabaseCounts> counts;
  std::unique_ptr<LineCounter> counter;
  while (!log.empty()) {
    size_t end = log.find('\n');
    std::string_view line = log.substr(0, end);
    log = end == std::string_view::npos ? std::string_view() : log.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < kPrefixSize) continue;
    std::string_view text = line.substr(kPrefixSize);
    if (Starts(text, "DATABASE START: ")) {
      counts.emplace_back();
      counts.back().file = text.substr(16);
      counter = std::make_unique<LineCounter>(counts.back());
    } else if (Starts(text, "DATABASE END: ")) {
      counter.reset();
    } else if (counter) {
      counter->Count(text);
    }
  }
  return counts;
}

std::string SummaryTable(const std::vector<DatabaseCounts>& counts, size_t maxErrors) {
  std::vector<std::vector<std::string>> rows = {
      {"", "TABLES", "", "COLUMNS", "", "RECORDS"},
      {"DATABASE", "ADDED", "RENAMED", "ADDED", "RENAMED", "ADDED", "REPLACED", "LINKS", "OTHER",
       "ERRORS"}};
  std::string errors;
  size_t shown = 0, more = 0;
  for (const DatabaseCounts& c : counts) {
    if (c.copied_whole) {
      rows.push_back({c.file, "copied whole from the update information"});
    } else {
      rows.push_back({c.file, Number(c.tables_added), Number(c.tables_renamed),
                      Number(c.columns_added), Number(c.columns_renamed), Number(c.records_added),
                      Number(c.records_replaced), Number(c.links), Number(c.other),
                      Number(c.errors.size())});
    }
    for (const std::string& error : c.errors) {
      if (shown++ < maxErrors) {
        errors += c.file + ":" + error + "\n";
      } else {
        ++more;
      }
    }
  }
  if (more > 0) errors += "(" + Number(static_cast<long long>(more)) + " more error lines in the log)\n";
  return AlignedColumns(rows) + (errors.empty() ? "" : "\n" + errors);
}

}  // namespace tabsync::startup
