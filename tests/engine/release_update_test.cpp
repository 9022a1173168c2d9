// The whole update on a realistic release: the installed older release and
// the update information written by tools/make-release, the real engine, file
// system and clock, and data sources in a private odbc.ini pointing at the
// installed release. The log and the six databases afterwards are compared
// with the files in engine/data/release_update/.

#include <sys/stat.h>

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "engine/catalogue.h"
#include "engine/update_run.h"
#include "make-release/release_maker.h"
#include "support/odbc_client.h"
#include "support/private_odbc_folder.h"
#include "support/real_run_test.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::engine {
namespace {

using Lines = std::vector<std::string>;
using test::QuerySql;
using test::ReadFileBytes;

const std::string kExpectedFolder = std::string(TABSYNC_TEST_DATA) + "release_update/";

Lines SplitLines(const std::string& text, const std::string& end) {
  Lines lines;
  size_t start = 0;
  for (size_t stop; (stop = text.find(end, start)) != std::string::npos; start = stop + end.size())
    lines.push_back(text.substr(start, stop - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

Lines ExpectedLines(const std::string& name) {
  std::ifstream in(kExpectedFolder + name, std::ios::binary);
  EXPECT_TRUE(in) << "missing " << kExpectedFolder + name;
  std::stringstream text;
  text << in.rdbuf();
  return SplitLines(text.str(), "\n");
}

class ReleaseUpdateTest : public test::RealRunTest {
 protected:
  void SetUp() override {
    test::PrivateOdbcFolder();
    MakeSite("");
  }

  // A release installed in folder + "installed/", its update information in
  // folder + "DB/", and the data sources pointing at the installed one.
  void MakeSite(const std::string& folder) {
    installed_ = dir_.File(folder + "installed/");
    update_ = dir_.File(folder + "DB/");
    std::filesystem::create_directories(installed_);
    std::filesystem::create_directories(update_);
    release::MakeRelease(*engine_, installed_, update_, 1, format_version_);
    std::string ini = "# data sources of the server\n";
    for (const CatalogueEntry& entry : DatabaseCatalogue) {
      ini += std::string("[") + entry.data_source_name + "]\nDriver=SQLite3\nDBQ=" + installed_ +
             entry.file_name + "\n";
    }
    test::WriteOdbcIni(ini);
    log_.SetLogFilePath(LogPath());
  }

  // Every file of a folder by name, with its bytes; a FIFO or a link as such.
  static std::map<std::string, std::string> FolderBytes(const std::string& folder) {
    std::map<std::string, std::string> bytes;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      std::string name = entry.path().filename();
      if (entry.is_symlink()) {
        bytes[name] = "link to " + std::filesystem::read_symlink(entry.path()).string();
      } else if (entry.is_regular_file()) {
        bytes[name] = ReadFileBytes(entry.path());
      } else {
        bytes[name] = "special";
      }
    }
    return bytes;
  }

  void TearDown() override { test::WriteOdbcIni(""); }

  std::string LogPath() const { return installed_ + "Stabmerge.log"; }

  // The file format version that make-release writes the site in.
  int format_version_ = dao::kFormatVersion;

  // Runs the update as the installer does: the log of an earlier run is
  // deleted first, ErrorsDetected starts false.
  void RunUpdate() {
    log_.SetLogFilePath(LogPath());
    std::remove(LogPath().c_str());
    context_.SetErrorsDetected(false);
    UpdateAllDatabases(context_, update_);
  }

  // Replaces the temporary folders by names that stay the same from run to
  // run.
  std::string WithoutFolders(std::string text) const {
    for (auto [folder, name] : {std::pair{installed_, "<installed>/"}, {update_, "<update>/"}}) {
      for (size_t at; (at = text.find(folder)) != std::string::npos;)
        text.replace(at, folder.size(), name);
    }
    return text;
  }

  // The log's lines, each checked for its date and time prefix and given
  // without it.
  Lines LogLines() {
    log_.Flush();
    static const std::regex prefix("[0-9]{2}-[0-9]{2}-[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} ");
    Lines lines;
    for (const std::string& line : SplitLines(ReadFileBytes(LogPath()), "\r\n")) {
      EXPECT_TRUE(std::regex_search(line.substr(0, 20), prefix)) << line;
      lines.push_back(WithoutFolders(line.substr(20)));
    }
    return lines;
  }

  // One database as plain SQLite sees it: every schema object with its SQL,
  // then the rows of every table in stored order.
  Lines DumpDatabase(const std::string& fileName) const {
    std::string path = installed_ + fileName;
    Lines dump;
    std::string objects = QuerySql(
        path, "SELECT type, name, sql FROM sqlite_schema ORDER BY type DESC, name COLLATE NOCASE");
    for (const std::string& object : SplitLines(objects, "\n")) dump.push_back(object);
    std::string tables = QuerySql(path,
                                  "SELECT name FROM sqlite_schema WHERE type = 'table' AND name "
                                  "NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name COLLATE NOCASE");
    for (const std::string& table : SplitLines(tables, "\n")) {
      dump.push_back("rows of " + table + ":");
      std::string rows = QuerySql(path, "SELECT * FROM \"" + table + "\" ORDER BY rowid");
      for (const std::string& row : SplitLines(rows, "\n")) dump.push_back("  " + row);
    }
    for (std::string& line : dump) line = WithoutFolders(line);
    return dump;
  }

  std::string installed_ = dir_.File("installed/");
  std::string update_ = dir_.File("DB/");
};

// The same on a site of either format version: one of the previous version
// ends the same, log line for log line and row for row, its databases
// brought to the current format on the way.
class ReleaseFormatsTest : public ReleaseUpdateTest, public testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    format_version_ = GetParam();
    ReleaseUpdateTest::SetUp();
  }
};

TEST_P(ReleaseFormatsTest, FirstRunLogsEveryActionAndLeavesTheExpectedDatabases) {
  RunUpdate();

  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ(ExpectedLines("update.log"), LogLines());
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    std::string name = BaseName(entry.file_name);
    EXPECT_EQ(ExpectedLines(name + ".txt"), DumpDatabase(entry.file_name)) << name;
    EXPECT_EQ(std::to_string(dao::kFormatVersion) + "\n",
              QuerySql(installed_ + entry.file_name, "PRAGMA user_version"))
        << name;
  }
}

TEST_P(ReleaseFormatsTest, SecondRunChangesNothingAndReportsNoError) {
  RunUpdate();
  std::vector<Lines> first;
  for (const CatalogueEntry& entry : DatabaseCatalogue) first.push_back(DumpDatabase(entry.file_name));

  RunUpdate();

  EXPECT_FALSE(context_.ErrorsDetected());
  for (size_t i = 0; i < DatabaseCatalogue.size(); ++i)
    EXPECT_EQ(first[i], DumpDatabase(DatabaseCatalogue[i].file_name)) << DatabaseCatalogue[i].file_name;
  EXPECT_EQ(ExpectedLines("second-update.log"), LogLines());
}

TEST_P(ReleaseFormatsTest, UpdateInformationIsRestoredAndBackupsHoldTheInstalledRelease) {
  std::vector<std::string> installed, update;
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    installed.push_back(ReadFileBytes(installed_ + entry.file_name));
    update.push_back(ReadFileBytes(update_ + entry.file_name));
  }

  RunUpdate();

  for (size_t i = 0; i < DatabaseCatalogue.size(); ++i) {
    std::string file = DatabaseCatalogue[i].file_name;
    EXPECT_EQ(installed[i], ReadFileBytes(installed_ + file + ".bak")) << file;
    EXPECT_EQ(update[i], ReadFileBytes(update_ + file)) << file;
    EXPECT_FALSE(std::ifstream(update_ + file + ".bak")) << file;
  }
}

// A database kept on another volume, reached through a symbolic link in the
// database folder: updated where the link leads, the link stays a link, the
// backup lies beside the link, and nothing else is left beside the target.
TEST_F(ReleaseUpdateTest, DatabaseInUseBehindALinkIsUpdatedWhereTheLinkLeads) {
  std::string volume = dir_.File("volume/");
  std::filesystem::create_directory(volume);
  std::map<std::string, std::string> installed;
  for (auto [file, target] : {std::pair{"config.mdb", "cfg.sqlite"}, {"users.mdb", "users.db"}}) {
    installed[file] = ReadFileBytes(installed_ + file);
    std::filesystem::rename(installed_ + file, volume + target);
    ASSERT_EQ(0, symlink((volume + target).c_str(), (installed_ + file).c_str()));
  }

  RunUpdate();

  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ(ExpectedLines("update.log"), LogLines());
  for (const auto& [file, bytes] : installed) {
    EXPECT_TRUE(std::filesystem::is_symlink(installed_ + file)) << file;
    EXPECT_EQ(ExpectedLines(BaseName(file) + ".txt"), DumpDatabase(file)) << file;
    EXPECT_TRUE(bytes == ReadFileBytes(installed_ + file + ".bak")) << file;
  }
  EXPECT_EQ((std::set<std::string>{"cfg.sqlite", "users.db"}), test::NamesIn(volume));
}

// A database in use with a damaged page is neither updated nor backed up: its
// .bak stays the last good state, and nothing goes into the history.
TEST_F(ReleaseUpdateTest, DamagedDatabaseInUseIsNeitherUpdatedNorBackedUp) {
  std::string users = installed_ + "users.mdb";
  std::string good = ReadFileBytes(users);
  std::ofstream(users + ".bak", std::ios::binary) << good;
  std::ofstream(users, std::ios::binary)
      << good.substr(0, 8192) + std::string(4096, '\x5a') + good.substr(12288);
  std::string damaged = ReadFileBytes(users);

  RunUpdate();

  Lines log = LogLines();
  Lines users_end(log.end() - 4, log.end() - 1);
  EXPECT_EQ("DATABASE START: users.mdb", users_end[0]);
  EXPECT_TRUE(users_end[1].starts_with(" !ERROR database not updated, it is damaged (") &&
              users_end[1].ends_with("): <installed>/users.mdb"))
      << users_end[1];
  EXPECT_EQ("DATABASE END: users.mdb", users_end[2]);
  EXPECT_EQ(1, context_.ErrorCount());
  EXPECT_TRUE(damaged == ReadFileBytes(users));
  EXPECT_TRUE(good == ReadFileBytes(users + ".bak"));
  std::string history = installed_ + "backups";
  if (std::filesystem::exists(history)) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(history))
      EXPECT_NE("users.mdb.bak", entry.path().filename()) << entry.path();
  }
}

// Update information that is no usable database, or lacks a table its
// release steps read, leaves the database in use exactly as it was (no
// backup, nothing half updated) with one line naming the file and the cause;
// the other databases are updated, and the update folder stays as delivered.
TEST_F(ReleaseUpdateTest, UnusableUpdateInformationLeavesTheDatabaseInUseAsItWas) {
  struct Case {
    const char* name;
    const char* file;
    std::function<void(const std::string& path)> spoil;
    std::string cause;  // the line's text after "its update information ", up to ": path"
  };
  auto replace = [](const std::string& bytes) {
    return [bytes](const std::string& path) { std::ofstream(path, std::ios::binary) << bytes; };
  };
  auto link_to = [](const char* target) {
    return [target](const std::string& path) {
      std::remove(path.c_str());
      ASSERT_EQ(0, symlink(target, path.c_str()));
    };
  };
  auto sql = [](const char* statements) {
    return [statements](const std::string& path) { test::ExecSql(path, statements); };
  };
  auto no_database = [](const std::string& path) {
    return "cannot be read (3343: Unrecognized database format '" + path + "'.)";
  };
  const std::vector<Case> cases = {
      {"junk", "accounting.mdb", replace("junk\n"), "<no database>"},
      {"empty", "accounting.mdb", replace(""), "<no database>"},
      {"cut", "config.mdb",
       [](const std::string& path) { std::filesystem::resize_file(path, 8192); },
       "<no database>"},
      {"passwd", "users.mdb", link_to("/etc/passwd"), "<no database>"},
      {"fifo", "config.mdb",
       [](const std::string& path) {
         std::remove(path.c_str());
         ASSERT_EQ(0, mkfifo(path.c_str(), 0644));
       },
       "is not a regular file"},
      {"zero", "resource.mdb", link_to("/dev/zero"), "is not a regular file"},
      {"missing", "availability.mdb", [](const std::string& path) { std::remove(path.c_str()); },
       "is missing"},
      {"journal", "accounting.mdb",
       [](const std::string& path) { test::LeaveHotJournal(path, "Version"); },
       "<torn>"},
      {"page", "availability.mdb",
       [](const std::string& path) {
         std::string bytes = ReadFileBytes(path);
         std::ofstream(path, std::ios::binary)
             << bytes.substr(0, 8192) + std::string(4096, '\x5a') + bytes.substr(12288);
       },
       "is damaged ("},
      {"no-version", "users.mdb", sql("DROP TABLE Version"), "lacks the table Version"},
      {"no-actions", "accounting.mdb", sql("DROP TABLE Actions"), "lacks the table Actions"},
      {"unrelated", "config.mdb",
       [](const std::string& path) {
         std::remove(path.c_str());
         test::ExecSql(path, "CREATE TABLE Notes (Text TEXT)");
       },
       "lacks the table Version"},
      {"no-tables", "resource.mdb",
       [](const std::string& path) {
         std::remove(path.c_str());
         test::ExecSql(path, "PRAGMA user_version = 1");
       },
       "lacks the table Version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeSite(std::string(c.name) + "/");
    std::string in_use = installed_ + c.file;
    std::string update = update_ + c.file;
    c.spoil(update);
    std::string before = ReadFileBytes(in_use);
    std::map<std::string, std::string> delivered = FolderBytes(update_);
    install::BackupHistory history(*files_, clock_->Now());
    UpdateContext context(*engine_, *files_, *store_, log_, history);

    UpdateAllDatabases(context, update_);

    std::string cause = c.cause == "<no database>" ? no_database(update)
                        : c.cause == "<torn>"
                            ? "cannot be read (3049: Cannot open database '" + update +
                                  "' as it lies: a journal or WAL file beside it holds changes "
                                  "it lacks.)"
                            : c.cause;
    // The damage is in SQLite's words; only its start is fixed.
    bool open_ended = cause.ends_with("(");
    std::string line = WithoutFolders(" !ERROR database not updated, its update information " +
                                      cause + (open_ended ? "" : ": " + update));
    Lines log = LogLines();
    auto found = std::find_if(log.begin(), log.end(), [&](const std::string& l) {
      return open_ended ? l.starts_with(line) && l.ends_with("): " + WithoutFolders(update))
                        : l == line;
    });
    ASSERT_NE(log.end(), found) << line;
    EXPECT_EQ("DATABASE END: " + std::string(c.file), *(found + 1));
    EXPECT_EQ(1, context.ErrorCount());
    EXPECT_EQ(5, context.DatabasesUpdated());
    EXPECT_TRUE(before == ReadFileBytes(in_use));
    EXPECT_FALSE(std::filesystem::exists(in_use + ".bak"));
    EXPECT_TRUE(delivered == FolderBytes(update_));
  }
}

// The SQL type the SQLite3 ODBC driver reports for a field of this type.
int SqlTypeOf(const dao::Field& field) {
  switch (field.Type()) {
    case dao::kTypeBoolean: return SQL_BIT;
    case dao::kTypeByte: return SQL_TINYINT;
    case dao::kTypeInteger: return SQL_SMALLINT;
    case dao::kTypeLong: return SQL_INTEGER;
    case dao::kTypeDate: return SQL_TYPE_TIMESTAMP;
    case dao::kTypeText: return SQL_VARCHAR;
    case dao::kTypeMemo: return SQL_LONGVARCHAR;
    case dao::kTypeLongBinary: return SQL_LONGVARBINARY;
    default: return SQL_DOUBLE;
  }
}

// A value as the engine reads it and as the client fetched it.
bool SameValue(const dao::Variant& value, const test::OdbcClient::Value& fetched) {
  switch (value.kind()) {
    case dao::Variant::Kind::kNull: return fetched.text == "NULL";
    case dao::Variant::Kind::kBoolean: return fetched.text == (value.AsBoolean() ? "1" : "0");
    case dao::Variant::Kind::kDate: return fetched.text == value.ToText() + ".000000000";
    case dao::Variant::Kind::kDouble: return std::stod(fetched.text) == value.AsDouble();
    default: return fetched.text == value.ToText();
  }
}

// A server program after the update: every column of every table of the six
// databases, through the driver, with its SQL type, size and value; then it
// writes values of its own kinds, equal to what the release holds, and the
// next update finds nothing to replace. (The client names the driver and the
// file itself: unixODBC keeps what it read of odbc.ini while the file's
// modification time stays the same second, which the tests' rewrites of it
// would trip over.)
TEST_P(ReleaseFormatsTest, OdbcClientReadsEveryColumnAsItsTypeAndItsWritesChangeNothing) {
  RunUpdate();
  auto client_of = [&](const std::string& file) {
    return std::make_unique<test::OdbcClient>("Driver=SQLite3;Database=" + installed_ + file);
  };
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    std::unique_ptr<test::OdbcClient> client = client_of(entry.file_name);
    std::unique_ptr<dao::Database> db =
        engine_->OpenDatabase(installed_ + entry.file_name, 0, true);
    for (const std::string& table : client->Tables()) {
      SCOPED_TRACE(std::string(entry.data_source_name) + " " + table);
      dao::Collection<dao::Field>& fields = db->TableDefs().Item(table).Fields();
      std::vector<test::OdbcClient::Column> columns = client->Columns(table);
      ASSERT_EQ(static_cast<size_t>(fields.Count()), columns.size());
      for (int i = 0; i < fields.Count(); ++i) {
        EXPECT_EQ(SqlTypeOf(fields.Item(i)), columns[i].sql_type) << columns[i].name;
        if (fields.Item(i).Type() == dao::kTypeText) {
          EXPECT_EQ(fields.Item(i).Size(), columns[i].size) << columns[i].name;
        }
      }
      test::OdbcClient::Result result = client->Query("SELECT * FROM \"" + table + "\"");
      std::unique_ptr<dao::Recordset> records =
          db->OpenRecordset("SELECT * FROM [" + table + "]", dao::kSnapshot, dao::kReadOnlyOption);
      for (const auto& row : result.rows) {
        for (int i = 0; i < fields.Count(); ++i)
          EXPECT_TRUE(SameValue(records->Fields().Item(i).Value(), row[i]))
              << columns[i].name << " " << records->Fields().Item(i).Value().ToText() << " "
              << row[i].text;
        records->MoveNext();
      }
      EXPECT_TRUE(records->Eof());
    }
    db->Close();
  }
  {
    std::unique_ptr<test::OdbcClient> accounting = client_of("accounting.mdb");
    accounting->Execute("UPDATE Version SET ReleaseDate = ? WHERE DBVersion = '3.3.0'",
                        {test::OdbcClient::Timestamp(2026, 11, 16, 0, 0, 0, 0)});
    accounting->Execute("UPDATE Version SET ReleaseDate = ? WHERE DBVersion = '3.2.0'",
                        {test::OdbcClient::Timestamp(2025, 6, 2, 0, 0, 0, 400000000)});
    EXPECT_EQ("2026-11-16 00:00:00.000000000",
              accounting->Query("SELECT ReleaseDate FROM Version WHERE DBVersion = '3.3.0'")
                  .rows[0][0]
                  .text);
    client_of("onlineshop.mdb")
        ->Execute("UPDATE Products SET Price = ? WHERE ID = 1",
                  {test::OdbcClient::Decimal("4.50")});
    client_of("users.mdb")
        ->Execute("UPDATE Services SET Price = ? WHERE ID = 3", {test::OdbcClient::Decimal("1.5")});
    client_of("config.mdb")
        ->Execute("UPDATE Stations SET Active = ? WHERE ID = 1", {test::OdbcClient::Bit(true)});
  }
  EXPECT_EQ("2026-11-16 00:00:00.000\n2025-06-02 00:00:00.400\n",
            QuerySql(installed_ + "accounting.mdb",
                     "SELECT ReleaseDate FROM Version ORDER BY DBVersion DESC"));

  RunUpdate();

  EXPECT_FALSE(context_.ErrorsDetected());
  EXPECT_EQ(ExpectedLines("second-update.log"), LogLines());
}

INSTANTIATE_TEST_SUITE_P(FormatVersions, ReleaseFormatsTest,
                         testing::Values(dao::kFormatVersion, dao::kFirstFormatVersion),
                         [](const testing::TestParamInfo<int>& info) {
                           return "Format" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace tabsync::engine
