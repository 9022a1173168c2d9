// Times the run log against the plain system calls it is built on: 100,000
// WriteLog calls (file and window text, as in a run) beside 100,000 plain
// write() calls of the same prefixed lines, made beforehand. Both write into a
// fresh file in a temporary folder; a closing line sets their wall times side
// by side.
//
// Run: build/bench/log_bench

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "comparison_reporter.h"
#include "temp_folder.h"
#include "log/log_line.h"
#include "log/run_log.h"
#include "platform/console_user_interface.h"
#include "platform/posix_file_system.h"
#include "platform/system_clock.h"

namespace {

using tabsync::bench::TempFolder;

namespace fs = std::filesystem;

constexpr int kLines = 100'000;

// The texts of a run: record-level lines of varying length.
std::string TextOf(int i) {
  return "   ADD RECORD Key=" + std::to_string(i * 7919 % 1000003) + " in table Actions";
}

void BM_WriteLog(benchmark::State& state) {
  auto files = tabsync::platform::NewPosixFileSystem();
  auto clock = tabsync::platform::NewSystemClock();
  std::vector<std::string> texts;
  for (int i = 0; i < kLines; ++i) texts.push_back(TextOf(i));
  for (auto _ : state) {
    state.PauseTiming();
    TempFolder folder("tabsync-log-bench");
    auto ui = tabsync::platform::NewConsoleUserInterface();
    tabsync::log::RunLog log(*files, *clock, *ui);
    log.SetLogFilePath(folder.File("Stabmerge.log"));
    state.ResumeTiming();
    for (const std::string& text : texts) log.WriteLog(text, true);
    state.PauseTiming();
    if (fs::file_size(folder.File("Stabmerge.log")) == 0) state.SkipWithError("empty log");
    state.ResumeTiming();
  }
  state.counters["lines"] = kLines;
}

void BM_PlainWrite(benchmark::State& state) {
  auto clock = tabsync::platform::NewSystemClock();
  std::vector<std::string> lines;
  for (int i = 0; i < kLines; ++i) {
    lines.push_back(tabsync::log::FormatLogLine(TextOf(i), true, clock->Now()));
  }
  for (auto _ : state) {
    state.PauseTiming();
    TempFolder folder("tabsync-log-bench");
    int fd = ::open(folder.File("plain.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) state.SkipWithError("cannot open");
    state.ResumeTiming();
    for (const std::string& line : lines) {
      if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        state.SkipWithError("short write");
        break;
      }
    }
    state.PauseTiming();
    ::close(fd);
    state.ResumeTiming();
  }
  state.counters["lines"] = kLines;
}

BENCHMARK(BM_WriteLog)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWrite)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  tabsync::bench::ComparisonReporter reporter(
      "BM_WriteLog", "BM_PlainWrite", [](double log, double plain) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "%d lines (median of 3): WriteLog %.0f ms, plain write %.0f ms "
                      "(WriteLog / plain = %.2f)",
                      kLines, log, plain, log / plain);
        return std::string(line);
      });
  return tabsync::bench::RunComparison(argc, argv, reporter);
}
