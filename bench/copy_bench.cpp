// Times the program's file copy against the system's: the file system's
// CopyFile (NewPosixFileSystem, with overwrite: a temporary file beside the
// destination, flushed, renamed over it, the folder flushed) beside
// SystemCopy (system_copy.h: copy_file_range, the mode kept, fsync), both on
// the same 256 MiB file into the same folder.
//
// Both start from the same state: the source is written, flushed and read
// once before the first run, so every run reads it from the page cache; before
// each run the destination of the run before is removed and everything
// flushed (sync), so no run pays for another's writeback. Five runs each; a
// closing line gives the medians as throughput, side by side with the goal.
//
// Run: build/bench/copy_bench (about 5 s)

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "comparison_reporter.h"
#include "system_copy.h"
#include "temp_folder.h"
#include "platform/file_system.h"
#include "platform/posix_file_system.h"

namespace {

using namespace tabsync::bench;

namespace fs = std::filesystem;

constexpr uintmax_t kFileBytes = 256ull << 20;
constexpr double kMinCopyFileShare = 0.9;

// Bytes that no file system stores in less room than they take.
std::vector<char> NoiseOf(size_t size, uint64_t seed) {
  std::vector<char> bytes(size);
  for (char& byte : bytes) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    byte = static_cast<char>(seed >> 56);
  }
  return bytes;
}

// Reads the file to its end, so that it lies in the page cache.
void ReadThrough(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> chunk(1 << 20);
  while (file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || file.gcount() > 0) {
  }
}

// The source file, written once for both benchmarks and read through.
class CopySource {
 public:
  CopySource() {
    std::vector<char> chunk = NoiseOf(1 << 20, 17);
    {
      std::ofstream file(Path(), std::ios::binary);
      for (uintmax_t written = 0; written < kFileBytes; written += chunk.size()) {
        chunk[0] = static_cast<char>(written >> 20);  // no two chunks alike
        file.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      }
      if (!file.flush()) throw std::runtime_error("cannot write the source file");
    }
    ::sync();
    ReadThrough(Path());
  }
  std::string Path() const { return folder_.File("source.mdb"); }
  std::string Destination() const { return folder_.File("copy.mdb"); }

  // Removes the copy of the run before and flushes everything.
  void Clear() const {
    fs::remove(Destination());
    ::sync();
  }
  // Throws unless the copy is as large as the source.
  void CheckCopy() const {
    if (fs::file_size(Destination()) != kFileBytes) throw std::runtime_error("the copy is short");
  }

 private:
  TempFolder folder_{"tabsync-copy-bench"};
};

const CopySource& Source() {
  static const CopySource source;
  return source;
}

using Copier = void (*)(const std::string& from, const std::string& to);

void CopyWithFileSystem(const std::string& from, const std::string& to) {
  static const std::unique_ptr<tabsync::platform::FileSystem> files =
      tabsync::platform::NewPosixFileSystem();
  files->CopyFile(from, to, true);
}

void TimeCopies(benchmark::State& state, Copier copy) {
  try {
    const CopySource& source = Source();
    for (auto _ : state) {
      state.PauseTiming();
      source.Clear();
      state.ResumeTiming();
      copy(source.Path(), source.Destination());
      state.PauseTiming();
      source.CheckCopy();
      state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
  } catch (const std::exception& e) {
    // The benchmark library reports the failure in place of the figures.
    state.SkipWithError(e.what());
  }
}

void BM_CopyFile(benchmark::State& state) { TimeCopies(state, CopyWithFileSystem); }
void BM_SystemCopy(benchmark::State& state) { TimeCopies(state, SystemCopy); }

BENCHMARK(BM_CopyFile)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SystemCopy)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();

double MbPerSecond(double ms) { return static_cast<double>(kFileBytes) / (1 << 20) / (ms / 1000); }

std::string Describe(double copy_file_ms, double system_ms) {
  double copy_file = MbPerSecond(copy_file_ms), system = MbPerSecond(system_ms);
  double share = copy_file / system;
  char line[320];
  std::snprintf(line, sizeof line,
                "copy of %llu MiB with fsync (medians of 5): CopyFile %.0f ms = %.0f MiB/s, "
                "system copy %.0f ms = %.0f MiB/s\n"
                "goal: CopyFile >= 90%% of the system copy's throughput: %s (%.0f%%)",
                static_cast<unsigned long long>(kFileBytes >> 20), copy_file_ms, copy_file,
                system_ms, system, share >= kMinCopyFileShare ? "holds" : "does not hold",
                share * 100);
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  ComparisonReporter reporter("BM_CopyFile", "BM_SystemCopy", Describe);
  return RunComparison(argc, argv, reporter);
}
