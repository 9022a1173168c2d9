// Opening, locking and sessions of the SQLite engine. Checks across processes
// fork a child that holds the database through its own engine; this process
// never reads the file's bytes while it holds the file open itself, because
// closing any descriptor of a file drops the process's POSIX locks on it.

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "dbengine/dao.h"
#include "dbengine/error.h"
#include "dbengine/sqlite_engine.h"
#include "support/raised_error.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::dao {
namespace {

using test::ExecSql;
using test::RaisedError;
using test::QuerySql;
using test::ReadFileBytes;


void AddRecord(Database& db, int id, const std::string& name) {
  auto rs = db.OpenRecordset("SELECT ID, Name FROM T");
  rs->AddNew();
  rs->Fields().Item("ID").SetValue(id);
  rs->Fields().Item("Name").SetValue(name);
  rs->Update(kUpdateRegular, false);
  rs->Close();
}

// A child process that opens the database through its own engine, runs
// |work| on it, reports to the parent, and holds the database until the
// parent releases it (the child then closes it and exits) or kills it.
class ChildSession {
 public:
  using Work = std::function<void(Database&)>;

  ChildSession(const std::string& path, int options, const Work& work = nullptr) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      RunChild(path, options, work, ready[1], release[0]);
    }
    close(ready[1]);
    close(release[0]);
    ready_fd_ = ready[0];
    release_fd_ = release[1];
  }
  ~ChildSession() {
    if (pid_ > 0) Kill();
    close(ready_fd_);
  }
  ChildSession(const ChildSession&) = delete;
  ChildSession& operator=(const ChildSession&) = delete;

  // Waits until the child holds the database and has done its work; gives
  // an empty text then, else what the child failed with.
  std::string WaitReady() {
    char report[512];
    ssize_t length = read(ready_fd_, report, sizeof report);
    if (length <= 0) return "child ended without report";
    std::string text(report, static_cast<size_t>(length));
    return text == "R" ? "" : text;
  }
  // Lets the child close the database; returns its exit status.
  int Release() {
    CloseRelease();
    return WEXITSTATUS(Wait());
  }
  // Ends the child at once; true when it died of the signal.
  bool Kill() {
    kill(pid_, SIGKILL);
    CloseRelease();
    int status = Wait();
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

 private:
  [[noreturn]] static void RunChild(const std::string& path, int options, const Work& work,
                                    int ready_fd, int release_fd) {
    try {
      auto engine = NewSqliteEngine();
      auto db = engine->OpenDatabase(path, options);
      if (work) work(*db);
      Report(ready_fd, "R");
      char ignored;
      // Returns when the parent closes its end of the pipe.
      while (read(release_fd, &ignored, 1) > 0) {
      }
      db->Close();
      _exit(0);
    } catch (const std::exception& error) {
      Report(ready_fd, std::string("child failed: ") + error.what());
      _exit(1);
    }
  }

  static void Report(int fd, const std::string& text) {
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(3);
  }

  void CloseRelease() {
    close(release_fd_);
    release_fd_ = -1;
  }

  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  pid_t pid_ = -1;
  int ready_fd_ = -1;
  int release_fd_ = -1;
};

// A file with table T holding record 1 "one".
class SqliteSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    ExecSql(path_,
            "CREATE TABLE T (ID LONG PRIMARY KEY, Name TEXT(50) COLLATE NOCASE);"
            "INSERT INTO T VALUES (1, 'one');");
  }

  std::string InUse() const { return "Could not use '" + path_ + "'; file already in use."; }

  test::TempDir dir_;
  std::string path_ = dir_.File("session.mdb");
  std::unique_ptr<DatabaseEngine> engine_ = NewSqliteEngine();
};

// --- Opening and creating ---

TEST_F(SqliteSessionTest, MissingFileRaises3024NamingPathAndCreatesNothing) {
  const std::string missing = dir_.File("missing.mdb");
  Error error = RaisedError([&] { engine_->OpenDatabase(missing); });
  EXPECT_EQ(3024, error.Number());
  EXPECT_EQ("Could not find file '" + missing + "'.", error.Description());
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// A FIFO would hold the open until a writer came, and a device may never end.
TEST_F(SqliteSessionTest, EmptyFileFolderTextFileFifoAndDeviceRaise3343) {
  const std::string empty = dir_.File("empty.mdb");
  const std::string folder = dir_.File("folder.mdb");
  const std::string text = dir_.File("text.mdb");
  const std::string fifo = dir_.File("fifo.mdb");
  const std::string device = dir_.File("zero.mdb");
  std::ofstream(empty).close();
  std::filesystem::create_directory(folder);
  std::ofstream(text) << "not a database\n";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  ASSERT_EQ(0, symlink("/dev/zero", device.c_str()));
  for (const std::string& path : {empty, folder, text, fifo, device}) {
    for (int options : {0, kOpenExclusive}) {
      Error error = RaisedError([&] { engine_->OpenDatabase(path, options); });
      EXPECT_EQ(3343, error.Number()) << path;
      EXPECT_EQ("Unrecognized database format '" + path + "'.", error.Description());
    }
  }
  EXPECT_EQ(0u, std::filesystem::file_size(empty));
}

TEST_F(SqliteSessionTest, CreateDatabaseOnExistingFileRaises3204AndKeepsIt) {
  EXPECT_EQ(3204, RaisedError([&] { engine_->CreateDatabase(path_); }).Number());
  EXPECT_EQ("1|one\n", QuerySql(path_, "SELECT * FROM T"));
}

TEST_F(SqliteSessionTest, CreatedDatabaseIsEmptyAndOpenExclusively) {
  const std::string created = dir_.File("created.mdb");
  auto db = engine_->CreateDatabase(created);
  EXPECT_EQ(0, db->TableDefs().Count());
  EXPECT_EQ(3045, RaisedError([&] { engine_->OpenDatabase(created); }).Number());
  db->Close();
  EXPECT_EQ("0\n", QuerySql(created, "SELECT count(*) FROM sqlite_master"));
}

// --- Sessions ---

TEST_F(SqliteSessionTest, ChangesAreVisibleAtOnceOnTheSameHandle) {
  auto db = engine_->OpenDatabase(path_, kOpenExclusive);
  auto td = db->CreateTableDef("Added");
  td->Fields().Append(td->CreateField("Code", kTypeLong));
  db->TableDefs().Append(td);
  AddRecord(*db, 2, "two");
  db->Execute("DELETE FROM T WHERE ID = 1", kFailOnError);
  EXPECT_EQ("Added", db->TableDefs().Item("added").Name());
  EXPECT_EQ(0, db->OpenRecordset("SELECT * FROM Added")->RecordCount());
  EXPECT_GT(db->OpenRecordset("SELECT * FROM T WHERE ID = 2")->RecordCount(), 0);
  EXPECT_EQ(0, db->OpenRecordset("SELECT * FROM T WHERE ID = 1")->RecordCount());
  db->Close();
  EXPECT_EQ("2|two\n", QuerySql(path_, "SELECT * FROM T"));
  EXPECT_EQ("0\n", QuerySql(path_, "SELECT count(*) FROM Added"));
}

TEST_F(SqliteSessionTest, ChangesReachFileOnlyAtClose) {
  const std::string before = ReadFileBytes(path_);
  ChildSession child(path_, 0, [](Database& db) { AddRecord(db, 2, "two"); });
  ASSERT_EQ("", child.WaitReady());
  EXPECT_TRUE(ReadFileBytes(path_) == before);
  EXPECT_EQ(0, child.Release());
  EXPECT_EQ("1|one\n2|two\n", QuerySql(path_, "SELECT * FROM T ORDER BY ID"));
}

TEST_F(SqliteSessionTest, FailingOperationUndoesOnlyItself) {
  auto db = engine_->OpenDatabase(path_);
  AddRecord(*db, 2, "two");
  EXPECT_EQ(3022, RaisedError([&] { AddRecord(*db, 2, "again"); }).Number());
  EXPECT_EQ(3061, RaisedError([&] { db->Execute("DELETE FROM T WHERE Nope = 1", 128); }).Number());
  db->Close();
  EXPECT_EQ("1|one\n2|two\n", QuerySql(path_, "SELECT * FROM T ORDER BY ID"));
}

TEST_F(SqliteSessionTest, DestroyingDatabaseWithoutCloseCommits) {
  AddRecord(*engine_->OpenDatabase(path_), 2, "two");
  EXPECT_EQ("1|one\n2|two\n", QuerySql(path_, "SELECT * FROM T ORDER BY ID"));
}

// About 48 MB of changes, more than the engine's page cache holds (32 MB),
// so that a session that let SQLite spill pages would write to the file: a
// new table of 3,000 records of 16,000 characters, and a record deleted from T.
void WriteManyChanges(Database& db) {
  auto td = db.CreateTableDef("Big");
  td->Fields().Append(td->CreateField("ID", kTypeLong));
  td->Fields().Append(td->CreateField("Body", kTypeMemo));
  db.TableDefs().Append(td);
  auto rs = db.OpenRecordset("SELECT ID, Body FROM Big");
  const std::string body(16000, 'x');
  for (int id = 0; id < 3000; ++id) {
    rs->AddNew();
    rs->Fields().Item(0).SetValue(id);
    rs->Fields().Item(1).SetValue(body);
    rs->Update(kUpdateRegular, false);
  }
  rs->Close();
  db.Execute("DELETE FROM T WHERE ID = 1", kFailOnError);
}

TEST_F(SqliteSessionTest, KilledBeforeCloseLeavesFileUnchanged) {
  const std::string before = ReadFileBytes(path_);
  ChildSession child(path_, kOpenExclusive, WriteManyChanges);
  ASSERT_EQ("", child.WaitReady());
  EXPECT_TRUE(ReadFileBytes(path_) == before);
  ASSERT_TRUE(child.Kill());
  EXPECT_TRUE(ReadFileBytes(path_) == before);

  auto db = engine_->OpenDatabase(path_);
  EXPECT_EQ(1, db->TableDefs().Count());
  EXPECT_EQ(3265, RaisedError([&] { db->TableDefs().Item("Big"); }).Number());
  EXPECT_GT(db->OpenRecordset("SELECT * FROM T WHERE ID = 1")->RecordCount(), 0);
  db->Close();
  EXPECT_EQ("1|one\n", QuerySql(path_, "SELECT * FROM T"));
}

// A session that discards its changes sees them, but neither the file nor a
// journal beside it is ever written, not even by a process killed mid-way.
TEST_F(SqliteSessionTest, DiscardingSessionNeverWritesTheFile) {
  const std::string before = ReadFileBytes(path_);
  auto db = engine_->OpenDatabase(path_, kOpenDiscardChanges);
  WriteManyChanges(*db);
  EXPECT_EQ(1, db->OpenRecordset("SELECT * FROM Big WHERE ID = 2999")->RecordCount());
  EXPECT_FALSE(std::filesystem::exists(path_ + "-journal"));
  db->Close();
  EXPECT_TRUE(ReadFileBytes(path_) == before);

  ChildSession child(path_, kOpenDiscardChanges, WriteManyChanges);
  ASSERT_EQ("", child.WaitReady());
  ASSERT_TRUE(child.Kill());
  EXPECT_FALSE(std::filesystem::exists(path_ + "-journal"));
  EXPECT_TRUE(ReadFileBytes(path_) == before);
}

// The update information may come read-only on read-only media: a read-only
// session reads it and refuses every change.
TEST_F(SqliteSessionTest, ReadOnlySessionReadsAReadOnlyFileAndChangesNothing) {
  ASSERT_EQ(0, chmod(path_.c_str(), 0444));
  ASSERT_EQ(0, chmod(dir_.Path().c_str(), 0555));
  const std::string before = ReadFileBytes(path_);
  auto db = engine_->OpenDatabase(path_, 0, true);
  EXPECT_EQ(1, db->OpenRecordset("SELECT * FROM T WHERE Name = 'ONE'")->RecordCount());
  EXPECT_EQ(3027, RaisedError([&] { db->Execute("DELETE FROM T", kFailOnError); }).Number());
  EXPECT_EQ(3027, RaisedError([&] { AddRecord(*db, 2, "two"); }).Number());
  db->Close();
  chmod(dir_.Path().c_str(), 0755);
  EXPECT_TRUE(ReadFileBytes(path_) == before);
}

// What a writer killed mid-commit left is rolled back by the next open, so
// that a copy taken after it is what a client reads.
TEST_F(SqliteSessionTest, OpenRollsBackAHotJournal) {
  test::LeaveHotJournal(path_, "T");
  std::string torn = dir_.File("torn.mdb");
  std::ofstream(torn, std::ios::binary) << ReadFileBytes(path_);
  EXPECT_EQ("", QuerySql(torn, "SELECT * FROM T"));
  engine_->OpenDatabase(path_, kOpenDiscardChanges)->Close();
  EXPECT_FALSE(std::filesystem::exists(path_ + "-journal"));
  EXPECT_EQ("1|one\n", QuerySql(path_, "SELECT * FROM T"));
}

// A file in WAL mode whose last commit is still in its -wal file, as a writer
// that died left it: copied, with its -wal, while the writer holds it.
void CopyWithCommitInWal(const std::string& path, const std::string& copy) {
  ExecSql(path, "PRAGMA journal_mode = WAL; CREATE TABLE T (ID LONG, Name TEXT(50))");
  sqlite3* writer = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &writer));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(writer,
                                    "PRAGMA wal_autocheckpoint = 0;"
                                    "INSERT INTO T VALUES (2, 'two')",
                                    nullptr, nullptr, nullptr));
  std::filesystem::copy_file(path, copy);
  std::filesystem::copy_file(path + "-wal", copy + "-wal");
  sqlite3_close(writer);
}

// The update information is read as it lies, also when it is in WAL mode and
// its name holds characters a URI gives a meaning: nothing is made beside
// it, and no change is taken.
TEST_F(SqliteSessionTest, ImmutableOpenReadsTheFileAloneAndMakesNothingBesideIt) {
  std::string odd = dir_.File("a?b#c%20d.mdb");
  ExecSql(odd, "PRAGMA journal_mode = WAL; CREATE TABLE T (ID LONG); INSERT INTO T VALUES (1)");
  ASSERT_EQ(0, chmod(odd.c_str(), 0444));
  const std::string before = ReadFileBytes(odd);
  std::set<std::string> names = test::NamesIn(dir_.Path());
  auto db = engine_->OpenDatabase(odd, kOpenImmutable);
  EXPECT_EQ(1, db->OpenRecordset("SELECT * FROM T WHERE ID = 1")->RecordCount());
  EXPECT_EQ(3027, RaisedError([&] { db->Execute("DELETE FROM T", kFailOnError); }).Number());
  EXPECT_EQ("", db->QuickCheck());
  EXPECT_EQ(names, test::NamesIn(dir_.Path()));
  db->Close();
  EXPECT_TRUE(ReadFileBytes(odd) == before);
  EXPECT_EQ(names, test::NamesIn(dir_.Path()));
}

// A journal or -wal file beside the file holds changes the file alone
// lacks: the immutable open refuses it and leaves both as they are.
TEST_F(SqliteSessionTest, ImmutableOpenRefusesAFileWithChangesBesideIt) {
  std::string wal_copy = dir_.File("wal.mdb");
  CopyWithCommitInWal(dir_.File("writer.mdb"), wal_copy);
  test::LeaveHotJournal(path_, "T");
  for (const auto& [path, beside] : {std::pair{path_, path_ + "-journal"},
                                     std::pair{wal_copy, wal_copy + "-wal"}}) {
    const std::string pending = ReadFileBytes(beside);
    Error error = RaisedError([&] { engine_->OpenDatabase(path, kOpenImmutable); });
    EXPECT_EQ(3049, error.Number()) << path;
    EXPECT_EQ("Cannot open database '" + path +
                  "' as it lies: a journal or WAL file beside it holds changes it lacks.",
              error.Description());
    EXPECT_TRUE(ReadFileBytes(beside) == pending) << beside;
  }
}

// Damage the open does not notice (a page of a table overwritten) is found by
// the check, which reads every page.
TEST_F(SqliteSessionTest, QuickCheckFindsADamagedPage) {
  ExecSql(path_,
          "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 400)"
          " INSERT INTO T SELECT i, printf('%0200d', i) FROM n");
  auto sound = engine_->OpenDatabase(path_, kOpenImmutable);
  EXPECT_EQ("", sound->QuickCheck());
  sound->Close();
  std::string bytes = ReadFileBytes(path_);
  std::string damaged = dir_.File("damaged.mdb");
  std::ofstream(damaged, std::ios::binary)
      << bytes.substr(0, 8192) + std::string(4096, '\x5a') + bytes.substr(12288);
  for (int options : {kOpenImmutable, kOpenDiscardChanges}) {
    auto db = engine_->OpenDatabase(damaged, options);
    std::string found = db->QuickCheck();
    EXPECT_NE("", found);
    EXPECT_EQ(std::string::npos, found.find('\n')) << found;
    db->Close();
  }
}

TEST_F(SqliteSessionTest, UseAfterCloseRaises3420) {
  auto db = engine_->OpenDatabase(path_);
  TableDef& table = db->TableDefs().Item("T");
  auto rs = db->OpenRecordset("SELECT ID FROM T");
  db->Close();
  Error error = RaisedError([&] { db->TableDefs(); });
  EXPECT_EQ(3420, error.Number());
  EXPECT_EQ("Object invalid or no longer set.", error.Description());
  EXPECT_EQ(3420, RaisedError([&] { db->OpenRecordset("SELECT ID FROM T"); }).Number());
  EXPECT_EQ(3420, RaisedError([&] { db->Execute("DELETE FROM T", 128); }).Number());
  EXPECT_EQ(3420, RaisedError([&] { db->CreateTableDef("New"); }).Number());
  EXPECT_EQ(3420, RaisedError([&] { db->QuickCheck(); }).Number());
  EXPECT_EQ(3420, RaisedError([&] { table.Fields(); }).Number());
  EXPECT_EQ(3420, RaisedError([&] { rs->MoveFirst(); }).Number());
  EXPECT_EQ(3420, RaisedError([&] { rs->Fields(); }).Number());
  EXPECT_EQ("1|one\n", QuerySql(path_, "SELECT * FROM T"));
}

// --- Exclusive use ---

TEST_F(SqliteSessionTest, ExclusiveOpenRefusedWhileSharedOpenExists) {
  auto shared = engine_->OpenDatabase(path_);
  Error error = RaisedError([&] { engine_->OpenDatabase(path_, kOpenExclusive); });
  EXPECT_EQ(3045, error.Number());
  EXPECT_EQ(InUse(), error.Description());
  EXPECT_NO_THROW(engine_->OpenDatabase(path_)->Close());
  shared->Close();
  EXPECT_NO_THROW(engine_->OpenDatabase(path_, kOpenExclusive)->Close());
}

TEST_F(SqliteSessionTest, EveryOtherOpenRefusedWhileExclusiveOpenExists) {
  auto exclusive = engine_->OpenDatabase(path_, kOpenExclusive);
  Error error = RaisedError([&] { engine_->OpenDatabase(path_); });
  EXPECT_EQ(3045, error.Number());
  EXPECT_EQ(InUse(), error.Description());
  EXPECT_EQ(3045, RaisedError([&] { engine_->OpenDatabase(path_, kOpenExclusive); }).Number());
  exclusive->Close();
  EXPECT_NO_THROW(engine_->OpenDatabase(path_)->Close());
}

TEST_F(SqliteSessionTest, ExclusiveOpenInOtherProcessRefusesEveryOpen) {
  ChildSession child(path_, kOpenExclusive);
  ASSERT_EQ("", child.WaitReady());
  Error error = RaisedError([&] { engine_->OpenDatabase(path_); });
  EXPECT_EQ(3045, error.Number());
  EXPECT_EQ(InUse(), error.Description());
  EXPECT_EQ(3045, RaisedError([&] { engine_->OpenDatabase(path_, kOpenExclusive); }).Number());
  EXPECT_EQ(0, child.Release());
  EXPECT_NO_THROW(engine_->OpenDatabase(path_, kOpenExclusive)->Close());
}

TEST_F(SqliteSessionTest, SharedOpenInOtherProcessRefusesExclusiveOpen) {
  ChildSession child(path_, 0);
  ASSERT_EQ("", child.WaitReady());
  EXPECT_EQ(3045, RaisedError([&] { engine_->OpenDatabase(path_, kOpenExclusive); }).Number());
  EXPECT_NO_THROW(engine_->OpenDatabase(path_)->Close());
  EXPECT_EQ(0, child.Release());
}

TEST_F(SqliteSessionTest, ExclusiveOpenRefusedWhileSqliteClientHoldsLock) {
  for (const char* begin : {"BEGIN IMMEDIATE", "BEGIN; SELECT * FROM T;"}) {
    SCOPED_TRACE(begin);
    sqlite3* client = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(path_.c_str(), &client, SQLITE_OPEN_READWRITE, nullptr));
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(client, sqlite3_close);
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(client, begin, nullptr, nullptr, nullptr));
    EXPECT_EQ(3045, RaisedError([&] { engine_->OpenDatabase(path_, kOpenExclusive); }).Number());
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(client, "COMMIT", nullptr, nullptr, nullptr));
    EXPECT_NO_THROW(engine_->OpenDatabase(path_, kOpenExclusive)->Close());
  }
}

}  // namespace
}  // namespace tabsync::dao
