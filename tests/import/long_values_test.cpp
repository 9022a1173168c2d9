// Values larger than libmdb's own bind buffer (16 KiB), and a table of many
// pages, in Jet 4 files that tools/jet-writer derives from the real ones.

#include <gtest/gtest.h>

#include "import/run_command.h"
#include "jet-writer/jet_writer.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync {
namespace {

TEST(LongValuesTest, MemoOfManyPagesArrivesWhole) {
  test::TempDir dir;
  std::string text;
  for (int i = 0; text.size() < 300000; ++i) text += "line " + std::to_string(i) + " of a long memo; ";
  jet_writer::WriteLongMemo(test::ImportData("fixedNumericTestV2003.mdb"), dir.File("memo.mdb"), "test", "col1", text);
  // The Decimal columns of that table are left out; col1 is the Memo.
  test::CommandResult result = test::RunImport({"--skip-unsupported", dir.File("memo.mdb"), dir.File("out.db")});
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_EQ(std::to_string(text.size()) + "\n", test::QuerySql(dir.File("out.db"), "SELECT length(col1) FROM test"));
  EXPECT_EQ(text + "\n", test::QuerySql(dir.File("out.db"), "SELECT col1 FROM test"));
}

// Generated tables of many pages, each against mdb-export's CSV rebuilt from
// the output: Table1's values of eight types, and a Memo kept in the record
// beside Decimals of up to 18 digits, whose text must be exact.
TEST(LongValuesTest, TablesOfManyPagesMatchMdbExport) {
  struct Case {
    const char* file;
    const char* table;
    int records;
    const char* summary;  // the template's records and the generated ones
    const char* rebuild;
  } cases[] = {
      {"testV2000.mdb", "Table1", 20000, "table 'Table1': 20002 records",
       "SELECT '\"' || A || '\",\"' || B || '\",' || C || ',' || D || ',' || E || ',' || "
       "CASE WHEN F = CAST(F AS INTEGER) THEN CAST(F AS INTEGER) ELSE F END || ',\"' || G || '\",' || "
       "printf('%.4f', H) || ',' || I FROM Table1 ORDER BY rowid"},
      {"fixedNumericTestV2003.mdb", "test", 3000, "table 'test': 3001 records",
       "SELECT '\"' || col1 || '\",' || col2 || ',' || col3 || ',' || col4 || ',' || col5 || ',' || col6 || ',' || "
       "col7 FROM test ORDER BY rowid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    test::TempDir dir;
    jet_writer::WriteJetTable(test::ImportData(c.file), dir.File("big.mdb"), c.table, c.records);
    test::CommandResult result = test::RunImport({dir.File("big.mdb"), dir.File("out.db")});
    ASSERT_EQ(0, result.status) << result.err;
    EXPECT_NE(std::string::npos, result.out.find(c.summary));
    std::string exported = test::RunCommand({MDB_EXPORT, "-H", "-D", "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S",
                                             dir.File("big.mdb"), c.table}).out;
    EXPECT_EQ(exported, test::QuerySql(dir.File("out.db"), c.rebuild));
  }
}

}  // namespace
}  // namespace tabsync
