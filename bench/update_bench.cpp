// Times the whole update (UpdateAllDatabases) on a realistic release against
// the file copies that any update of the same databases needs. The
// installed older release and its update information are written once per
// size by the release writer (MakeRelease, docs/make-release.md); the data
// sources are a private odbc.ini naming the installed folder. The update runs
// as the installer starts it: the real engine, file system and clock, the
// console user interface with its log window loaded, the log of an earlier run
// deleted and the run log on. Its time runs from the call to its return; the
// run must end without ErrorsDetected.
//
// The baseline is the file system's own CopyFile (the atomic copy through a
// temporary file, flushed, that the update uses) on the same files, in the order
// the update copies them: per database the backup of the database in use, and
// for the two reference databases (config, resource) also the backup of the
// update information, its copy over the database in use and its restore from
// the backup.
//
// Both run at release sizes 10,000 and 100,000, five times each, every run on
// fresh copies of the release's files (made with the timer paused). A closing
// table sets the median times side by side, with the growth of the update
// time from the smaller to the larger size and the process's peak memory.
//
// Run: update_bench
// (the usual Google Benchmark flags apply, e.g. --benchmark_filter=/10000/
// for the smaller size only).

#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "comparison_reporter.h"
#include "figures.h"
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

namespace {

using tabsync::bench::Figure;
using tabsync::bench::Format;
using tabsync::bench::PeakMemoryMb;
using tabsync::bench::Ratio;
using tabsync::bench::TempFolder;
using tabsync::bench::WithThousands;

namespace dao = tabsync::dao;
namespace engine = tabsync::engine;
namespace platform = tabsync::platform;
namespace fs = std::filesystem;

constexpr int kSmall = 10'000;
constexpr int kLarge = 100'000;
constexpr char kLogFile[] = "Stabmerge.log";

// --- the data sources ----------------------------------------------------------

// unixODBC's folder for system files, private to this process and removed at
// its end.
TempFolder& OdbcFolder() {
  static TempFolder folder("tabsync-update-bench-odbc");
  return folder;
}

// libodbcinst fixes its folder at its first call in a process, so this must
// run before anything looks a data source up.
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

// The release of one size as MakeRelease writes it, kept aside, and the
// working folders an iteration updates: the installed folder, which the data
// sources name, and the update folder.
class Workspace {
 public:
  explicit Workspace(int size) {
    // The installed config.mdb links to the installed resource.mdb by its
    // full path, so the release is written where it will be updated.
    auto db_engine = dao::NewSqliteEngine();
    tabsync::release::MakeRelease(*db_engine, installed_, update_, size);
    for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
      fs::copy_file(installed_ + entry.file_name, kept_installed_ + entry.file_name);
      fs::copy_file(update_ + entry.file_name, kept_update_ + entry.file_name);
      release_bytes_ += fs::file_size(installed_ + entry.file_name) +
                        fs::file_size(update_ + entry.file_name);
    }
  }

  const std::string& InstalledFolder() const { return installed_; }
  const std::string& UpdateFolder() const { return update_; }
  std::string LogPath() const { return installed_ + kLogFile; }
  // The twelve files of the release, in megabytes.
  double ReleaseMb() const { return static_cast<double>(release_bytes_) / (1024 * 1024); }

  // Puts the release's files back in the working folders as MakeRelease
  // wrote them, and removes the backups and the log an iteration leaves.
  void FreshCopies() const {
    for (const engine::CatalogueEntry& entry : engine::DatabaseCatalogue) {
      Restore(kept_installed_, installed_, entry.file_name);
      Restore(kept_update_, update_, entry.file_name);
    }
    fs::remove(LogPath());
  }

 private:
  static void Restore(const std::string& from, const std::string& to, const std::string& file) {
    fs::copy_file(from + file, to + file, fs::copy_options::overwrite_existing);
    fs::remove(to + file + ".bak");
  }

  TempFolder folder_{"tabsync-update-bench"};
  std::string installed_ = FolderIn(folder_, "installed");
  std::string update_ = FolderIn(folder_, "DB");
  std::string kept_installed_ = FolderIn(folder_, "release-installed");
  std::string kept_update_ = FolderIn(folder_, "release-DB");
  uintmax_t release_bytes_ = 0;
};

// The workspace of each size, made when a benchmark of the size first runs
// and shared by the update and the file copies of the size.
std::map<int, std::unique_ptr<Workspace>>& Workspaces() {
  static std::map<int, std::unique_ptr<Workspace>> workspaces;
  return workspaces;
}

Workspace& WorkspaceFor(int size) {
  std::unique_ptr<Workspace>& workspace = Workspaces()[size];
  if (!workspace) workspace = std::make_unique<Workspace>(size);
  return *workspace;
}

// --- the whole update ---------------------------------------------------------------

// The platform of a run; one per benchmark.
struct Platform {
  std::unique_ptr<dao::DatabaseEngine> db_engine = dao::NewSqliteEngine();
  std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  std::unique_ptr<platform::Clock> clock = platform::NewSystemClock();
  std::unique_ptr<platform::RegistrationStore> registrations = platform::NewOdbcIniStore();
};

// The state of one run as the installer starts it: its own log, the window
// loaded, writing to the log file in the installed folder; ErrorsDetected
// starts false.
class RunState {
 public:
  RunState(Platform& p, const Workspace& workspace)
      : ui_(platform::NewConsoleUserInterface()),
        log_(*p.files, *p.clock, *ui_),
        history_(*p.files, p.clock->Now()),
        context_(*p.db_engine, *p.files, *p.registrations, log_, history_) {
    log_.frmLog();
    log_.SetLogFilePath(workspace.LogPath());
  }
  engine::UpdateContext& context() { return context_; }

 private:
  std::unique_ptr<platform::UserInterface> ui_;
  tabsync::log::RunLog log_;
  tabsync::install::BackupHistory history_;
  engine::UpdateContext context_;
};

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

void BM_Update(benchmark::State& state, int size) {
  try {
    Workspace& workspace = WorkspaceFor(size);
    WriteDataSources(workspace.InstalledFolder());
    Platform run_platform;
    std::unique_ptr<RunState> run;
    for (auto _ : state) {
      state.PauseTiming();
      run.reset();  // lets go of the log file before it is removed
      workspace.FreshCopies();
      run = std::make_unique<RunState>(run_platform, workspace);
      state.ResumeTiming();
      engine::UpdateAllDatabases(run->context(), workspace.UpdateFolder());
      state.PauseTiming();
      bool failed = run->context().ErrorsDetected();
      run.reset();
      std::string why = failed ? FirstErrorLine(workspace.LogPath()) : "";
      state.ResumeTiming();
      if (failed) {
        state.SkipWithError(("the update detected errors: " + why).c_str());
        break;
      }
    }
    state.counters["size"] = size;
  } catch (const std::exception& e) {
    // The benchmark library reports the failure in place of the figures.
    state.SkipWithError(e.what());
  }
}

// --- the file copies ------------------------------------------------------------------

void Copy(const std::string& from, const std::string& to) {
  static const std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  files->CopyFile(from, to, true);
}

// The copies of one database, in the order the update makes them.
void CopyAsTheUpdate(const Workspace& workspace, const std::string& file) {
  std::string in_use = workspace.InstalledFolder() + file;
  std::string update_information = workspace.UpdateFolder() + file;
  bool reference = !engine::IsDataDatabase(file);
  if (reference) Copy(update_information, update_information + ".bak");
  Copy(in_use, in_use + ".bak");
  if (reference) {
    Copy(update_information, in_use);
    Copy(update_information + ".bak", update_information);
  }
}

void BM_FileCopies(benchmark::State& state, int size) {
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

// The names below are those BENCHMARK_CAPTURE gives, which the closing table
// looks up: "BM_Update/10000".
BENCHMARK_CAPTURE(BM_Update, 10000, kSmall)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FileCopies, 10000, kSmall)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Update, 100000, kLarge)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FileCopies, 100000, kLarge)
    ->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- the closing table ---------------------------------------------------------------

std::optional<double> ReleaseMb(int size) {
  auto found = Workspaces().find(size);
  if (found == Workspaces().end()) return std::nullopt;
  return found->second->ReleaseMb();
}

// The console table, then the update beside the file copies per size.
class UpdateReporter : public tabsync::bench::WallTimeReporter {
 public:
  void Finalize() override {
    WallTimeReporter::Finalize();
    std::ostream& out = GetOutputStream();
    PrintSizes(out);
    PrintGrowthAndMemory(out);
  }

 private:
  std::optional<double> UpdateMs(int size) const {
    return WallMs("BM_Update/" + std::to_string(size));
  }
  std::optional<double> CopiesMs(int size) const {
    return WallMs("BM_FileCopies/" + std::to_string(size));
  }

  void PrintSizes(std::ostream& out) const {
    out << "\nWhole update of a release written by make-release, beside the file "
           "copies it needs (median wall times of 5 runs, log on):\n";
    char line[160];
    std::snprintf(line, sizeof line, "%9s %11s %11s %11s %14s\n", "size", "release MB",
                  "update ms", "copies ms", "update/copies");
    out << line;
    for (int size : {kSmall, kLarge}) {
      std::snprintf(line, sizeof line, "%9s %11s %11s %11s %14s\n", WithThousands(size).c_str(),
                    Figure(ReleaseMb(size), "%.1f").c_str(), Figure(UpdateMs(size), "%.1f").c_str(),
                    Figure(CopiesMs(size), "%.1f").c_str(),
                    Figure(Ratio(UpdateMs(size), CopiesMs(size)), "%.1f").c_str());
      out << line;
    }
  }

  void PrintGrowthAndMemory(std::ostream& out) const {
    out << "\ngrowth update(100,000) / update(10,000): "
        << Figure(Ratio(UpdateMs(kLarge), UpdateMs(kSmall)), "%.2fx") << "\n";
    out << "peak memory of the process (getrusage ru_maxrss, writing the releases included): "
        << Format("%.1f", PeakMemoryMb()) << " MB\n";
  }
};

}  // namespace

int main(int argc, char** argv) {
  UsePrivateOdbcFolder();
  UpdateReporter reporter;
  return tabsync::bench::RunComparison(argc, argv, reporter);
}
