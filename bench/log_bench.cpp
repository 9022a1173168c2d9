// Times the run log against the least a log of the same lines costs: 1,000,000
// WriteLog calls (file and window text, as in a run) beside the same lines,
// with the same date prefix and CR LF, written through one buffered stream
// (buffered_log.h). The run log works as in a run: the console user
// interface's log window loaded before the first line. Its timed part ends
// with the log's end, which writes anything it still holds, as the stream's
// ends with its close. Both write into a fresh file in a temporary folder;
// after each run both files are checked to hold the lines, apart from their
// dates. Five runs each; a closing line sets the medians side by side with
// the goal.
//
// Run: build/bench/log_bench (about 10 s)

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "buffered_log.h"
#include "comparison_reporter.h"
#include "temp_folder.h"
#include "log/run_log.h"
#include "platform/console_user_interface.h"
#include "platform/posix_file_system.h"
#include "platform/system_clock.h"

namespace {

using tabsync::bench::BufferedLogStream;
using tabsync::bench::ReadLogTexts;
using tabsync::bench::TempFolder;

constexpr int kLines = 1'000'000;
constexpr double kMaxLogToStream = 1.2;

// The texts of a merge's log: per added record its key line and a line per
// field, now and then a replaced field.
std::string TextOf(int i) {
  long long key = static_cast<long long>(i) * 7919 % 1000003;
  switch (i % 12) {
    case 0: return "   ADD RECORD Key=ID ";
    case 1: return "   ADD FIELD TO NEW RECORD ID:= " + std::to_string(key);
    case 11:
      return "   REPLACE FIELD IN EXISTING RECORD Key=" + std::to_string(key) +
             " Field=Status open -> on hold";
    default:
      return "   ADD FIELD TO NEW RECORD Notes:= Deliver to the back door, order " +
             std::to_string(key);
  }
}

const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> made;
    for (int i = 0; i < kLines; ++i) made.push_back(TextOf(i));
    return made;
  }();
  return texts;
}

// Throws unless the file holds the texts, each with a date and CR LF.
void CheckLines(const std::string& path) {
  if (ReadLogTexts(path) != Texts()) throw std::runtime_error(path + " does not hold the lines");
}

// The run log of one run with its window loaded, writing to `path`.
struct LogOfARun {
  explicit LogOfARun(const std::string& path) {
    log->frmLog();
    log->SetLogFilePath(path);
  }
  std::unique_ptr<tabsync::platform::FileSystem> files = tabsync::platform::NewPosixFileSystem();
  std::unique_ptr<tabsync::platform::Clock> clock = tabsync::platform::NewSystemClock();
  std::unique_ptr<tabsync::platform::UserInterface> ui =
      tabsync::platform::NewConsoleUserInterface();
  std::unique_ptr<tabsync::log::RunLog> log =
      std::make_unique<tabsync::log::RunLog>(*files, *clock, *ui);
};

void BM_WriteLog(benchmark::State& state) {
  try {
    for (auto _ : state) {
      state.PauseTiming();
      TempFolder folder("tabsync-log-bench");
      std::string path = folder.File("Stabmerge.log");
      auto run = std::make_unique<LogOfARun>(path);
      state.ResumeTiming();
      for (const std::string& text : Texts()) run->log->WriteLog(text, true);
      run->log.reset();  // the log's end: what it holds reaches the file
      state.PauseTiming();
      run.reset();
      CheckLines(path);
      state.ResumeTiming();
    }
    state.counters["lines"] = kLines;
  } catch (const std::exception& e) {
    // The benchmark library reports the failure in place of the figures.
    state.SkipWithError(e.what());
  }
}

void BM_BufferedStream(benchmark::State& state) {
  try {
    for (auto _ : state) {
      state.PauseTiming();
      TempFolder folder("tabsync-log-bench");
      std::string path = folder.File("stream.log");
      BufferedLogStream stream(path);
      state.ResumeTiming();
      for (const std::string& text : Texts()) stream.Write(text);
      stream.Close();
      state.PauseTiming();
      CheckLines(path);
      state.ResumeTiming();
    }
    state.counters["lines"] = kLines;
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

BENCHMARK(BM_WriteLog)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BufferedStream)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string Describe(double log, double stream) {
  double ratio = log / stream;
  char line[320];
  std::snprintf(line, sizeof line,
                "%d lines (medians of 5): WriteLog %.1f ms (%.2f us a line), one buffered stream "
                "%.1f ms (%.2f us a line)\n"
                "goal: WriteLog / buffered stream <= %.1f: %s (%.2f)",
                kLines, log, log * 1000 / kLines, stream, stream * 1000 / kLines,
                kMaxLogToStream, ratio <= kMaxLogToStream ? "holds" : "does not hold", ratio);
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  tabsync::bench::ComparisonReporter reporter("BM_WriteLog", "BM_BufferedStream", Describe);
  return tabsync::bench::RunComparison(argc, argv, reporter);
}
