// Times the record merge (MergeRecords) against the same work done as bulk
// SQL with plain SQLite, alone and with the merge's log written beside it.
//
// A source table "Orders" of N records, ten columns of mixed types, goes into
// onlineshop.mdb in three cases:
// - "key indexed", "no key index": merged into a target of N records, 10% of
//   the source keys new to it, 10% of the records different in two fields,
//   10% of the target's keys its own; the key column the primary key of both
//   tables, or without any index (the merge's session then builds its own
//   index on the target's key at its second key query and drops it before
//   the commit);
// - "new table": copied into a table that AddTable has just created in the
//   target from the source's, as a run carries an operator's table that the
//   release lacks: every record new, its numbers kept from the source.
// The merge runs as an update run does: the log on (a real log file, the
// hidden log window loaded), timed from opening both databases through the
// engine to closing them, which commits, and to the end of the run's log,
// which writes the lines it still holds.
//
// The baselines work under the same conditions: the engine's page cache and
// settings (plain_sqlite.h), the target in one exclusive transaction, and in
// the case without a key index the same index on the target's key, made and
// dropped inside the timed transaction. "bulk" is timed from its open to its
// close: the source attached to the target, then one transaction of an
// INSERT ... SELECT of the new keys and an UPDATE ... FROM of the changed
// records, or for the new table its CREATE TABLE and one INSERT ... SELECT.
// "bulk + log" adds the merge's own log text, line by line with its date
// prefix and CR LF, through one buffered stream (buffered_log.h) closed
// before the time ends; the lines are those of a merge's log file.
//
// Each case at N = 10,000 and N = 100,000, each way five times on fresh
// copies of files made once per case, its result checked with the timer
// paused (the records; the log's lines). A closing table sets the median
// times side by side, with the growth from 10,000 to 100,000 records and the
// goals.
//
// Run: build/bench/merge_bench (about 35 s)
// (the usual Google Benchmark flags apply, e.g.
// --benchmark_filter=records_10000_ for the smaller cases only).

#include <sqlite3.h>
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "buffered_log.h"
#include "comparison_reporter.h"
#include "figures.h"
#include "plain_sqlite.h"
#include "temp_folder.h"
#include "dbengine/dao.h"
#include "dbengine/sqlite_engine.h"
#include "engine/record_merge.h"
#include "engine/table_creation.h"
#include "engine/update_context.h"
#include "log/run_log.h"
#include "platform/console_user_interface.h"
#include "platform/posix_file_system.h"
#include "platform/registration_store.h"
#include "platform/system_clock.h"

namespace {

// The benchmarks' shared helpers: TempFolder, the plain SQLite calls, the
// buffered log and the figures.
using namespace tabsync::bench;

namespace dao = tabsync::dao;
namespace engine = tabsync::engine;
namespace platform = tabsync::platform;
namespace fs = std::filesystem;

constexpr int kSmall = 10'000;
constexpr int kLarge = 100'000;
constexpr char kDatabaseFile[] = "onlineshop.mdb";
constexpr char kTable[] = "Orders";

enum class Kind { kIndexed, kUnindexed, kNewTable };

// One case of the benchmark: how many records the source holds and where
// they go.
struct Shape {
  int records;
  Kind kind;
  bool operator<(const Shape& other) const {
    return std::pair(records, kind) < std::pair(other.records, other.kind);
  }
  bool NewTable() const { return kind == Kind::kNewTable; }
  // The source's key column is its primary key but without an index case; a
  // new table gets that key from it.
  bool KeyIndexed() const { return kind != Kind::kUnindexed; }
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

// What a copy into a new table must leave there: the source's records.
Contents ExpectedNewTableContents(int records) {
  Contents expected;
  for (int64_t id = 1; id <= records; ++id) expected.Add(SourceOrder(id));
  return expected;
}

// --- the files of one case -------------------------------------------------------

// The lines a run of `shape` logs. A merge: the additions' header; per new
// key its key line and one line per field; per changed record one line per
// changed field. A new table besides: AddTable's table line, a line per
// column and one for the primary key, and every record new.
int64_t ExpectedLogLines(Shape shape) {
  int64_t fields = 1 + static_cast<int64_t>(kValueColumns.size());
  if (shape.NewTable()) return 1 + fields + 1 + 1 + shape.records * (1 + fields);
  int64_t added = shape.records / 10, changed = shape.records / 10;
  return 1 + added * (1 + fields) + changed * 2;
}

std::vector<int64_t> KeysUpTo(int records) {
  std::vector<int64_t> keys;
  for (int64_t id = 1; id <= records; ++id) keys.push_back(id);
  return keys;
}

std::vector<int64_t> TargetKeys(int records) {
  std::vector<int64_t> keys;
  for (int64_t id = 1; id <= records; ++id)
    if (!IsNewKey(id)) keys.push_back(id);
  for (int64_t id = FirstTargetOnlyKey(records); id <= LastTargetOnlyKey(records); ++id)
    keys.push_back(id);
  return keys;
}

// A database without Orders, for the new table: a small table of its own.
void BuildFileWithoutOrders(const std::string& path) {
  SqliteHandle db = OpenSqlite(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  Exec(db.get(), "CREATE TABLE Stations (ID LONG PRIMARY KEY, Name TEXT(50))");
  Exec(db.get(), "INSERT INTO Stations VALUES (1, 'Main')");
}

// The template files of one case, made once with plain SQLite, and the
// working copies an iteration works on: the target in the folder, the source
// in its "update" subfolder, as a run finds them.
class Workspace {
 public:
  explicit Workspace(Shape shape)
      : shape_(shape),
        source_template_(folder_.File("source.template")),
        target_template_(folder_.File("target.template")),
        expected_(shape.NewTable() ? ExpectedNewTableContents(shape.records)
                                   : ExpectedContents(shape.records)) {
    fs::create_directory(folder_.File("update"));
    BuildOrdersFile(source_template_, shape.KeyIndexed(), KeysUpTo(shape.records), SourceOrder);
    if (shape.NewTable()) {
      BuildFileWithoutOrders(target_template_);
    } else {
      BuildOrdersFile(target_template_, shape.KeyIndexed(), TargetKeys(shape.records), TargetOrder);
    }
  }

  Shape shape() const { return shape_; }
  std::string SourcePath() const { return folder_.File(std::string("update/") + kDatabaseFile); }
  std::string TargetPath() const { return folder_.File(kDatabaseFile); }
  std::string LogPath() const { return folder_.File("Stabmerge.log"); }
  std::string StreamLogPath() const { return folder_.File("stream.log"); }

  // Replaces the working files by fresh copies of the templates and removes
  // the logs of the iteration before.
  void FreshCopies() const {
    fs::copy_file(source_template_, SourcePath(), fs::copy_options::overwrite_existing);
    fs::copy_file(target_template_, TargetPath(), fs::copy_options::overwrite_existing);
    fs::remove(LogPath());
    fs::remove(StreamLogPath());
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

  // Throws unless the merge's log holds one line per logged step. Keeps its
  // texts for the bulk + log baseline.
  void CheckLog() {
    std::vector<std::string> texts = ReadLogTexts(LogPath());
    int64_t expected = ExpectedLogLines(shape_);
    if (static_cast<int64_t>(texts.size()) != expected)
      throw std::runtime_error("the log holds " + std::to_string(texts.size()) + " lines, not " +
                               std::to_string(expected));
    log_texts = std::move(texts);
  }

  // Throws unless the baseline's log holds the merge's lines.
  void CheckStreamLog() const {
    if (ReadLogTexts(StreamLogPath()) != log_texts)
      throw std::runtime_error("the buffered log differs from the merge's");
  }

  // The texts of the lines a merge of this case logs, without their dates;
  // empty until a merge was checked.
  std::vector<std::string> log_texts;
  // The last checked result of each way, to compare them.
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
// shared by the merge and the baselines of the case.
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
  std::string UnreadableCause() const override { return ""; }
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
// by the time it merges, writing to the workspace's log file. Its end ends
// the log.
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

// A merge into an existing table: the databases opened as a run opens a data
// database (the target exclusively, the source shared), the merge, and the
// closes, which commit.
void MergeIntoExistingTable(engine::UpdateContext& context, const Workspace& workspace) {
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

// A copy into a new table, as a run carries an operator's table the release
// lacks into its working copy: the target opened exclusively, the source only
// read (its changes discarded), the table made by AddTable, the records
// merged keeping their numbers, the target closed first, which commits.
void CopyIntoNewTable(engine::UpdateContext& context, const Workspace& workspace) {
  dao::DatabaseEngine& db_engine = context.DBEngine();
  context.SetUpdateInfoDatabase(db_engine.OpenDatabase(workspace.TargetPath(), dao::kOpenExclusive));
  context.SetExistingDatabase(db_engine.OpenDatabase(workspace.SourcePath(), dao::kOpenDiscardChanges));
  dao::Database& target = context.UpdateInfoDatabase();
  dao::Database& source = context.ExistingDatabase();
  dao::TableDef& source_table = source.TableDefs().Item(kTable);
  engine::AddTable(context, target, source_table);
  engine::MergeRecords(context, source, target, source_table, target.TableDefs().Item(kTable),
                       engine::AutoNumbers::kKeptFromSource);
  target.Close();
  source.Close();
}

void MergeThroughEngine(engine::UpdateContext& context, const Workspace& workspace) {
  if (workspace.shape().NewTable()) {
    CopyIntoNewTable(context, workspace);
  } else {
    MergeIntoExistingTable(context, workspace);
  }
}

// One timed merge on fresh copies, its result checked.
template <typename Timer>
void MergeOnce(Platform& run_platform, Workspace& workspace, Timer& timer) {
  timer.PauseTiming();
  workspace.FreshCopies();
  auto run = std::make_unique<RunState>(run_platform, workspace);
  timer.ResumeTiming();
  MergeThroughEngine(run->context(), workspace);
  run.reset();  // the end of the run's log
  timer.PauseTiming();
  workspace.merge_result = workspace.CheckTarget();
  workspace.CheckLog();
  timer.ResumeTiming();
}

void BM_Merge(benchmark::State& state, Shape shape) {
  try {
    Workspace& workspace = WorkspaceFor(shape);
    Platform run_platform;
    for (auto _ : state) MergeOnce(run_platform, workspace, state);
    state.counters["records"] = shape.records;
  } catch (const std::exception& e) {
    // The benchmark library reports the failure in place of the figures.
    state.SkipWithError(e.what());
  }
}

// The merge's log lines of the case, from a merge made for them (untimed)
// when no merge of the case has run yet.
const std::vector<std::string>& LogTextsOf(Workspace& workspace) {
  if (workspace.log_texts.empty()) {
    struct NoTimer {
      void PauseTiming() {}
      void ResumeTiming() {}
    } untimed;
    Platform run_platform;
    MergeOnce(run_platform, workspace, untimed);
  }
  return workspace.log_texts;
}

// --- the same work as bulk SQL ----------------------------------------------------

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

// The statements of one case's transaction. Without a key index the target
// gets the index the merge's session makes on its key, dropped before the
// commit as the session drops it.
std::vector<std::string> BulkStatements(Shape shape) {
  if (shape.NewTable()) {
    std::string create = CreateOrders(true);
    return {create.replace(0, std::string("CREATE TABLE ").size(), "CREATE TABLE main."),
            std::string("INSERT INTO main.Orders (") + kColumns + ") SELECT " + kColumns +
                " FROM source.Orders"};
  }
  std::vector<std::string> statements = {InsertNewKeysSql(), UpdateChangedSql()};
  if (!shape.KeyIndexed()) {
    statements.insert(statements.begin(), "CREATE INDEX main.bench_lookup ON Orders (ID)");
    statements.push_back("DROP INDEX main.bench_lookup");
  }
  return statements;
}

void MergeWithSqlite(const Workspace& workspace, const std::vector<std::string>& statements) {
  SqliteHandle db = OpenSqlite(workspace.TargetPath(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  UseEngineSettings(db.get());
  {
    Statement attach = Prepare(db.get(), "ATTACH DATABASE ?1 AS source");
    BindText(db.get(), attach.get(), 1, workspace.SourcePath());
    Check(sqlite3_step(attach.get()), db.get(), "attach");
  }
  UseEngineSettings(db.get(), "source");
  Exec(db.get(), "BEGIN EXCLUSIVE");
  for (const std::string& statement : statements) Exec(db.get(), statement);
  Exec(db.get(), "COMMIT");
}

void WriteLogTexts(const Workspace& workspace, const std::vector<std::string>& texts) {
  BufferedLogStream stream(workspace.StreamLogPath());
  for (const std::string& text : texts) stream.Write(text);
  stream.Close();
}

// The bulk SQL, and with `with_log` the merge's log lines through one
// buffered stream.
void BM_Bulk(benchmark::State& state, Shape shape, bool with_log) {
  try {
    Workspace& workspace = WorkspaceFor(shape);
    std::vector<std::string> statements = BulkStatements(shape);
    std::vector<std::string> no_texts;
    const std::vector<std::string>& texts = with_log ? LogTextsOf(workspace) : no_texts;
    for (auto _ : state) {
      state.PauseTiming();
      workspace.FreshCopies();
      state.ResumeTiming();
      MergeWithSqlite(workspace, statements);
      if (with_log) WriteLogTexts(workspace, texts);
      state.PauseTiming();
      workspace.bulk_result = workspace.CheckTarget();
      if (with_log) workspace.CheckStreamLog();
      state.ResumeTiming();
    }
    state.counters["records"] = shape.records;
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

// --- the cases -----------------------------------------------------------------------

constexpr Kind kKinds[] = {Kind::kIndexed, Kind::kUnindexed, Kind::kNewTable};

std::string KindName(Kind kind) {
  switch (kind) {
    case Kind::kIndexed: return "indexed";
    case Kind::kUnindexed: return "unindexed";
    case Kind::kNewTable: return "new_table";
  }
  return "";
}

// "records_10000_indexed": the name of a case's benchmarks after their
// function's, which the closing table looks up.
std::string CaseName(Shape shape) {
  return "records_" + std::to_string(shape.records) + "_" + KindName(shape.kind);
}

void Register(const std::string& name, std::function<void(benchmark::State&)> body) {
  benchmark::RegisterBenchmark(name.c_str(), std::move(body))
      ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Per case its merge, bulk and bulk + log, the smaller cases first.
void RegisterCases() {
  for (int records : {kSmall, kLarge}) {
    for (Kind kind : kKinds) {
      Shape shape{records, kind};
      std::string name = CaseName(shape);
      Register("BM_Merge/" + name, [shape](benchmark::State& s) { BM_Merge(s, shape); });
      Register("BM_Bulk/" + name, [shape](benchmark::State& s) { BM_Bulk(s, shape, false); });
      Register("BM_BulkWithLog/" + name, [shape](benchmark::State& s) { BM_Bulk(s, shape, true); });
    }
  }
}

// --- the closing table -------------------------------------------------------------

constexpr double kMaxMergeToBulk = 2;
constexpr double kMaxNewTableToBulkWithLog = 1.5;
constexpr double kMaxGrowth = 11;

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

std::string KindText(Kind kind) {
  switch (kind) {
    case Kind::kIndexed: return "key indexed";
    case Kind::kUnindexed: return "no key index";
    case Kind::kNewTable: return "new table";
  }
  return "";
}

// The console table, then the figures of the merge against the baselines.
class MergeReporter : public WallTimeReporter {
 public:
  void Finalize() override {
    WallTimeReporter::Finalize();
    std::ostream& out = GetOutputStream();
    PrintCases(out);
    PrintGoals(out);
  }

 private:
  std::optional<double> Ms(const char* way, Shape shape) const {
    return WallMs(std::string(way) + "/" + CaseName(shape));
  }
  std::optional<double> MergeMs(Shape shape) const { return Ms("BM_Merge", shape); }
  std::optional<double> BulkMs(Shape shape) const { return Ms("BM_Bulk", shape); }
  std::optional<double> BulkWithLogMs(Shape shape) const { return Ms("BM_BulkWithLog", shape); }
  std::optional<double> Growth(Kind kind) const {
    return Ratio(MergeMs({kLarge, kind}), MergeMs({kSmall, kind}));
  }

  void PrintCases(std::ostream& out) const {
    out << "\nN source records merged into N target records (10% new keys, 10% of the records "
           "changed in two fields) or copied into a new table; median wall times of 5 runs, "
           "log on:\n";
    char line[200];
    const char* format = "%9s  %-12s %10s %10s %12s %11s %17s  %s\n";
    std::snprintf(line, sizeof line, format, "records", "case", "merge ms", "bulk ms",
                  "bulk+log ms", "merge/bulk", "merge/(bulk+log)", "same result");
    out << line;
    for (int records : {kSmall, kLarge}) {
      for (Kind kind : kKinds) {
        Shape shape{records, kind};
        std::snprintf(line, sizeof line, format, WithThousands(records).c_str(),
                      KindText(kind).c_str(), Figure(MergeMs(shape), "%.1f").c_str(),
                      Figure(BulkMs(shape), "%.1f").c_str(),
                      Figure(BulkWithLogMs(shape), "%.1f").c_str(),
                      Figure(Ratio(MergeMs(shape), BulkMs(shape)), "%.2f").c_str(),
                      Figure(Ratio(MergeMs(shape), BulkWithLogMs(shape)), "%.2f").c_str(),
                      SameResult(shape).c_str());
        out << line;
      }
    }
  }

  void PrintGoals(std::ostream& out) const {
    Shape indexed{kLarge, Kind::kIndexed}, unindexed{kLarge, Kind::kUnindexed};
    Shape new_table{kLarge, Kind::kNewTable};
    std::optional<double> ratio_indexed = Ratio(MergeMs(indexed), BulkMs(indexed));
    std::optional<double> ratio_unindexed = Ratio(MergeMs(unindexed), BulkMs(unindexed));
    std::optional<double> ratio_new = Ratio(MergeMs(new_table), BulkWithLogMs(new_table));
    std::optional<double> growth_indexed = Growth(Kind::kIndexed);
    std::optional<double> growth_unindexed = Growth(Kind::kUnindexed);
    std::optional<double> growth_new = Growth(Kind::kNewTable);
    out << "\ngoal: record merge of 100,000 <= 2x bulk SQL alone: "
        << Verdict({ratio_indexed, ratio_unindexed}, kMaxMergeToBulk) << " (key indexed "
        << Figure(ratio_indexed, "%.2fx") << ", no key index " << Figure(ratio_unindexed, "%.2fx")
        << ")\n";
    out << "goal: copy of 100,000 into a new table <= 1.5x bulk SQL + log: "
        << Verdict({ratio_new}, kMaxNewTableToBulkWithLog) << " (" << Figure(ratio_new, "%.2fx")
        << ")\n";
    out << "goal: 10x records <= 11x time (merge 100,000 / merge 10,000): "
        << Verdict({growth_indexed, growth_unindexed, growth_new}, kMaxGrowth) << " (key indexed "
        << Figure(growth_indexed, "%.2fx") << ", no key index " << Figure(growth_unindexed, "%.2fx")
        << ", new table " << Figure(growth_new, "%.2fx") << ")\n";
    out << "peak memory of the benchmark process (getrusage ru_maxrss, all cases): "
        << Format("%.1f", PeakMemoryMb()) << " MB\n";
  }
};

}  // namespace

int main(int argc, char** argv) {
  RegisterCases();
  MergeReporter reporter;
  return RunComparison(argc, argv, reporter);
}
