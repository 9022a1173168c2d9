// Times tabsync-import beside mdb-export, mdbtools' own converter to CSV,
// on the same files in the same run: the 3 MB Jet 4 file of the tests
// (testV2000.mdb, four tables) and copies of it whose Table1 holds 10,000 and
// 100,000 generated records (tools/jet-writer).
//
// Both sides run as whole processes, started here: `tabsync-import SOURCE
// OUTPUT` (the output deleted before each run), and `mdb-export SOURCE TABLE
// > TABLE.csv` for each of the file's tables, one process per table as the
// tool exports one table at a time. Each side's time is the wall-clock time
// from the start of its first process to the end of its last; its memory is
// the largest peak resident size of its processes (wait4, which for the
// import includes its libmdb reader child). Five runs of each, interleaved;
// the table shows medians. The same figures come from `/usr/bin/time -v`
// around the same commands.
//
// Goals: the import within 2x mdb-export's time, and its peak memory
// independent of the table's size (the same at 10,000 and 100,000 records).
//
// Run: import_bench (about 20 s)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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
const char* const kTables[] = {"Table1", "Table2", "Table3", "Table4"};

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

Measure Export(const std::string& source, const TempFolder& folder) {
  return Timed([&] {
    double peak = 0;
    for (const char* table : kTables)
      peak = std::max(peak, Run({MDB_EXPORT, source, table}, folder.File(std::string(table) + ".csv")));
    return peak;
  });
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

Row Compare(const std::string& input, const std::string& source, const TempFolder& folder) {
  std::vector<Measure> imports, exports;
  for (int run = 0; run < kRuns; ++run) {
    imports.push_back(Import(source, folder.File("out.db")));
    exports.push_back(Export(source, folder));
  }
  return {input, Median(imports), Median(exports)};
}

}  // namespace

int main() {
  TempFolder folder("import_bench");
  std::string jet4 = std::string(TABSYNC_IMPORT_DATA) + "testV2000.mdb";
  std::vector<Row> rows;
  rows.push_back(Compare("testV2000.mdb (3 MB, 2 records)", jet4, folder));
  for (int records : {10'000, 100'000}) {
    std::string generated = folder.File("generated-" + std::to_string(records) + ".mdb");
    tabsync::jet_writer::WriteJetTable(jet4, generated, "Table1", records);
    rows.push_back(Compare("generated, " + WithThousands(records) + " records", generated, folder));
  }

  std::printf("\n%-34s %10s %12s %7s %14s %18s\n", "input (medians of 5)", "import s", "mdb-export s",
              "ratio", "import peak MB", "mdb-export peak MB");
  for (const Row& row : rows)
    std::printf("%-34s %10s %12s %7s %14s %18s\n", row.input.c_str(), Format("%.3f", row.import.seconds).c_str(),
                Format("%.3f", row.export_.seconds).c_str(),
                Format("%.2f", row.import.seconds / row.export_.seconds).c_str(),
                Format("%.1f", row.import.peak_mb).c_str(), Format("%.1f", row.export_.peak_mb).c_str());
  std::printf("\ngoal: ratio at most 2.00; import peak memory independent of the table size\n");
  std::printf("import peak memory, 100,000 records / 10,000 records: %s\n",
              Format("%.2f", rows[2].import.peak_mb / rows[1].import.peak_mb).c_str());
  return 0;
}
