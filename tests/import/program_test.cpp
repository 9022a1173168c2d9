// The built tabsync-import: what it prints, what it refuses, what it leaves.

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include <gtest/gtest.h>

#include "dbengine/dao.h"
#include "dbengine/sqlite_engine.h"
#include "import/run_command.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync {
namespace {

using test::CommandResult;
using test::ImportData;
using test::RunImport;

constexpr const char* kOdbcPassword = "DummyPassword";

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class ImportProgramTest : public ::testing::Test {
 protected:
  std::string Out(const std::string& name) const { return dir_.File(name); }
  test::TempDir dir_;
};

TEST_F(ImportProgramTest, LinkRowGetsTheMappedPathAndTheEngineReadsIt) {
  CommandResult result = RunImport({"--path-map", "z:\\JACKCESS_test\\=" + dir_.Path(), ImportData("linkerTestV2007.accdb"), Out("linker.db")});
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_EQ("", result.err);  // the path was mapped: no warning
  EXPECT_EQ("Table2|6|1073741824|;DATABASE=" + dir_.Path() + "linkeeTest.accdb|Table1\n",
            test::QuerySql(Out("linker.db"), "SELECT * FROM MSysObjects"));
  std::unique_ptr<dao::Database> database = dao::NewSqliteEngine()->OpenDatabase(Out("linker.db"));
  dao::TableDef& link = database->TableDefs().Item("Table2");
  EXPECT_EQ(";DATABASE=" + dir_.Path() + "linkeeTest.accdb", link.Connect());
  EXPECT_EQ("Table1", link.SourceTableName());
  EXPECT_EQ(dao::kTableAttached, link.Attributes());
}

TEST_F(ImportProgramTest, UnmappedWindowsPathIsKeptWithAWarning) {
  CommandResult result = RunImport({ImportData("linkerTestV2007.accdb"), Out("linker.db")});
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_EQ("tabsync-import: linkerTestV2007.accdb: warning: link 'Table2': no --path-map matches its file "
            "'Z:\\jackcess_test\\linkeeTest.accdb'\n", result.err);
  EXPECT_EQ(";DATABASE=Z:\\jackcess_test\\linkeeTest.accdb\n", test::QuerySql(Out("linker.db"), "SELECT Connect FROM MSysObjects"));
}

TEST_F(ImportProgramTest, OdbcLinkKeepsItsConnectTextAndShowsItNowhere) {
  CommandResult result = RunImport({ImportData("odbcLinkerTestV2007.accdb"), Out("odbc.db")});
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_NE(std::string::npos, result.out.find("ODBC link 'Ordrar' to 'dbo.Ordrar'"));
  EXPECT_EQ(std::string::npos, result.out.find(kOdbcPassword));
  EXPECT_EQ(std::string::npos, result.err.find(kOdbcPassword));
  // The connect text as mdbtools' own mdb-export reads it from the source.
  std::string source_row = test::RunCommand({MDB_EXPORT, "-H", ImportData("odbcLinkerTestV2007.accdb"), "MSysObjects"}).out;
  size_t dsn = source_row.find("DSN=Magnapinna;");
  ASSERT_NE(std::string::npos, dsn);
  std::string connect = source_row.substr(dsn, source_row.find('"', dsn) - dsn);
  EXPECT_NE(std::string::npos, connect.find(std::string("PWD=") + kOdbcPassword));
  EXPECT_EQ("Lokal|1|1|NULL|NULL\nOrdrar|4|537001984|ODBC;" + connect + "|dbo.Ordrar\n",
            test::QuerySql(Out("odbc.db"), "SELECT Name, Type, Attributes, Connect, ForeignName FROM MSysObjects ORDER BY Name"));
  // A failing import of the same file does not show it either.
  result = RunImport({ImportData("odbcLinkerTestV2007.accdb"), Out("odbc.db")});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(std::string::npos, (result.out + result.err).find(kOdbcPassword));
}

TEST_F(ImportProgramTest, WhatTheFormatCannotHoldIsRefusedByNameAndNothingIsWritten) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"complexDataTestV2007.accdb",
       {"table 'Table1', column 'VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880': a complex column",
        "table 'Table1', column 'multi-value-data': a complex column (attachments or multiple values), which the format cannot hold",
        "table 'Table1', column 'attach-data': a complex column"}},
      {"calcFieldTestV2010.accdb",
       {"table 'Table1', column 'LastFirst': a calculated column, which the format cannot hold",
        "table 'Table1', column 'BigNumTest': a calculated column"}},
      {"fixedNumericTestV2003.mdb", {"table 'test', column 'col2': a Decimal column of 18 digits"}},
  };
  for (const auto& [file, refusals] : cases) {
    CommandResult result = RunImport({ImportData(file), Out("out.db")});
    EXPECT_EQ(1, result.status) << file;
    for (const std::string& refusal : refusals)
      EXPECT_NE(std::string::npos, result.err.find(std::string("tabsync-import: ") + file + ": error 4001: " + refusal))
          << result.err;
    EXPECT_FALSE(Exists(Out("out.db"))) << file;
    EXPECT_EQ(std::set<std::string>{}, test::NamesIn(dir_.Path())) << file;  // no temporary file left
  }
}

TEST_F(ImportProgramTest, SkipUnsupportedLeavesTheColumnsOutWithAWarningEach) {
  CommandResult result = RunImport({"--skip-unsupported", ImportData("complexDataTestV2007.accdb"), Out("complex.db")});
  ASSERT_EQ(0, result.status) << result.err;
  size_t warnings = 0;
  for (size_t at = 0; (at = result.err.find("warning: table 'Table1', column '", at)) != std::string::npos; ++at) ++warnings;
  EXPECT_EQ(3u, warnings) << result.err;
  EXPECT_NE(std::string::npos, result.err.find("column 'attach-data': a complex column (attachments or multiple "
                                               "values), which the format cannot hold; the column is left out\n"));
  EXPECT_EQ("id|memo-data|append-memo-data\n",
            test::QuerySql(Out("complex.db"), "SELECT group_concat(name, '|') FROM pragma_table_info('Table1')"));
}

// A Jet 3 file whose text "abcdefg" holds the byte 0x81, which code page
// 1252 leaves undefined: libmdb writes "?" for it.
std::string UndecodableCopy(const std::string& path) {
  std::string bytes = test::ReadFileBytes(ImportData("testV1997.mdb"));
  size_t at = bytes.find("abcdefg");
  EXPECT_NE(std::string::npos, at);
  bytes[at + 2] = '\x81';
  WriteBytes(path, bytes);
  return path;
}

TEST_F(ImportProgramTest, UndecodableTextIsRefusedByTableAndColumn) {
  std::string source = UndecodableCopy(Out("undecodable.mdb"));
  CommandResult result = RunImport({source, Out("out.db")});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("tabsync-import: undecodable.mdb: error 4001: table 'Table1', column 'A': text that libmdb "
            "cannot decode, which the format cannot hold\n", result.err);
  EXPECT_FALSE(Exists(Out("out.db")));

  result = RunImport({"--skip-unsupported", source, Out("out.db")});
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_NE(std::string::npos, result.err.find("column 'A': text that libmdb cannot decode, which the format "
                                               "cannot hold; the column is left out\n"));
  EXPECT_EQ("b\nhijklmnop\n", test::QuerySql(Out("out.db"), "SELECT B FROM Table1 ORDER BY rowid"));
}

TEST_F(ImportProgramTest, TruncatedFileGivesAClearErrorWithinTheTimeLimit) {
  std::string bytes = test::ReadFileBytes(ImportData("testV2000.mdb"));
  for (size_t size : {size_t{4096}, size_t{40960}, bytes.size() / 3}) {
    WriteBytes(Out("truncated.mdb"), bytes.substr(0, size));
    auto start = std::chrono::steady_clock::now();
    CommandResult result = RunImport({Out("truncated.mdb"), Out("out.db")});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(1, result.status) << size;
    EXPECT_NE(std::string::npos, result.err.find("tabsync-import: truncated.mdb: error 4003: reading the file failed: "))
        << size << ": " << result.err;
    EXPECT_FALSE(Exists(Out("out.db")));
  }
}

TEST_F(ImportProgramTest, NonDatabaseFileIsRefused) {
  WriteBytes(Out("notes.mdb"), "These are notes, not a database.\n");
  CommandResult result = RunImport({Out("notes.mdb"), Out("out.db")});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("tabsync-import: notes.mdb: error 3343: " + Out("notes.mdb") + ": not a Jet or ACE database file\n",
            result.err);
  EXPECT_FALSE(Exists(Out("out.db")));
}

TEST_F(ImportProgramTest, ExistingOutputIsReplacedOnlyWithForce) {
  WriteBytes(Out("out.db"), "precious");
  CommandResult result = RunImport({ImportData("testV1997.mdb"), Out("out.db")});
  EXPECT_EQ(1, result.status);
  EXPECT_NE(std::string::npos, result.err.find("error 3204: "));
  EXPECT_EQ("precious", test::ReadFileBytes(Out("out.db")));

  result = RunImport({"--force", ImportData("testV1997.mdb"), Out("out.db")});
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ("2\n", test::QuerySql(Out("out.db"), "SELECT count(*) FROM Table1"));
  EXPECT_EQ("1415672403\n", test::QuerySql(Out("out.db"), "PRAGMA application_id"));
}

TEST_F(ImportProgramTest, FolderConvertsEveryDatabaseFileUnderItsName) {
  mkdir(Out("in").c_str(), 0755);
  WriteBytes(Out("in/config.MDB"), test::ReadFileBytes(ImportData("testV2000.mdb")));
  WriteBytes(Out("in/links.accdb"), test::ReadFileBytes(ImportData("linkerTestV2007.accdb")));
  WriteBytes(Out("in/calc.accdb"), test::ReadFileBytes(ImportData("calcFieldTestV2010.accdb")));
  WriteBytes(Out("in/readme.txt"), "not converted");
  CommandResult result = RunImport({"--folder", "--path-map", "Z:\\jackcess_test\\=" + Out("out/"), Out("in"), Out("out")});
  EXPECT_EQ(1, result.status);  // calc.accdb is refused
  EXPECT_EQ((std::set<std::string>{"config.MDB", "links.accdb"}), test::NamesIn(Out("out")));
  EXPECT_NE(std::string::npos, result.out.find("converted 2 of 3 files\n"));
  EXPECT_NE(std::string::npos, result.err.find("tabsync-import: calc.accdb: error 4001: "));
  EXPECT_EQ(";DATABASE=" + Out("out/linkeeTest.accdb") + "\n",
            test::QuerySql(Out("out/links.accdb"), "SELECT Connect FROM MSysObjects"));
}

TEST_F(ImportProgramTest, HelpVersionAndWrongArguments) {
  CommandResult result = RunImport({"--version"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(std::string("tabsync-import ") + TABSYNC_VERSION + "\n", result.out);
  result = RunImport({"--help"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(0u, result.out.find("Usage: tabsync-import"));
  result = RunImport({"only-one.mdb"});
  EXPECT_EQ(2, result.status);
  EXPECT_EQ(0u, result.err.find("tabsync-import: give a source file and an output file\nUsage:"));
}

}  // namespace
}  // namespace tabsync
