// Times the record merge (MergeRecords) against the same merge done as bulk
// SQL with plain SQLite. A source table "Orders" of N records, ten columns of
// mixed types, is merged into a target of N records of onlineshop.mdb: 10% of
// the source keys are new to the target, 10% of the records differ in two
// fields, and 10% of the target's keys are its own. The merge runs as an
// update run does: the log on (a real log file, the hidden log window
// loaded), timed from opening both databases through the engine to closing
// them, which commits. The bulk SQL is timed from its open to its close: the
// source attached to the target, then one transaction of an INSERT ... SELECT
// of the new keys and an UPDATE ... FROM of the changed records.
//
// Both run at N = 10,000 and N = 100,000, once with the key column the
// primary key of both tables and once without any index on it: eight
// benchmarks, each run five times on fresh copies of files made once per
// case, its result checked with the timer paused. A closing table sets the
// median times side by side, with the growth from 10,000 to 100,000 records,
// the goals and the process's peak memory.
//
// Run: build/bench/merge_bench
// (the usual Google Benchmark flags apply, e.g.
// --benchmark_filter=records_10000_ for the smaller cases only).

#include <sqlite3.h>
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "comparison_reporter.h"
#include "figures.h"
#include "plain_sqlite.h"
#include "temp_folder.h"
#include "dbengine/dao.h"
#include "dbengine/sqlite_engine.h"
#include "engine/record_merge.h"
#include "engine/update_context.h"
#include "log/run_log.h"
#include "platform/console_user_interface.h"
#include "platform/posix_file_system.h"
#include "platform/registration_store.h"
#include "platform/system_clock.h"

namespace {

// The benchmarks' shared helpers: TempFolder and the plain SQLite calls.
using namespace tabsync::bench;

namespace dao = tabsync::dao;
namespace engine = tabsync::engine;
namespace platform = tabsync::platform;
namespace fs = std::filesystem;

constexpr int kSmall = 10'000;
constexpr int kLarge = 100'000;
constexpr char kDatabaseFile[] = "onlineshop.mdb";
constexpr char kTable[] = "Orders";

// One case of the benchmark: how many records each table holds and whether
// the key column is the primary key of both.
struct Shape {
  int records;
  bool indexed;
  bool operator<(const Shape& other) const {
    return std::pair(records, indexed) < std::pair(other.records, other.indexed);
  }
};

// --- the data ----------------------------------------------------------------

// One record of Orders, in column order.
struct Order {
  int64_t id = 0;
  std::string customer;
  int64_t quantity = 0;
  double price = 0;
  std::string ordered;
  std::string notes;
  std::string status;
  double discount = 0;
  int64_t paid = 0;
  std::string shipped;
};

constexpr char kColumns[] =
    "ID, Customer, Quantity, Price, Ordered, Notes, Status, Discount, Paid, Shipped";
// The columns besides the key, which a merge may change.
const std::vector<std::string> kValueColumns = {"Customer", "Quantity", "Price",    "Ordered",
                                                "Notes",    "Status",   "Discount", "Paid",
                                                "Shipped"};

std::string CreateOrders(bool indexed) {
  return std::string("CREATE TABLE Orders (ID LONG") + (indexed ? " PRIMARY KEY" : "") +
         ", Customer TEXT(50) COLLATE NOCASE, Quantity LONG, Price DOUBLE, Ordered DATETIME, "
         "Notes MEMO COLLATE NOCASE, Status TEXT(20) COLLATE NOCASE, Discount CURRENCY, "
         "Paid BIT, Shipped DATETIME)";
}

// Source keys are 1..N. A tenth of them are new to the target, another tenth
// differ there in two fields; the target holds the other source keys and N/10
// keys of its own, numbered after N.
bool IsNewKey(int64_t id) { return id % 10 == 0; }
bool IsChangedKey(int64_t id) { return id % 10 == 5; }
int64_t FirstTargetOnlyKey(int records) { return records + 1; }
int64_t LastTargetOnlyKey(int records) { return records + records / 10; }

std::string DateOf(int64_t id, int year) {
  char text[32];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", year,
                static_cast<int>(id % 12 + 1), static_cast<int>(id % 28 + 1),
                static_cast<int>(id % 24), static_cast<int>(id % 60),
                static_cast<int>(id / 60 % 60));
  return text;
}

// Notes hold letters, so that the Memo column's numeric affinity keeps them
// as texts.
Order SourceOrder(int64_t id) {
  static const char* const kStatuses[] = {"open", "paid", "shipped", "closed"};
  Order order;
  order.id = id;
  order.customer = "Customer " + std::to_string(id % 997);
  order.quantity = id % 50 + 1;
  order.price = static_cast<double>(id % 1000) * 0.37 + 0.99;
  order.ordered = DateOf(id, 2024);
  order.notes = "Deliver to the back door, order " + std::to_string(id) + ", ring twice";
  order.status = kStatuses[id % 4];
  order.discount = static_cast<double>(id % 20) * 0.25;
  order.paid = id % 2;
  order.shipped = DateOf(id * 7, 2025);
  return order;
}

// The target's record: the source's, but for the two fields of a changed key.
Order TargetOrder(int64_t id) {
  Order order = SourceOrder(id);
  if (IsChangedKey(id)) {
    order.quantity += 1000;
    order.status = "on hold";
  }
  return order;
}

void BindText(sqlite3* db, sqlite3_stmt* statement, int index, const std::string& text) {
  Check(sqlite3_bind_text(statement, index, text.c_str(), -1, SQLITE_TRANSIENT), db, "bind");
}

void InsertOrder(sqlite3* db, sqlite3_stmt* insert, const Order& order) {
  Check(sqlite3_bind_int64(insert, 1, order.id), db, "bind");
  BindText(db, insert, 2, order.customer);
  Check(sqlite3_bind_int64(insert, 3, order.quantity), db, "bind");
  Check(sqlite3_bind_double(insert, 4, order.price), db, "bind");
  BindText(db, insert, 5, order.ordered);
  BindText(db, insert, 6, order.notes);
  BindText(db, insert, 7, order.status);
  Check(sqlite3_bind_double(insert, 8, order.discount), db, "bind");
  Check(sqlite3_bind_int64(insert, 9, order.paid), db, "bind");
  BindText(db, insert, 10, order.shipped);
  if (sqlite3_step(insert) != SQLITE_DONE) Check(SQLITE_ERROR, db, "insert");
  sqlite3_reset(insert);
}

// Writes a database file holding Orders with the records `order_of` gives
// for each key of `keys`.
template <typename Keys, typename OrderOf>
void BuildOrdersFile(const std::string& path, bool indexed, const Keys& keys, OrderOf order_of) {
  SqliteHandle db = OpenSqlite(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  Exec(db.get(), CreateOrders(indexed));
  Exec(db.get(), "BEGIN");
  Statement insert = Prepare(db.get(), std::string("INSERT INTO Orders (") + kColumns +
                                           ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  for (int64_t id : keys) InsertOrder(db.get(), insert.get(), order_of(id));
  Exec(db.get(), "COMMIT");
}

// --- the content of a result ---------------------------------------------------

// A table's records summed up: their count and the sum of a hash of each
// record's values, which does not depend on the records' order.
struct Contents {
  int64_t records = 0;
  uint64_t digest = 0;

  void Add(const Order& order) {
    ++records;
    digest += Hash(order);
  }
  bool operator==(const Contents& other) const = default;

 private:
  // FNV-1a over the values written out; numbers as read back, whatever type
  // SQLite stored them with.
  static uint64_t Hash(const Order& order) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "%lld|%lld|%.17g|%.4f|%lld",
                  static_cast<long long>(order.id), static_cast<long long>(order.quantity),
                  order.price, order.discount, static_cast<long long>(order.paid));
    std::string text = std::string(numbers) + "|" + order.customer + "|" + order.ordered + "|" +
                       order.notes + "|" + order.status + "|" + order.shipped;
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
  }
};

// What a merge must leave in the target: every source record as the source
// has it, and the target's own records unchanged.
Contents ExpectedContents(int records) {
  Contents expected;
  for (int64_t id = 1; id <= records; ++id) expected.Add(SourceOrder(id));
  for (int64_t id = FirstTargetOnlyKey(records); id <= LastTargetOnlyKey(records); ++id)
    expected.Add(TargetOrder(id));
  return expected;
}

std::string ColumnText(sqlite3_stmt* statement, int index) {
  const unsigned char* text = sqlite3_column_text(statement, index);
  return text == nullptr ? std::string("<null>") : reinterpret_cast<const char*>(text);
}

Contents ReadContents(const std::string& path) {
  SqliteHandle db = OpenSqlite(path, SQLITE_OPEN_READONLY);
  Statement select = Prepare(db.get(), std::string("SELECT ") + kColumns + " FROM Orders");
  Contents contents;
  int rc;
  while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
    sqlite3_stmt* row = select.get();
    Order order;
    order.id = sqlite3_column_int64(row, 0);
    order.customer = ColumnText(row, 1);
    order.quantity = sqlite3_column_int64(row, 2);
    order.price = sqlite3_column_double(row, 3);
    order.ordered = ColumnText(row, 4);
    order.notes = ColumnText(row, 5);
    order.status = ColumnText(row, 6);
    order.discount = sqlite3_column_double(row, 7);
    order.paid = sqlite3_column_int64(row, 8);
    order.shipped = ColumnText(row, 9);
    contents.Add(order);
  }
  Check(rc, db.get(), "read Orders");
  return contents;
}

// --- the files of one case -------------------------------------------------------

// The lines a merge of `records` source records logs: the additions' header;
// per new key its key line and one line per field; per changed record one
// line per changed field.
int64_t ExpectedLogLines(int records) {
  int64_t added = records / 10, changed = records / 10;
  int64_t fields = 1 + static_cast<int64_t>(kValueColumns.size());
  return 1 + added * (1 + fields) + changed * 2;
}

int64_t CountLines(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  int64_t lines = 0;
  for (auto it = std::istreambuf_iterator<char>(file); it != std::istreambuf_iterator<char>(); ++it)
    if (*it == '\n') ++lines;
  return lines;
}

// The template files of one case, made once with plain SQLite, and the
// working copies an iteration merges: the database in use in the folder, the
// update information in its "update" subfolder, as a run finds them.
class Workspace {
 public:
  explicit Workspace(Shape shape)
      : shape_(shape),
        source_template_(folder_.File("source.template")),
        target_template_(folder_.File("target.template")),
        expected_(ExpectedContents(shape.records)) {
    fs::create_directory(folder_.File("update"));
    std::vector<int64_t> source_keys, target_keys;
    for (int64_t id = 1; id <= shape.records; ++id) {
      source_keys.push_back(id);
      if (!IsNewKey(id)) target_keys.push_back(id);
    }
    for (int64_t id = FirstTargetOnlyKey(shape.records); id <= LastTargetOnlyKey(shape.records); ++id)
      target_keys.push_back(id);
    BuildOrdersFile(source_template_, shape.indexed, source_keys, SourceOrder);
    BuildOrdersFile(target_template_, shape.indexed, target_keys, TargetOrder);
  }

  std::string SourcePath() const { return folder_.File(std::string("update/") + kDatabaseFile); }
  std::string TargetPath() const { return folder_.File(kDatabaseFile); }
  std::string LogPath() const { return folder_.File("Stabmerge.log"); }

  // Replaces the working files by fresh copies of the templates and removes
  // the log of the iteration before.
  void FreshCopies() const {
    fs::copy_file(source_template_, SourcePath(), fs::copy_options::overwrite_existing);
    fs::copy_file(target_template_, TargetPath(), fs::copy_options::overwrite_existing);
    fs::remove(LogPath());
  }

  // Throws unless the target holds exactly the expected records. Returns its
  // contents.
  Contents CheckTarget() const {
    Contents found = ReadContents(TargetPath());
    if (found.records != expected_.records)
      throw std::runtime_error("the target holds " + std::to_string(found.records) +
                               " records, not " + std::to_string(expected_.records));
    if (found.digest != expected_.digest)
      throw std::runtime_error("the target's records differ from the expected ones");
    return found;
  }

  // Throws unless the log holds one line per logged addition and change.
  void CheckLog() const {
    int64_t lines = CountLines(LogPath());
    int64_t expected = ExpectedLogLines(shape_.records);
    if (lines != expected)
      throw std::runtime_error("the log holds " + std::to_string(lines) + " lines, not " +
                               std::to_string(expected));
  }

  // The last checked result of each way of merging, to compare them.
  std::optional<Contents> merge_result;
  std::optional<Contents> bulk_result;

 private:
  Shape shape_;
  TempFolder folder_{"tabsync-merge-bench"};
  std::string source_template_;
  std::string target_template_;
  Contents expected_;
};

// The workspace of each case, made when a benchmark of the case first runs and
// shared by the merge and the bulk benchmark of the case.
std::map<Shape, std::unique_ptr<Workspace>>& Workspaces() {
  static std::map<Shape, std::unique_ptr<Workspace>> workspaces;
  return workspaces;
}

Workspace& WorkspaceFor(Shape shape) {
  std::unique_ptr<Workspace>& workspace = Workspaces()[shape];
  if (!workspace) workspace = std::make_unique<Workspace>(shape);
  return *workspace;
}

// --- the record merge ------------------------------------------------------------

// The merge never looks a data source up.
class NoRegistrations : public platform::RegistrationStore {
 public:
  bool ReadDataSourceValue(const std::string&, const std::string&, std::string*) const override {
    return false;
  }
  bool CanBeRead() const override { return true; }
  std::string Source() const override { return "(none)"; }
};

// The platform of a run; one per benchmark.
struct Platform {
  std::unique_ptr<dao::DatabaseEngine> db_engine = dao::NewSqliteEngine();
  std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  std::unique_ptr<platform::Clock> clock = platform::NewSystemClock();
  NoRegistrations registrations;
};

// The state of one run: its own log, with the window loaded as a run has it
// by the time it merges, writing to the workspace's log file.
class RunState {
 public:
  RunState(Platform& p, const Workspace& workspace)
      : ui_(platform::NewConsoleUserInterface()),
        log_(*p.files, *p.clock, *ui_),
        history_(*p.files, p.clock->Now()),
        context_(*p.db_engine, *p.files, p.registrations, log_, history_) {
    log_.frmLog();
    log_.SetLogFilePath(workspace.LogPath());
    context_.SetCurrentDatabaseFile(kDatabaseFile);
  }
  engine::UpdateContext& context() { return context_; }

 private:
  std::unique_ptr<platform::UserInterface> ui_;
  tabsync::log::RunLog log_;
  tabsync::install::BackupHistory history_;
  engine::UpdateContext context_;
};

// The timed part: the databases opened as the run opens them (the database
// in use exclusively, the update information shared), the merge, and the
// closes, which commit.
void MergeThroughEngine(engine::UpdateContext& context, const Workspace& workspace) {
  dao::DatabaseEngine& db_engine = context.DBEngine();
  context.SetExistingDatabase(db_engine.OpenDatabase(workspace.TargetPath(), dao::kOpenExclusive));
  context.SetUpdateInfoDatabase(db_engine.OpenDatabase(workspace.SourcePath()));
  dao::Database& target = context.ExistingDatabase();
  dao::Database& source = context.UpdateInfoDatabase();
  engine::MergeRecords(context, source, target, source.TableDefs().Item(kTable),
                       target.TableDefs().Item(kTable));
  source.Close();
  target.Close();
}

void BM_Merge(benchmark::State& state, Shape shape) {
  try {
    Workspace& workspace = WorkspaceFor(shape);
    Platform run_platform;
    std::unique_ptr<RunState> run;
    for (auto _ : state) {
      state.PauseTiming();
      run.reset();  // lets go of the log file before it is removed
      workspace.FreshCopies();
      run = std::make_unique<RunState>(run_platform, workspace);
      state.ResumeTiming();
      MergeThroughEngine(run->context(), workspace);
      state.PauseTiming();
      run.reset();
      workspace.merge_result = workspace.CheckTarget();
      workspace.CheckLog();
      state.ResumeTiming();
    }
    state.counters["records"] = shape.records;
  } catch (const std::exception& e) {
    // The benchmark library reports the failure in place of the figures.
    state.SkipWithError(e.what());
  }
}

// --- the same merge as bulk SQL ----------------------------------------------------

// NOT IN reads the target's keys once; SQLite would scan the target per
// source record for a correlated NOT EXISTS on a key without an index.
std::string InsertNewKeysSql() {
  return std::string("INSERT INTO main.Orders (") + kColumns + ") SELECT " + kColumns +
         " FROM source.Orders WHERE ID NOT IN (SELECT ID FROM main.Orders)";
}

// Every value column of the records that differ in any of them.
std::string UpdateChangedSql() {
  std::string assignments, differences;
  for (const std::string& column : kValueColumns) {
    assignments += (assignments.empty() ? "" : ", ") + column + " = s." + column;
    differences += (differences.empty() ? "" : " OR ") + ("t." + column) + " IS NOT s." + column;
  }
  return "UPDATE main.Orders AS t SET " + assignments +
         " FROM source.Orders AS s WHERE t.ID = s.ID AND (" + differences + ")";
}

void MergeWithSqlite(const Workspace& workspace, const std::string& insert_sql,
                     const std::string& update_sql) {
  SqliteHandle db = OpenSqlite(workspace.TargetPath(), SQLITE_OPEN_READWRITE);
  {
    Statement attach = Prepare(db.get(), "ATTACH DATABASE ?1 AS source");
    BindText(db.get(), attach.get(), 1, workspace.SourcePath());
    Check(sqlite3_step(attach.get()), db.get(), "attach");
  }
  Exec(db.get(), "BEGIN");
  Exec(db.get(), insert_sql);
  Exec(db.get(), update_sql);
  Exec(db.get(), "COMMIT");
}

void BM_Bulk(benchmark::State& state, Shape shape) {
  try {
    Workspace& workspace = WorkspaceFor(shape);
    std::string insert_sql = InsertNewKeysSql();
    std::string update_sql = UpdateChangedSql();
    for (auto _ : state) {
      state.PauseTiming();
      workspace.FreshCopies();
      state.ResumeTiming();
      MergeWithSqlite(workspace, insert_sql, update_sql);
      state.PauseTiming();
      workspace.bulk_result = workspace.CheckTarget();
      state.ResumeTiming();
    }
    state.counters["records"] = shape.records;
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

// --- the cases -----------------------------------------------------------------------

constexpr Shape kSmallIndexed{kSmall, true};
constexpr Shape kSmallUnindexed{kSmall, false};
constexpr Shape kLargeIndexed{kLarge, true};
constexpr Shape kLargeUnindexed{kLarge, false};

// The names below are those BENCHMARK_CAPTURE gives, which the closing table
// looks up.
std::string CaseName(Shape shape) {
  return "records_" + std::to_string(shape.records) + (shape.indexed ? "_indexed" : "_unindexed");
}

BENCHMARK_CAPTURE(BM_Merge, records_10000_indexed, kSmallIndexed)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Bulk, records_10000_indexed, kSmallIndexed)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Merge, records_10000_unindexed, kSmallUnindexed)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Bulk, records_10000_unindexed, kSmallUnindexed)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Merge, records_100000_indexed, kLargeIndexed)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Bulk, records_100000_indexed, kLargeIndexed)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Merge, records_100000_unindexed, kLargeUnindexed)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Bulk, records_100000_unindexed, kLargeUnindexed)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- the closing table -------------------------------------------------------------

constexpr double kMaxMergeToBulk = 3;
constexpr double kMaxGrowth = 12;
constexpr double kMaxPeakMb = 256;

// "holds" when every figure is within its limit, "not measured" when one is
// missing.
std::string Verdict(const std::vector<std::optional<double>>& figures, double limit) {
  for (const auto& figure : figures)
    if (!figure) return "not measured";
  for (const auto& figure : figures)
    if (*figure > limit) return "does not hold";
  return "holds";
}

std::string SameResult(Shape shape) {
  auto found = Workspaces().find(shape);
  if (found == Workspaces().end()) return "-";
  const Workspace& workspace = *found->second;
  if (!workspace.merge_result || !workspace.bulk_result) return "-";
  return *workspace.merge_result == *workspace.bulk_result ? "yes" : "NO";
}

// The console table, then the figures of the merge against the bulk SQL.
class MergeReporter : public tabsync::bench::WallTimeReporter {
 public:
  void Finalize() override {
    WallTimeReporter::Finalize();
    std::ostream& out = GetOutputStream();
    PrintCases(out);
    PrintGoals(out);
  }

 private:
  std::optional<double> MergeMs(Shape shape) const { return WallMs("BM_Merge/" + CaseName(shape)); }
  std::optional<double> BulkMs(Shape shape) const { return WallMs("BM_Bulk/" + CaseName(shape)); }
  std::optional<double> MergeToBulk(Shape shape) const {
    return Ratio(MergeMs(shape), BulkMs(shape));
  }
  std::optional<double> Growth(bool indexed) const {
    return Ratio(MergeMs({kLarge, indexed}), MergeMs({kSmall, indexed}));
  }

  void PrintCases(std::ostream& out) const {
    out << "\nMerge of N source records into N target records (10% new keys, 10% of the "
           "records changed in two fields; median wall times of 5 runs, log on):\n";
    char line[160];
    std::snprintf(line, sizeof line, "%9s  %-9s %11s %11s %11s  %s\n", "records", "key index",
                  "merge ms", "bulk ms", "merge/bulk", "same result");
    out << line;
    for (Shape shape : {kSmallIndexed, kSmallUnindexed, kLargeIndexed, kLargeUnindexed}) {
      std::snprintf(line, sizeof line, "%9s  %-9s %11s %11s %11s  %s\n",
                    WithThousands(shape.records).c_str(), shape.indexed ? "yes" : "no",
                    Figure(MergeMs(shape), "%.1f").c_str(), Figure(BulkMs(shape), "%.1f").c_str(),
                    Figure(MergeToBulk(shape), "%.2f").c_str(), SameResult(shape).c_str());
      out << line;
    }
  }

  void PrintGoals(std::ostream& out) const {
    std::optional<double> ratio_indexed = MergeToBulk(kLargeIndexed);
    std::optional<double> ratio_unindexed = MergeToBulk(kLargeUnindexed);
    std::optional<double> growth_indexed = Growth(true), growth_unindexed = Growth(false);
    double peak = PeakMemoryMb();
    out << "\ngrowth merge(100,000) / merge(10,000): with index "
        << Figure(growth_indexed, "%.2fx") << ", without index "
        << Figure(growth_unindexed, "%.2fx") << "\n";
    out << "goal: merge/bulk <= 3 at N=100,000: "
        << Verdict({ratio_indexed, ratio_unindexed}, kMaxMergeToBulk) << " (with index "
        << Figure(ratio_indexed, "%.2f") << ", without index " << Figure(ratio_unindexed, "%.2f")
        << ")\n";
    out << "goal: 10x records <= 12x time: "
        << Verdict({growth_indexed, growth_unindexed}, kMaxGrowth) << " (with index "
        << Figure(growth_indexed, "%.2fx") << ", without index "
        << Figure(growth_unindexed, "%.2fx") << ")\n";
    out << "goal: peak memory < 256 MB: " << (peak < kMaxPeakMb ? "holds" : "does not hold")
        << " (" << Format("%.1f", peak) << " MB)\n";
    out << "peak memory of the process (getrusage ru_maxrss): " << Format("%.1f", peak)
        << " MB\n";
  }
};

}  // namespace

int main(int argc, char** argv) {
  MergeReporter reporter;
  return tabsync::bench::RunComparison(argc, argv, reporter);
}
