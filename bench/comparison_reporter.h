#ifndef TABSYNC_BENCH_COMPARISON_REPORTER_H_
#define TABSYNC_BENCH_COMPARISON_REPORTER_H_

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tabsync::bench {

// Google Benchmark's console table, keeping the wall time of each benchmark
// that ran without error: the time of one iteration, or the median when the
// benchmark repeats. A benchmark program's closing lines read them in
// Finalize.
class WallTimeReporter : public benchmark::ConsoleReporter {
 public:
  WallTimeReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      // A repeated benchmark reports its median after its single runs.
      bool single = run.run_type == Run::RT_Iteration;
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (!single && !median) continue;
      wall_ms_[run.run_name.function_name] = run.real_accumulated_time * 1000 / run.iterations;
    }
  }

 protected:
  // The wall time in milliseconds of the benchmark registered under `name`
  // ("BM_Merge/records_10000_indexed" for a BENCHMARK_CAPTURE); nothing when
  // it did not run or failed.
  std::optional<double> WallMs(const std::string& name) const {
    auto found = wall_ms_.find(name);
    if (found == wall_ms_.end()) return std::nullopt;
    return found->second;
  }

 private:
  std::map<std::string, double> wall_ms_;
};

// The wall-time table, then one closing line that sets the wall times of two
// benchmarks side by side.
class ComparisonReporter : public WallTimeReporter {
 public:
  // Makes the closing line from the two times in milliseconds.
  using Describe = std::function<std::string(double first_ms, double second_ms)>;

  ComparisonReporter(std::string first, std::string second, Describe describe)
      : first_(std::move(first)), second_(std::move(second)), describe_(std::move(describe)) {}

  void Finalize() override {
    WallTimeReporter::Finalize();
    std::optional<double> first = WallMs(first_);
    std::optional<double> second = WallMs(second_);
    if (!first || !second) return;
    GetOutputStream() << "\n" << describe_(*first, *second) << "\n";
  }

 private:
  std::string first_;
  std::string second_;
  Describe describe_;
};

// Runs the benchmarks the command line selects with that reporter; the body
// of a benchmark program's main.
inline int RunComparison(int argc, char** argv, benchmark::BenchmarkReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace tabsync::bench

#endif  // TABSYNC_BENCH_COMPARISON_REPORTER_H_
