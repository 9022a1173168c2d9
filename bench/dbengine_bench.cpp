// Times the engine against plain SQLite on the work the record merge does:
// one small key query per source record and records added through one open
// dynaset. Both benchmarks run the same work on copies of the same
// 100,000-record file, five times each, and a closing line sets their median
// wall times side by side.
//
// Both work under the same conditions: plain SQLite gets the settings of the
// engine's sessions (src/dbengine/sqlite_session.cpp): the 32 MiB page cache
// that does not spill before the commit, no mutex per call, SQLite's default
// journal, and one exclusive transaction from the open to the close.
//
// Run: build/bench/dbengine_bench
// (the usual Google Benchmark flags apply, e.g. --benchmark_filter=Engine;
// the screen always shows the table below, --benchmark_out=<file> with
// --benchmark_out_format=json writes a machine-readable copy).

#include <sqlite3.h>
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "comparison_reporter.h"
#include "plain_sqlite.h"
#include "temp_folder.h"
#include "dbengine/dao.h"
#include "dbengine/sqlite_engine.h"
#include "dbengine/variant.h"

namespace {

// The benchmarks' shared helpers: TempFolder and the plain SQLite calls.
using namespace tabsync::bench;

namespace dao = tabsync::dao;
namespace fs = std::filesystem;

constexpr int kRecords = 100'000;
constexpr int kLookups = 100'000;
constexpr int kAdds = 10'000;

constexpr char kCreateItems[] =
    "CREATE TABLE Items (ID LONG PRIMARY KEY, Name TEXT(50) COLLATE NOCASE, "
    "Amount DOUBLE, Stamp DATETIME)";
// The record merge's queries: the column list with a blank after each column,
// and the key query made from it without its ";".
constexpr char kTargetQuery[] = "SELECT [ID], [Name], [Amount], [Stamp] FROM Items;";
constexpr char kKeyQueryPrefix[] = "SELECT [ID], [Name], [Amount], [Stamp] FROM Items WHERE ID = ";

// The values of the record with key `id`; the same for the file's records and
// the added ones, so both benchmarks write identical data.
std::string NameOf(int64_t id) { return "Item " + std::to_string(id); }
double AmountOf(int64_t id) { return static_cast<double>(id) * 0.25; }
std::string StampOf(int64_t id) {
  char text[32];
  std::snprintf(text, sizeof text, "2024-%02d-%02d %02d:%02d:%02d", static_cast<int>(id % 12 + 1),
                static_cast<int>(id % 28 + 1), static_cast<int>(id % 24),
                static_cast<int>(id % 60), static_cast<int>(id / 60 % 60));
  return text;
}

// The i-th key looked up: every key of the file once, in a scattered order
// (7919 is prime to kRecords, so this is a permutation of 1..kRecords).
int64_t LookupKey(int i) { return static_cast<int64_t>(i) * 7919 % kRecords + 1; }
int64_t AddedKey(int i) { return kRecords + 1 + i; }

void BindRecord(sqlite3* db, sqlite3_stmt* insert, int64_t id) {
  std::string name = NameOf(id);
  std::string stamp = StampOf(id);
  Check(sqlite3_bind_int64(insert, 1, id), db, "bind ID");
  Check(sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT), db, "bind Name");
  Check(sqlite3_bind_double(insert, 3, AmountOf(id)), db, "bind Amount");
  Check(sqlite3_bind_text(insert, 4, stamp.c_str(), -1, SQLITE_TRANSIENT), db, "bind Stamp");
}

void InsertRecord(sqlite3* db, sqlite3_stmt* insert, int64_t id) {
  BindRecord(db, insert, id);
  if (sqlite3_step(insert) != SQLITE_DONE) Check(SQLITE_ERROR, db, "insert");
  sqlite3_reset(insert);
}

constexpr char kInsertItem[] = "INSERT INTO Items (ID, Name, Amount, Stamp) VALUES (?1, ?2, ?3, ?4)";

void BuildItemsFile(const std::string& path) {
  SqliteHandle db = OpenSqlite(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  Exec(db.get(), kCreateItems);
  Exec(db.get(), "BEGIN");
  Statement insert = Prepare(db.get(), kInsertItem);
  for (int64_t id = 1; id <= kRecords; ++id) InsertRecord(db.get(), insert.get(), id);
  Exec(db.get(), "COMMIT");
}

int64_t CountItems(const std::string& path) {
  SqliteHandle db = OpenSqlite(path, SQLITE_OPEN_READONLY);
  Statement count = Prepare(db.get(), "SELECT count(*) FROM Items");
  Check(sqlite3_step(count.get()), db.get(), "count");
  return sqlite3_column_int64(count.get(), 0);
}

// --- fixture ------------------------------------------------------------------

// The 100,000-record file, built once per benchmark; each iteration works on
// a fresh copy so that the added keys are new every time.
class ItemsFixture {
 public:
  ItemsFixture() : original_(folder_.File("items.original.db")), work_(folder_.File("items.db")) {
    BuildItemsFile(original_);
  }
  const std::string& PrepareCopy() {
    fs::copy_file(original_, work_, fs::copy_options::overwrite_existing);
    return work_;
  }
  // Throws unless the copy holds the original records plus the added ones.
  void VerifyCopy() const {
    int64_t count = CountItems(work_);
    if (count != kRecords + kAdds)
      throw std::runtime_error("expected " + std::to_string(kRecords + kAdds) + " records, found " +
                               std::to_string(count));
  }

 private:
  TempFolder folder_{"tabsync-dbengine-bench"};
  std::string original_;
  std::string work_;
};

// Wall time of the phases of one run, summed over iterations.
struct PhaseTimes {
  double open_ms = 0;
  double lookups_ms = 0;
  double adds_ms = 0;
  double close_ms = 0;
};

class Stopwatch {
 public:
  // Milliseconds since the last lap (or since construction).
  double Lap() {
    auto now = std::chrono::steady_clock::now();
    double ms = std::chrono::duration<double, std::milli>(now - last_).count();
    last_ = now;
    return ms;
  }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

void ReportPhases(benchmark::State& state, const PhaseTimes& times) {
  auto per_iteration = [](double ms) { return benchmark::Counter(ms, benchmark::Counter::kAvgIterations); };
  state.counters["open_ms"] = per_iteration(times.open_ms);
  state.counters["lookups_ms"] = per_iteration(times.lookups_ms);
  state.counters["adds_ms"] = per_iteration(times.adds_ms);
  state.counters["close_ms"] = per_iteration(times.close_ms);
}

void ThrowUnlessAllFound(int found) {
  if (found != kLookups)
    throw std::runtime_error("found " + std::to_string(found) + " of " + std::to_string(kLookups) + " keys");
}

// --- through the engine -------------------------------------------------------

// One key query per key, as the record merge opens them: RecordCount decides
// between update and add, then a field is read.
int LookUpThroughEngine(dao::Database& db, int64_t& checksum) {
  int found = 0;
  for (int i = 0; i < kLookups; ++i) {
    auto key_set = db.OpenRecordset(kKeyQueryPrefix + std::to_string(LookupKey(i)) + ";", dao::kDynaset);
    if (key_set->RecordCount() > 0) {
      ++found;
      checksum += static_cast<int64_t>(key_set->Fields().Item(1).Value().AsString().size());
    }
    key_set->Close();
  }
  return found;
}

// New records through one dynaset over the whole table, fields by position.
void AddThroughEngine(dao::Database& db) {
  auto target_set = db.OpenRecordset(kTargetQuery, dao::kDynaset);
  dao::Collection<dao::Field>& fields = target_set->Fields();
  for (int i = 0; i < kAdds; ++i) {
    int64_t id = AddedKey(i);
    target_set->AddNew();
    fields.Item(0).SetValue(dao::Variant(id));
    fields.Item(1).SetValue(dao::Variant(NameOf(id)));
    fields.Item(2).SetValue(dao::Variant(AmountOf(id)));
    fields.Item(3).SetValue(dao::Variant::Date(StampOf(id)));
    target_set->Update(dao::kUpdateRegular, false);
  }
  target_set->Close();
}

void RunThroughEngine(const std::string& path, PhaseTimes& times, int64_t& checksum) {
  Stopwatch watch;
  std::unique_ptr<dao::DatabaseEngine> engine = dao::NewSqliteEngine();
  std::unique_ptr<dao::Database> db = engine->OpenDatabase(path, dao::kOpenExclusive);
  times.open_ms += watch.Lap();
  int found = LookUpThroughEngine(*db, checksum);
  times.lookups_ms += watch.Lap();
  AddThroughEngine(*db);
  times.adds_ms += watch.Lap();
  db->Close();  // the session's one commit
  times.close_ms += watch.Lap();
  ThrowUnlessAllFound(found);
}

// --- with plain SQLite ----------------------------------------------------------

int LookUpWithSqlite(sqlite3* db, int64_t& checksum) {
  Statement lookup = Prepare(db, "SELECT ID, Name, Amount, Stamp FROM Items WHERE ID = ?1");
  int found = 0;
  for (int i = 0; i < kLookups; ++i) {
    Check(sqlite3_bind_int64(lookup.get(), 1, LookupKey(i)), db, "bind key");
    int rc = sqlite3_step(lookup.get());
    Check(rc, db, "lookup");
    if (rc == SQLITE_ROW) {
      ++found;
      checksum += sqlite3_column_bytes(lookup.get(), 1);
    }
    sqlite3_reset(lookup.get());
  }
  return found;
}

void AddWithSqlite(sqlite3* db) {
  Statement insert = Prepare(db, kInsertItem);
  for (int i = 0; i < kAdds; ++i) InsertRecord(db, insert.get(), AddedKey(i));
}

void RunWithSqlite(const std::string& path, PhaseTimes& times, int64_t& checksum) {
  Stopwatch watch;
  SqliteHandle db = OpenSqlite(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  UseEngineSettings(db.get());
  Exec(db.get(), "BEGIN EXCLUSIVE");  // like the engine's exclusive session
  times.open_ms += watch.Lap();
  int found = LookUpWithSqlite(db.get(), checksum);
  times.lookups_ms += watch.Lap();
  AddWithSqlite(db.get());
  times.adds_ms += watch.Lap();
  Exec(db.get(), "COMMIT");
  db.reset();
  times.close_ms += watch.Lap();
  ThrowUnlessAllFound(found);
}

// --- benchmarks -----------------------------------------------------------------

using Runner = void (*)(const std::string& path, PhaseTimes& times, int64_t& checksum);

// The shared frame: the file is built before the timed loop, copied and checked
// with the timer paused; only `run` is timed.
void TimeLookupsAndAdds(benchmark::State& state, Runner run) {
  try {
    ItemsFixture fixture;
    PhaseTimes times;
    int64_t checksum = 0;
    for (auto _ : state) {
      state.PauseTiming();
      const std::string& path = fixture.PrepareCopy();
      state.ResumeTiming();
      run(path, times, checksum);
      state.PauseTiming();
      fixture.VerifyCopy();
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(checksum);
    ReportPhases(state, times);
    state.counters["lookups"] = kLookups;
    state.counters["adds"] = kAdds;
  } catch (const std::exception& e) {
    // The benchmark library reports the failure in place of the figures.
    state.SkipWithError(e.what());
  }
}

void BM_EngineLookupsAndAdds(benchmark::State& state) { TimeLookupsAndAdds(state, RunThroughEngine); }
void BM_PlainSqliteLookupsAndAdds(benchmark::State& state) { TimeLookupsAndAdds(state, RunWithSqlite); }

BENCHMARK(BM_EngineLookupsAndAdds)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainSqliteLookupsAndAdds)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  tabsync::bench::ComparisonReporter reporter(
      "BM_EngineLookupsAndAdds", "BM_PlainSqliteLookupsAndAdds", [](double engine, double plain) {
        char line[240];
        std::snprintf(line, sizeof line,
                      "%d lookups + %d adds on %d records, both with a 32 MiB page cache "
                      "(medians of 5): engine %.0f ms, plain SQLite %.0f ms "
                      "(engine / plain = %.2f)",
                      kLookups, kAdds, kRecords, engine, plain, engine / plain);
        return std::string(line);
      });
  return tabsync::bench::RunComparison(argc, argv, reporter);
}
