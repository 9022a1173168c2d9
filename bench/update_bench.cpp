// Times the whole update (UpdateAllDatabases) of a realistic release against
// the system's copies of the files that the update copies, and measures the
// update's peak memory.
//
// The installed older release and its update information are written once
// per size by the release writer (MakeRelease, docs/make-release.md) in a
// child process, so that this process stays small; the data sources are a
// private odbc.ini naming the installed folder.
//
// Each update runs in a child process of its own: this program started
// afresh with a private argument, which runs the update as the installer
// starts it (the real engine, file system and clock, the console user
// interface with its log window loaded, the run log on) and passes back its
// wall time, from the call to the end of its log, which writes what the log
// still holds. Its peak memory is the child's ru_maxrss from wait4, which
// holds nothing of the release's writing. The run must end without
// ErrorsDetected.
//
// The baseline is the system's copy (system_copy.h: copy_file_range, the mode
// kept as by `cp -a`, fsync) of the files the update copies, to the same
// places: per database the backup ".bak" of the database in use, and for the
// two reference databases (config, resource) the working copy of the update
// information beside it. Before every run of either, the installed files are
// put back as written, the copies and the log removed and everything flushed
// (sync), so that both start from the same page cache and no writeback of
// the run before; the update folder is only read, so it stays.
//
// Sizes 10,000 and 100,000, and with --million also 1,000,000 (its release
// is about 1.2 GB and takes about 50 s to write), five runs each. A
// closing table sets the median times side by side, with the growth from
// size to size, the peak memory of the update and the goals.
//
// Run: build/bench/update_bench [--million]
// (about 15 s; with --million about 2.5 minutes. The usual Google Benchmark
// flags apply, e.g. --benchmark_filter=/10000/ for the smallest size only.)

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "comparison_reporter.h"
#include "figures.h"
#include "system_copy.h"
#include "temp_folder.h"
#include "dbengine/dao.h"
#include "dbengine/sqlite_engine.h"
#include "engine/catalogue.h"
#include "engine/update_context.h"
#include "engine/update_run.h"
#include "log/run_log.h"
#include "make-release/release_maker.h"
#include "platform/console_user_interface.h"
#include "platform/odbc_ini_store.h"
#include "platform/posix_file_system.h"
#include "platform/registration_store.h"
#include "platform/system_clock.h"

extern char** environ;

namespace {

using namespace tabsync::bench;

namespace dao = tabsync::dao;
namespace engine = tabsync::engine;
namespace platform = tabsync::platform;
namespace fs = std::filesystem;

constexpr int kSmall = 10'000;
constexpr int kLarge = 100'000;
constexpr int kMillion = 1'000'000;
constexpr char kLogFile[] = "Stabmerge.log";
// The private argument that makes this program the child that runs one
// update: --update-child INSTALLED_FOLDER UPDATE_FOLDER RESULT_FILE.
constexpr char kChildFlag[] = "--update-child";
constexpr char kMillionFlag[] = "--million";

// --- the data sources ----------------------------------------------------------

// unixODBC's folder for system files, private to this process and its
// children, and removed at its end.
TempFolder& OdbcFolder() {
  static TempFolder folder("tabsync-update-bench-odbc");
  return folder;
}

// libodbcinst fixes its folder at its first call in a process, so this must
// run before anything looks a data source up. The update's children inherit
// it.
void UsePrivateOdbcFolder() {
  std::string folder = fs::path(OdbcFolder().File("odbc.ini")).parent_path().string();
  if (setenv("ODBCSYSINI", folder.c_str(), 1) != 0)
    throw std::runtime_error("cannot set ODBCSYSINI");
}

// Registers one data source per catalogue database, its file in
// installedFolder (which ends in "/").
void WriteDataSources(const std::string& installedFolder) {
  std::string ini = "# the databases of the benchmark's installed release\n";
  for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
    ini += std::string("[") + entry.data_source_name + "]\nDriver=SQLite3\nDBQ=" +
           installedFolder + entry.file_name + "\n";
  }
  std::ofstream file(OdbcFolder().File("odbc.ini"), std::ios::binary | std::ios::trunc);
  file << ini;
  if (!file.flush()) throw std::runtime_error("cannot write odbc.ini");
}

// --- the release of one size ------------------------------------------------------

std::string FolderIn(const TempFolder& folder, const std::string& name) {
  std::string path = folder.File(name) + "/";
  fs::create_directory(path);
  return path;
}

// Runs MakeRelease in a child process, whose memory goes with it.
void WriteReleaseInChild(const std::string& installed, const std::string& update, int size) {
  pid_t child = fork();
  if (child < 0) ThrowErrno("fork");
  if (child == 0) {
    int status = 0;
    try {
      auto db_engine = dao::NewSqliteEngine();
      tabsync::release::MakeRelease(*db_engine, installed, update, size);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "update_bench: make-release: %s\n", e.what());
      status = 1;
    }
    _exit(status);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("writing the release of size " + std::to_string(size) + " failed");
}

// The release of one size as MakeRelease writes it, its installed files kept
// aside, and the working folders an iteration updates: the installed folder,
// which the data sources name, and the update folder.
class Workspace {
 public:
  explicit Workspace(int size) {
    // The installed config.mdb links to the installed resource.mdb by its
    // full path, so the release is written where it will be updated.
    WriteReleaseInChild(installed_, update_, size);
    for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
      fs::copy_file(installed_ + entry.file_name, kept_installed_ + entry.file_name);
      release_bytes_ += fs::file_size(installed_ + entry.file_name) +
                        fs::file_size(update_ + entry.file_name);
    }
  }

  const std::string& InstalledFolder() const { return installed_; }
  const std::string& UpdateFolder() const { return update_; }
  std::string LogPath() const { return installed_ + kLogFile; }
  std::string ResultPath() const { return folder_.File("child-result"); }
  // The twelve files of the release, in megabytes.
  double ReleaseMb() const { return static_cast<double>(release_bytes_) / (1024 * 1024); }

  // Puts the installed files back as MakeRelease wrote them, removes the
  // backups, working copies and the log an iteration leaves, and flushes
  // everything to disk.
  void FreshCopies() const {
    for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
      std::string file = entry.file_name;
      fs::copy_file(kept_installed_ + file, installed_ + file, fs::copy_options::overwrite_existing);
      fs::remove(installed_ + file + ".bak");
      fs::remove(engine::WorkingCopyPath(installed_, file));
    }
    fs::remove(LogPath());
    ::sync();
  }

 private:
  TempFolder folder_{"tabsync-update-bench"};
  std::string installed_ = FolderIn(folder_, "installed");
  std::string update_ = FolderIn(folder_, "DB");
  std::string kept_installed_ = FolderIn(folder_, "release-installed");
  uintmax_t release_bytes_ = 0;
};

// The workspace of each size, made when a benchmark of the size first runs
// and shared by the update and the copies of the size.
std::map<int, std::unique_ptr<Workspace>>& Workspaces() {
  static std::map<int, std::unique_ptr<Workspace>> workspaces;
  return workspaces;
}

Workspace& WorkspaceFor(int size) {
  std::unique_ptr<Workspace>& workspace = Workspaces()[size];
  if (!workspace) workspace = std::make_unique<Workspace>(size);
  return *workspace;
}

// --- the update, in the child --------------------------------------------------------

// The platform of a run.
struct Platform {
  std::unique_ptr<dao::DatabaseEngine> db_engine = dao::NewSqliteEngine();
  std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  std::unique_ptr<platform::Clock> clock = platform::NewSystemClock();
  std::unique_ptr<platform::RegistrationStore> registrations = platform::NewOdbcIniStore();
};

// The state of one run as the installer starts it: its own log, the window
// loaded, writing to the log file in the installed folder; ErrorsDetected
// starts false. Its end ends the log.
class RunState {
 public:
  RunState(Platform& p, const std::string& logPath)
      : ui_(platform::NewConsoleUserInterface()),
        log_(*p.files, *p.clock, *ui_),
        history_(*p.files, p.clock->Now()),
        context_(*p.db_engine, *p.files, *p.registrations, log_, history_) {
    log_.frmLog();
    log_.SetLogFilePath(logPath);
  }
  engine::UpdateContext& context() { return context_; }

 private:
  std::unique_ptr<platform::UserInterface> ui_;
  tabsync::log::RunLog log_;
  tabsync::install::BackupHistory history_;
  engine::UpdateContext context_;
};

// The child's work: one update, its wall time in milliseconds and whether it
// detected errors written to `result` as "MS ERRORS".
int RunUpdateChild(const std::string& installed, const std::string& update,
                   const std::string& result) {
  try {
    Platform run_platform;
    auto run = std::make_unique<RunState>(run_platform, installed + kLogFile);
    auto start = std::chrono::steady_clock::now();
    engine::UpdateAllDatabases(run->context(), update);
    bool failed = run->context().ErrorsDetected();
    run.reset();
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
    std::ofstream file(result, std::ios::trunc);
    file << ms << ' ' << (failed ? 1 : 0) << '\n';
    return file.flush() ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "update_bench child: %s\n", e.what());
    return 1;
  }
}

// --- the update, seen from here --------------------------------------------------------

struct ChildRun {
  double ms = 0;
  bool failed = false;
  double peak_mb = 0;
};

std::string ThisProgram() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) throw std::runtime_error("cannot find this program: " + error.message());
  return self.string();
}

// Starts the child for one update of the workspace and waits for it.
// posix_spawn rather than fork: the child never holds a copy of this
// process's pages.
ChildRun UpdateInChild(const Workspace& workspace) {
  std::vector<std::string> args = {ThisProgram(), kChildFlag, workspace.InstalledFolder(),
                                   workspace.UpdateFolder(), workspace.ResultPath()};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  fs::remove(workspace.ResultPath());
  pid_t child = 0;
  if (int error = posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ))
    throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(error));
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) != child) ThrowErrno("wait4");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("the update's child process failed");
  ChildRun run;
  std::ifstream result(workspace.ResultPath());
  if (!(result >> run.ms >> run.failed)) throw std::runtime_error("the child gave no result");
  run.peak_mb = static_cast<double>(usage.ru_maxrss) / 1024;  // kilobytes on Linux
  return run;
}

// The first line of the log that reports a failure, to tell why a run failed.
std::string FirstErrorLine(const std::string& logPath) {
  std::ifstream log(logPath, std::ios::binary);
  for (std::string line; std::getline(log, line);) {
    if (line.find("ERROR") == std::string::npos) continue;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // lines end in CR LF
    return line;
  }
  return "no ERROR line in the log";
}

// The peak memory in MB of each update's child, by size.
std::map<int, std::vector<double>>& UpdatePeaks() {
  static std::map<int, std::vector<double>> peaks;
  return peaks;
}

std::optional<double> LargestPeakMb(int size) {
  auto found = UpdatePeaks().find(size);
  if (found == UpdatePeaks().end() || found->second.empty()) return std::nullopt;
  return *std::max_element(found->second.begin(), found->second.end());
}

void BM_Update(benchmark::State& state, int size) {
  try {
    Workspace& workspace = WorkspaceFor(size);
    WriteDataSources(workspace.InstalledFolder());
    for (auto _ : state) {
      workspace.FreshCopies();
      ChildRun run = UpdateInChild(workspace);
      if (run.failed) {
        state.SkipWithError(
            ("the update detected errors: " + FirstErrorLine(workspace.LogPath())).c_str());
        break;
      }
      state.SetIterationTime(run.ms / 1000);
      UpdatePeaks()[size].push_back(run.peak_mb);
    }
    state.counters["size"] = size;
    if (std::optional<double> peak = LargestPeakMb(size)) state.counters["peak_MB"] = *peak;
  } catch (const std::exception& e) {
    // The benchmark library reports the failure in place of the figures.
    state.SkipWithError(e.what());
  }
}

// --- the system's copies ------------------------------------------------------------------

// The copies the update makes of one database: its backup, and for a
// reference database the working copy of the update information.
void CopyAsTheUpdate(const Workspace& workspace, const std::string& file) {
  std::string in_use = workspace.InstalledFolder() + file;
  SystemCopy(in_use, in_use + ".bak");
  if (!engine::IsDataDatabase(file))
    SystemCopy(workspace.UpdateFolder() + file,
               engine::WorkingCopyPath(workspace.InstalledFolder(), file));
}

void BM_SystemCopies(benchmark::State& state, int size) {
  try {
    Workspace& workspace = WorkspaceFor(size);
    for (auto _ : state) {
      state.PauseTiming();
      workspace.FreshCopies();
      state.ResumeTiming();
      for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue)
        CopyAsTheUpdate(workspace, entry.file_name);
    }
    state.counters["size"] = size;
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

// --- the cases -------------------------------------------------------------------------

// The sizes this run measures, smallest first.
std::vector<int>& Sizes() {
  static std::vector<int> sizes = {kSmall, kLarge};
  return sizes;
}

// "BM_Update/10000": the names the closing table looks up.
void RegisterSizes() {
  for (int size : Sizes()) {
    std::string suffix = "/" + std::to_string(size);
    benchmark::RegisterBenchmark(("BM_Update" + suffix).c_str(),
                                 [size](benchmark::State& s) { BM_Update(s, size); })
        ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseManualTime();
    benchmark::RegisterBenchmark(("BM_SystemCopies" + suffix).c_str(),
                                 [size](benchmark::State& s) { BM_SystemCopies(s, size); })
        ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
  }
}

// --- the closing table ---------------------------------------------------------------

constexpr double kMaxUpdateToCopies = 3;
constexpr double kMaxPeakMb = 256;
constexpr double kMaxGrowth = 11;

std::optional<double> ReleaseMb(int size) {
  auto found = Workspaces().find(size);
  if (found == Workspaces().end()) return std::nullopt;
  return found->second->ReleaseMb();
}

std::string Verdict(std::optional<double> figure, double limit) {
  if (!figure) return "not measured";
  return *figure <= limit ? "holds" : "does not hold";
}

// The console table, then the update beside the system's copies per size.
class UpdateReporter : public WallTimeReporter {
 public:
  void Finalize() override {
    WallTimeReporter::Finalize();
    std::ostream& out = GetOutputStream();
    PrintSizes(out);
    PrintGoals(out);
  }

 private:
  std::optional<double> UpdateMs(int size) const {
    return WallMs("BM_Update/" + std::to_string(size));
  }
  std::optional<double> CopiesMs(int size) const {
    return WallMs("BM_SystemCopies/" + std::to_string(size));
  }
  std::optional<double> Growth(int size) const { return Ratio(UpdateMs(size * 10), UpdateMs(size)); }

  void PrintSizes(std::ostream& out) const {
    out << "\nWhole update of a release written by make-release (in a child process of its own, "
           "log on) beside the system's copies of the files it copies (copy_file_range + fsync); "
           "median wall times of 5 runs, the largest peak of the 5 updates:\n";
    char line[200];
    const char* format = "%9s %11s %11s %11s %14s %15s\n";
    std::snprintf(line, sizeof line, format, "size", "release MB", "update ms", "copies ms",
                  "update/copies", "update peak MB");
    out << line;
    for (int size : Sizes()) {
      std::snprintf(line, sizeof line, format, WithThousands(size).c_str(),
                    Figure(ReleaseMb(size), "%.1f").c_str(), Figure(UpdateMs(size), "%.1f").c_str(),
                    Figure(CopiesMs(size), "%.1f").c_str(),
                    Figure(Ratio(UpdateMs(size), CopiesMs(size)), "%.2f").c_str(),
                    Figure(LargestPeakMb(size), "%.1f").c_str());
      out << line;
    }
  }

  void PrintGoals(std::ostream& out) const {
    std::optional<double> ratio = Ratio(UpdateMs(kMillion), CopiesMs(kMillion));
    std::optional<double> peak = LargestPeakMb(kMillion);
    std::optional<double> growth_small = Growth(kSmall), growth_large = Growth(kLarge);
    const char* unmeasured = UpdateMs(kMillion) ? "" : " (1,000,000 runs with --million)";
    out << "\ngrowth update(100,000) / update(10,000): " << Figure(growth_small, "%.2fx")
        << "; update(1,000,000) / update(100,000): " << Figure(growth_large, "%.2fx") << "\n";
    out << "goal: update at 1,000,000 <= 3x its copies with fsync: "
        << Verdict(ratio, kMaxUpdateToCopies) << " (" << Figure(ratio, "%.2fx") << ")"
        << unmeasured << "\n";
    out << "goal: update's peak memory at 1,000,000 <= 256 MB: " << Verdict(peak, kMaxPeakMb)
        << " (" << Figure(peak, "%.1f MB") << ")" << unmeasured << "\n";
    out << "goal: 10x size <= 11x time: " << Verdict(growth_small, kMaxGrowth) << " from 10,000 ("
        << Figure(growth_small, "%.2fx") << "), " << Verdict(growth_large, kMaxGrowth)
        << " from 100,000 (" << Figure(growth_large, "%.2fx") << ")" << unmeasured << "\n";
    out << "peak memory of this process, which starts the updates (getrusage ru_maxrss): "
        << Format("%.1f", PeakMemoryMb()) << " MB\n";
  }
};

// Removes the flag from the command line; true when it was there.
bool TakeFlag(int& argc, char** argv, const char* flag) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], flag) != 0) continue;
    std::copy(argv + i + 1, argv + argc + 1, argv + i);  // argv[argc] is the null pointer
    --argc;
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], kChildFlag) == 0)
    return RunUpdateChild(argv[2], argv[3], argv[4]);
  UsePrivateOdbcFolder();
  if (TakeFlag(argc, argv, kMillionFlag)) Sizes().push_back(kMillion);
  RegisterSizes();
  UpdateReporter reporter;
  return RunComparison(argc, argv, reporter);
}
