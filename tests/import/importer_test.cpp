// The importer on streams that no sample file holds, from readers that
// write them: what only the records show changes the schema.

#include "import/importer.h"

#include <gtest/gtest.h>

#include "import/run_command.h"
#include "support/raised_error.h"
#include "support/sqlite_files.h"
#include "support/temp_dir.h"

namespace tabsync::import {
namespace {

class Lines : public ImportReport {
 public:
  void Note(const std::string& line) override { notes += line + "\n"; }
  void Warning(const std::string& line) override { warnings += line + "\n"; }
  void Progress(const std::string&, int64_t) override {}
  std::string notes, warnings;
};

SourceColumn Long(const char* name) { return {name, jet::kLong, 4, 0, 0, false, false, false, "", ComplexKind::kNone, ""}; }

SourceValue Number(int64_t value) { return {ValueKind::kInteger, value, 0, ""}; }

// Converts what `write` sends (the source file only passes the header check).
ImportSummary Convert(const std::function<void(StreamWriter&)>& write, const std::string& output, Lines* lines) {
  ImportOptions options;
  options.reader = [&](const std::string&, StreamWriter& out) {
    write(out);
    out.Done();
  };
  return ImportFile(test::ImportData("testV1997.mdb"), output, options, *lines);
}

void Rows(StreamWriter& out, int table, const std::vector<std::vector<SourceValue>>& rows) {
  out.BeginRows(table);
  for (const std::vector<SourceValue>& row : rows) out.Row(row);
  out.EndRows();
}

TEST(ImporterTest, RepeatedKeysAndIndexesWithoutColumnsAreWrittenWithWarnings) {
  test::TempDir dir;
  Lines lines;
  ImportSummary summary = Convert([](StreamWriter& out) {
    out.Table({"Orders", 0, {Long("ID"), Long("Line")}, {{"PrimaryKey", true, false, true, {0}}, {"Empty", false, false, false, {}}}});
    Rows(out, 0, {{Number(1), Number(1)}, {Number(1), Number(2)}, {Number(2), Number(1)}});
  }, dir.File("out.db"), &lines);
  EXPECT_EQ("table 'Orders': 3 records\n", lines.notes);
  EXPECT_EQ("table 'Orders': index 'Empty' left out: it has no columns\n"
            "table 'Orders': the unique index 'PrimaryKey' (ID) does not hold: 2 records share their values with other "
            "records; it is written as a plain index\n",
            lines.warnings);
  EXPECT_EQ(2, summary.warnings);
  EXPECT_EQ("Orders_PrimaryKey|0|ID\n",
            test::QuerySql(dir.File("out.db"), "SELECT il.name, il.\"unique\", ii.name FROM pragma_index_list('Orders') il, "
                                               "pragma_index_info(il.name) ii"));
  EXPECT_EQ("3\n", test::QuerySql(dir.File("out.db"), "SELECT count(*) FROM Orders"));
}

TEST(ImporterTest, SqlErrorsNameTheTable) {
  test::TempDir dir;
  Lines lines;
  std::string error = test::ExpectError(3000, [&] {
    Convert([](StreamWriter& out) { out.Table({"Twice", 0, {Long("A"), Long("a")}, {}}); }, dir.File("out.db"), &lines);
  });
  EXPECT_EQ(0u, error.find("table 'Twice': ")) << error;
  EXPECT_EQ(std::set<std::string>{}, test::NamesIn(dir.Path()));
}

}  // namespace
}  // namespace tabsync::import
