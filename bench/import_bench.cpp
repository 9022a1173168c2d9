// Times tabsync-import beside mdb-export, mdbtools' own converter to CSV,
// on the same files in the same run: the 3 MB Jet 4 file of the tests
// (testV2000.mdb, four tables), copies of it whose Table1 holds 10,000 and
// 100,000 generated records, and a copy of fixedNumericTestV2003.mdb whose
// table of a Memo and six Decimal(18,0) columns holds 30,000 generated
// records (about 11 MB; Memo values of 60 to 171 characters, Decimals of up
// to 18 digits), all written by tools/jet-writer.
//
// Both sides run as whole processes, started here: `tabsync-import SOURCE
// OUTPUT` (the output deleted before each run), and `mdb-export SOURCE TABLE
// > TABLE.csv` for each of the file's tables, one process per table as the
// tool exports one table at a time. Each side's time is the wall-clock time
// from the start of its first process to the end of its last; its memory is
// the largest peak resident size of its processes (wait4, which for the
// import includes its libmdb reader child). Five runs of each, interleaved,
// so that both read the file from the page cache; the table shows medians.
// The same figures come from `/usr/bin/time -v` around the same commands.
//
// Goals: the import within 2x mdb-export's time, and its peak memory
// independent of the table's size (the same at 10,000 and 100,000 records).
//
// Run: import_bench (about 30 s)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "figures.h"
#include "jet-writer/jet_writer.h"
#include "temp_folder.h"

namespace {

using tabsync::bench::Format;
using tabsync::bench::TempFolder;
using tabsync::bench::WithThousands;

constexpr int kRuns = 5;

struct Measure {
  double seconds = 0;
  double peak_mb = 0;
};

// Runs the command to its end, its standard output into `out` (or
// /dev/null); gives its peak memory in MB. Exits the benchmark when the
// command fails.
double Run(const std::vector<std::string>& argv, const std::string& out) {
  pid_t child = fork();
  if (child == 0) {
    int fd = open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "import_bench: %s failed\n", argv[0].c_str());
    std::exit(1);
  }
  return static_cast<double>(usage.ru_maxrss) / 1024;
}

template <typename Body>
Measure Timed(Body body) {
  auto start = std::chrono::steady_clock::now();
  double peak = body();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), peak};
}

Measure Import(const std::string& source, const std::string& output) {
  unlink(output.c_str());
  return Timed([&] { return Run({TABSYNC_IMPORT_PROGRAM, source, output}, ""); });
}

using Tables = std::vector<std::string>;

Measure Export(const std::string& source, const Tables& tables, const TempFolder& folder) {
  return Timed([&] {
    double peak = 0;
    for (const std::string& table : tables)
      peak = std::max(peak, Run({MDB_EXPORT, source, table}, folder.File(table + ".csv")));
    return peak;
  });
}

double FileMegabytes(const std::string& path) {
  return static_cast<double>(std::filesystem::file_size(path)) / (1024 * 1024);
}

Measure Median(std::vector<Measure> runs) {
  auto middle = [&](auto key) {
    std::vector<double> values;
    for (const Measure& run : runs) values.push_back(key(run));
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  return {middle([](const Measure& m) { return m.seconds; }), middle([](const Measure& m) { return m.peak_mb; })};
}

struct Row {
  std::string input;
  Measure import;
  Measure export_;
};

Row Compare(const std::string& input, const std::string& source, const Tables& tables, const TempFolder& folder) {
  std::vector<Measure> imports, exports;
  for (int run = 0; run < kRuns; ++run) {
    imports.push_back(Import(source, folder.File("out.db")));
    exports.push_back(Export(source, tables, folder));
  }
  return {input, Median(imports), Median(exports)};
}

}  // namespace

int main() {
  TempFolder folder("import_bench");
  std::string jet4 = std::string(TABSYNC_IMPORT_DATA) + "testV2000.mdb";
  Tables jet4_tables = {"Table1", "Table2", "Table3", "Table4"};
  std::vector<Row> rows;
  rows.push_back(Compare("testV2000.mdb (3 MB, 2 records)", jet4, jet4_tables, folder));
  for (int records : {10'000, 100'000}) {
    std::string generated = folder.File("generated-" + std::to_string(records) + ".mdb");
    tabsync::jet_writer::WriteJetTable(jet4, generated, "Table1", records);
    rows.push_back(Compare("generated, " + WithThousands(records) + " records", generated, jet4_tables, folder));
  }
  std::string decimal_memo = folder.File("decimal-memo.mdb");
  tabsync::jet_writer::WriteJetTable(std::string(TABSYNC_IMPORT_DATA) + "fixedNumericTestV2003.mdb", decimal_memo,
                                     "test", 30'000);
  rows.push_back(Compare("Decimal+Memo, 30,000 records, " + Format("%.0f", FileMegabytes(decimal_memo)) + " MB",
                         decimal_memo, {"test"}, folder));

  std::printf("\n%-36s %10s %12s %7s %14s %18s\n", "input (medians of 5)", "import s", "mdb-export s",
              "ratio", "import peak MB", "mdb-export peak MB");
  for (const Row& row : rows)
    std::printf("%-36s %10s %12s %7s %14s %18s\n", row.input.c_str(), Format("%.3f", row.import.seconds).c_str(),
                Format("%.3f", row.export_.seconds).c_str(),
                Format("%.2f", row.import.seconds / row.export_.seconds).c_str(),
                Format("%.1f", row.import.peak_mb).c_str(), Format("%.1f", row.export_.peak_mb).c_str());
  std::printf("\ngoal: ratio at most 2.00; import peak memory independent of the table size\n");
  std::printf("import peak memory, 100,000 records / 10,000 records: %s\n",
              Format("%.2f", rows[2].import.peak_mb / rows[1].import.peak_mb).c_str());
  return 0;
}
