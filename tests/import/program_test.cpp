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
  EXPECT_EQ("tabsync-import: undecodable.mdb: error 4001: table 'Table1', column 'A': text that cannot be "
            "decoded, which the format cannot hold\n", result.err);
  EXPECT_EQ(std::set<std::string>{"undecodable.mdb"}, test::NamesIn(dir_.Path()));  // no temporary file left

  result = RunImport({"--skip-unsupported", source, Out("out.db")});
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_NE(std::string::npos, result.err.find("column 'A': text that cannot be decoded, which the format "
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
  UndecodableCopy(Out("in/refused.mdb"));
  WriteBytes(Out("in/corrupted.accdb"), test::ReadFileBytes(ImportData("corrupted.accdb")));
  WriteBytes(Out("in/readme.txt"), "not converted");
  CommandResult result = RunImport({"--folder", "--path-map", "Z:\\jackcess_test\\=" + Out("out/"), Out("in"), Out("out")});
  EXPECT_EQ(1, result.status);  // refused.mdb holds undecodable text
  EXPECT_EQ((std::set<std::string>{"config.MDB", "corrupted.accdb", "links.accdb"}), test::NamesIn(Out("out")));
  EXPECT_NE(std::string::npos, result.out.find("converted 3 of 4 files, 2 warnings\n"));
  EXPECT_NE(std::string::npos, result.err.find("tabsync-import: refused.mdb: error 4001: "));
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

// A copy of odbcLinkerTestV2007 whose user object "Admin", which comes
// before the table "Lokal" in the catalogue, is named "Lokal" too.
std::string SameNameCopy(const std::string& path) {
  std::string bytes = test::ReadFileBytes(ImportData("odbcLinkerTestV2007.accdb"));
  std::string admin("A\0d\0m\0i\0n\0", 10);
  size_t at = bytes.find(admin);
  EXPECT_NE(std::string::npos, at);
  bytes.replace(at, admin.size(), std::string("L\0o\0k\0a\0l\0", 10));
  WriteBytes(path, bytes);
  return path;
}

// Files that failed on faults of the importer convert, with exactly these
// warnings.
TEST_F(ImportProgramTest, RealFilesConvertWithTheirWarnings) {
  struct Case {
    std::vector<std::string> arguments;
    const char* note;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {{ImportData("aliasNaming.accdb")}, "table 'categories abc': 0 records", {}},  // deleted row slots
      {{ImportData("testAccess2.accdb")}, "table 'Table1': 2 records", {}},          // indexes libmdb reads empty
      {{ImportData("empty2019.accdb")}, "", {}},                                      // ACE 17
      {{SameNameCopy(Out("samename.accdb"))}, "table 'Lokal': 1 records", {}},
      {{"--password", "password", ImportData("V2000_with-password.mdb")}, "table 'Table1': 3 records", {}},
      {{ImportData("corrupted.accdb")},
       "table 'UK': 2 records",
       {"table 'NotNull', column 'notnull': Required, but 1 record holds no value; declared without NOT NULL",
        "table 'UK': the unique index 'uk' (uk) does not hold: 2 records share their values with other records; "
        "it is written as a plain index"}},
      {{ImportData("complexDataTestV2007.accdb")},
       "table 'Table1_attach-data': 3 records",
       {"table 'Table1', column 'VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880': the version history of column "
        "'append-memo-data' is not kept; that column holds its current value"}},
      {{ImportData("calculatedField.accdb")},
       "table 'products': 2 records",
       {"table 'clcdFlds', column 'clcd1': a calculated column: its values are kept, its expression 'Left([input],3)' is not",
        "table 'clcdFlds', column 'clcd2': a calculated column: its values are kept, its expression 'Left$([input],3)' is not",
        "table 'clcdFlds', column 'clcd3': a calculated column: its values are kept, its expression 'Right([input],3)' is not",
        "table 'clcdFlds', column 'clcd4': a calculated column: its values are kept, its expression 'Right$([input],3)' is not",
        "table 'products', column '%markup': a calculated column: its values are kept, its expression "
        "'([retail]/[wholesale]-1)*100' is not"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back(Out("out.db"));
    CommandResult result = RunImport(arguments);
    std::string shown = c.arguments.back().substr(c.arguments.back().rfind('/') + 1);
    EXPECT_EQ(0, result.status) << shown << ": " << result.err;
    EXPECT_NE(std::string::npos, result.out.find(c.note)) << shown << ": " << result.out;
    std::string warnings;
    for (const std::string& warning : c.warnings) warnings += "tabsync-import: " + shown + ": warning: " + warning + "\n";
    EXPECT_EQ(warnings, result.err) << shown;
    unlink(Out("out.db").c_str());
  }
}

TEST_F(ImportProgramTest, ComplexColumnsBecomeTablesOfTheirOwn) {
  ASSERT_EQ(0, RunImport({ImportData("complexDataTestV2007.accdb"), Out("complex.db")}).status);
  EXPECT_EQ("id|memo-data|append-memo-data\n",
            test::QuerySql(Out("complex.db"), "SELECT group_concat(name, '|') FROM pragma_table_info('Table1')"));
  EXPECT_EQ("ID|INTEGER COUNTER|1\nTable1_id|VARCHAR TEXT(255)|0\nFileName|VARCHAR TEXT(255)|0\n"
            "FileType|VARCHAR TEXT(255)|0\nFileData|LONGVARBINARY LONGBINARY|0\n",
            test::QuerySql(Out("complex.db"), "SELECT name, type, pk FROM pragma_table_info('Table1_attach-data')"));
  EXPECT_EQ("1|row2|test_data.txt|txt|this is some test data for attachment.\n"
            "2|row2|test_data2.txt|txt|this is some more test data for attachment.\n"
            "3|row4|test_data2.txt|txt|this is some more test data for attachment.\n",
            test::QuerySql(Out("complex.db"), "SELECT ID, Table1_id, FileName, FileType, CAST(FileData AS TEXT) "
                                              "FROM \"Table1_attach-data\""));
  EXPECT_EQ("1|row2|value1\n2|row2|value4\n3|row3|value1\n4|row3|value2\n5|row3|value3\n6|row3|value4\n",
            test::QuerySql(Out("complex.db"), "SELECT * FROM \"Table1_multi-value-data\""));
  EXPECT_EQ("Table1_attach-data_ParentKey|Table1_id\n",
            test::QuerySql(Out("complex.db"), "SELECT il.name, ii.name FROM pragma_index_list('Table1_attach-data') il, "
                                              "pragma_index_info(il.name) ii WHERE il.origin = 'c'"));

  // The column was renamed from Field1: the values are found by its number.
  ASSERT_EQ(0, RunImport({ImportData("attachments.accdb"), Out("attachments.db")}).status);
  EXPECT_EQ("5|2|attachment1.txt|txt|Attachment 1\n6|3|attachment1.txt|txt|Attachment 1\n"
            "7|3|attachment2.txt|txt|Attachment 2\n8|3|attachment3.txt|txt|Attachment 3\n",
            test::QuerySql(Out("attachments.db"), "SELECT ID, Table1_ID, FileName, FileType, CAST(FileData AS TEXT) "
                                                  "FROM Table1_Attachments"));
}

// The values of calculated columns as stored (after their 20-byte prefix),
// of their result type whatever the column's own type says; a Decimal's
// values each of their own scale, the column of the precision and scale
// that holds them all.
TEST_F(ImportProgramTest, CalculatedColumnsKeepTheirStoredValues) {
  ASSERT_EQ(0, RunImport({ImportData("calcFieldTestV2010.accdb"), Out("calc.db")}).status);
  EXPECT_EQ("1|Wayne, Bruce|12|83333.3333|1|Wayne, Bruce=Wayne, Bruce|1000000|1|2583.20922851562\n"
            "2|Simpson, Bart|13|-0.0833|0|Simpson, Bart=Simpson, Bart|-1|1|0.00358895934186876\n"
            "3|Doe, John|9|0|0|Doe, John=Doe, John|0|1|0\n"
            "4|User, Test|10|8.3333|0|User, Test=User, Test|100|1|1.27412996819842e-10\n",
            test::QuerySql(Out("calc.db"), "SELECT ID, LastFirst, LastFirstLen, MonthlySalary, IsRich, AllNames, "
                                           "SalaryTest, BoolTest, FloatTest FROM Table1"));
  EXPECT_EQ("1|19230.7692307692000000|50.325000|56505085819.4247912965722801800000000000\n"
            "2|-0.0192307692307692|-36.222200|-0.0784734499180612994241100748\n"
            "3|0.0000000000000000|0.012300|0.0000000000000000000000000000\n"
            "4|1.9230769230769200|102030405060.654321|0.0000002787019289824216980830\n",
            test::QuerySql(Out("calc.db"), "SELECT ID, WeeklySalary, DecimalTest, BigNumTest FROM Table1"));
  EXPECT_EQ("VARCHAR DECIMAL(21,16)|VARCHAR DECIMAL(18,6)|VARCHAR DECIMAL(39,28)\n",
            test::QuerySql(Out("calc.db"), "SELECT group_concat(type, '|') FROM pragma_table_info('Table1') "
                                           "WHERE name IN ('WeeklySalary', 'DecimalTest', 'BigNumTest')"));
  ASSERT_EQ(0, RunImport({ImportData("calculatedField.accdb"), Out("field.db")}).status);
  EXPECT_EQ("1|50.0\n2|10.000000000000009\n",
            test::QuerySql(Out("field.db"), "SELECT id, printf('%!.17g', \"%markup\") FROM products"));
}

TEST_F(ImportProgramTest, DatabasePasswordIsCheckedAndNeverShown) {
  const char* kWrong = "Geheim-42";
  WriteBytes(Out("right"), "password\n");
  WriteBytes(Out("wrong"), std::string(kWrong) + "\r\n");
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "the file is password-protected: give its password with --password or --password-file"},
      {{"--password", kWrong}, "the password given is not the file's password"},
      {{"--password-file", Out("wrong")}, "the password given is not the file's password"},
      {{"--password-file", Out("right")}, nullptr},
  };
  for (const auto& [options, error] : cases) {
    std::vector<std::string> arguments = options;
    arguments.push_back(ImportData("V2000_with-password.mdb"));
    arguments.push_back(Out("out.db"));
    CommandResult result = RunImport(arguments);
    EXPECT_EQ(error ? 1 : 0, result.status) << result.err;
    if (error) {
      EXPECT_NE(std::string::npos, result.err.find(std::string("error 4002: ") + ImportData("V2000_with-password.mdb") +
                                                   ": " + error)) << result.err;
    }
    EXPECT_EQ(std::string::npos, (result.out + result.err).find(kWrong));
  }
  EXPECT_EQ("1|One\n2|Two\n3|Three\n", test::QuerySql(Out("out.db"), "SELECT * FROM Table1"));
  EXPECT_EQ(2, RunImport({"--password-file", Out("missing"), ImportData("V2000_with-password.mdb"), Out("x.db")}).status);
}

}  // namespace
}  // namespace tabsync
