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

TEST(LongValuesTest, TableOfManyPagesMatchesMdbExport) {
  test::TempDir dir;
  jet_writer::WriteJetTable(test::ImportData("testV2000.mdb"), dir.File("big.mdb"), 20000);
  test::CommandResult result = test::RunImport({dir.File("big.mdb"), dir.File("out.db")});
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_NE(std::string::npos, result.out.find("table 'Table1': 20002 records"));
  // mdb-export's CSV of the generated records, rebuilt from the output.
  std::string exported = test::RunCommand({MDB_EXPORT, "-H", "-D", "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S",
                                           dir.File("big.mdb"), "Table1"}).out;
  std::string rebuilt = test::QuerySql(
      dir.File("out.db"),
      "SELECT '\"' || A || '\",\"' || B || '\",' || C || ',' || D || ',' || E || ',' || "
      "CASE WHEN F = CAST(F AS INTEGER) THEN CAST(F AS INTEGER) ELSE F END || ',\"' || G || '\",' || "
      "printf('%.4f', H) || ',' || I FROM Table1 ORDER BY rowid");
  EXPECT_EQ(exported, rebuilt);
}

}  // namespace
}  // namespace tabsync
