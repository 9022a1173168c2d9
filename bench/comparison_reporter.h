#ifndef TABSYNC_BENCH_COMPARISON_REPORTER_H_
#define TABSYNC_BENCH_COMPARISON_REPORTER_H_

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tabsync::bench {

// Google Benchmark's console table, then one closing line that sets the wall
// times of two benchmarks side by side: the time of one iteration, or the
// median when the benchmarks repeat.
class ComparisonReporter : public benchmark::ConsoleReporter {
 public:
  // Makes the closing line from the two times in milliseconds.
  using Describe = std::function<std::string(double first_ms, double second_ms)>;

  ComparisonReporter(std::string first, std::string second, Describe describe)
      : ConsoleReporter(OO_Tabular),
        first_(std::move(first)),
        second_(std::move(second)),
        describe_(std::move(describe)) {}

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

  void Finalize() override {
    ConsoleReporter::Finalize();
    auto first = wall_ms_.find(first_);
    auto second = wall_ms_.find(second_);
    if (first == wall_ms_.end() || second == wall_ms_.end()) return;
    GetOutputStream() << "\n" << describe_(first->second, second->second) << "\n";
  }

 private:
  std::string first_;
  std::string second_;
  Describe describe_;
  std::map<std::string, double> wall_ms_;
};

// Runs the benchmarks the command line selects with that reporter; the body
// of a benchmark program's main.
inline int RunComparison(int argc, char** argv, ComparisonReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace tabsync::bench

#endif  // TABSYNC_BENCH_COMPARISON_REPORTER_H_
