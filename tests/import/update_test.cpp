// tabsync runs an update on a site whose databases hold imported tables: the
// tables of real Jet and ACE files, converted by tabsync-import, in the
// installed config.mdb, whose whole content the update merges into the
// release's.

#include <sys/stat.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "dbengine/sqlite_engine.h"
#include "engine/catalogue.h"
#include "import/run_command.h"
#include "make-release/release_maker.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync {
namespace {

std::string SortedLines(std::string text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  std::sort(lines.begin(), lines.end());
  std::string joined;
  for (const std::string& line : lines) joined += line + "\n";
  return joined;
}

class ImportedSiteTest : public ::testing::Test {
 protected:
  ImportedSiteTest() {
    for (const char* folder : {"etc", "odbc", "target", "target/DB", "shared", "shared/Infrastructure",
                               "shared/Infrastructure/DB", "imported"})
      mkdir(dir_.File(folder).c_str(), 0755);
    std::string ini = "# data sources of the test\n";
    for (const engine::CatalogueEntry& database : engine::DatabaseCatalogue)
      ini += std::string("[") + database.data_source_name + "]\nDriver=SQLite3\nDBQ=" + Installed() +
             database.file_name + "\n\n";
    Write(dir_.File("odbc/odbc.ini"), ini);
    Write(dir_.File("etc/share.ini"), "[Share]\nSharedFilesLocation=" + dir_.File("shared") + "\n");
    std::unique_ptr<dao::DatabaseEngine> engine = dao::NewSqliteEngine();
    release::MakeRelease(*engine, Installed(), dir_.File("target/DB"), 3);
  }

  std::string Installed() const { return dir_.File("shared/Infrastructure/DB/"); }

  static void Write(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
  }

  // Imports `file` and copies its tables, with their exact CREATE
  // statements, indexes and records, into the installed config.mdb.
  std::vector<std::string> AddImportedTables(const std::string& file) {
    std::string imported = dir_.File("imported/" + file + ".db");
    test::CommandResult result = test::RunImport({"--skip-unsupported", test::ImportData(file), imported});
    EXPECT_EQ(0, result.status) << result.err;
    std::string tables = test::QuerySql(
        imported, "SELECT name FROM sqlite_schema WHERE type = 'table' AND name <> 'MSysObjects' ORDER BY name");
    std::string sql = "ATTACH '" + imported + "' AS imported;";
    std::vector<std::string> names;
    for (size_t start = 0, end; (end = tables.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string name = tables.substr(start, end - start);
      names.push_back(name);
      sql += test::QuerySql(imported, "SELECT sql FROM sqlite_schema WHERE tbl_name = '" + name + "' AND type = 'table'") + ";";
      sql += "INSERT INTO main.\"" + name + "\" SELECT * FROM imported.\"" + name + "\";";
      std::string indexes = test::QuerySql(imported, "SELECT sql FROM sqlite_schema WHERE tbl_name = '" + name +
                                                         "' AND type = 'index' AND sql IS NOT NULL");
      std::replace(indexes.begin(), indexes.end(), '\n', ';');
      sql += indexes;
    }
    test::ExecSql(Installed() + "config.mdb", sql);
    imported_.push_back(imported);
    return names;
  }

  test::TempDir dir_;
  std::vector<std::string> imported_;
};

TEST_F(ImportedSiteTest, UpdateRunsWithoutErrorsAndKeepsTheImportedTables) {
  std::vector<std::pair<std::string, std::string>> tables;  // table, imported file
  // The update finds a record by its key column, "ID" in these tables.
  for (const char* file : {"testUnicodeCompV2003.mdb", "odbcLinkerTestV2007.accdb", "calcFieldTestV2010.accdb"})
    for (const std::string& table : AddImportedTables(file)) tables.push_back({table, imported_.back()});

  test::CommandSetting setting;
  setting.folder = dir_.File("target");
  setting.environment = {"TABSYNC_SYSCONFDIR=" + dir_.File("etc"), "ODBCSYSINI=" + dir_.File("odbc"),
                         "PATH=/usr/bin:/bin"};
  setting.input = "y\n";
  test::CommandResult result = test::RunCommand({TABSYNC_PROGRAM, "DB"}, setting);
  EXPECT_EQ(0, result.status) << result.out << result.err;
  std::string log = test::ReadFileBytes(Installed() + "Stabmerge.log");
  EXPECT_NE(std::string::npos, log.find(" ## END UPDATING\r\n"));
  EXPECT_EQ(std::string::npos, log.find("ERROR")) << log;

  std::string config = Installed() + "config.mdb";
  EXPECT_EQ("3.3.0\n", test::QuerySql(config, "SELECT max(DBVersion) FROM Version"));  // the update happened
  for (const auto& [table, imported] : tables) {
    std::string columns = "SELECT name, type FROM pragma_table_info('" + table + "')";
    EXPECT_EQ(test::QuerySql(imported, columns), test::QuerySql(config, columns)) << table;
    std::string records = "SELECT * FROM \"" + table + "\"";
    EXPECT_EQ(SortedLines(test::QuerySql(imported, records)), SortedLines(test::QuerySql(config, records))) << table;
  }
  EXPECT_EQ("8\n", test::QuerySql(config, "SELECT count(*) FROM \"Table\""));
  EXPECT_EQ("1|0|0\n", test::QuerySql(config, "SELECT ID, BackEnd, Staging FROM Lokal"));
}

}  // namespace
}  // namespace tabsync
