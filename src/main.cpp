// tabsync: merges a release's update information into the databases in use.
// The only place that builds the real platform objects.

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/sqlite_engine.h"
#include "platform/console_user_interface.h"
#include "platform/gtk_user_interface.h"
#include "platform/odbc_ini_installer.h"
#include "platform/odbc_ini_store.h"
#include "platform/posix_file_system.h"
#include "platform/progress_display.h"
#include "platform/share_ini_store.h"
#include "platform/stop_signals.h"
#include "platform/system_clock.h"
#include "startup/command_line.h"
#include "startup/main_flow.h"
#include "startup/restore.h"
#include "startup/status.h"

namespace {

using namespace tabsync;

// The objects of this machine that every action works on.
struct Machine {
  std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  std::unique_ptr<platform::RegistrationStore> registrations = platform::NewOdbcIniStore();
  std::unique_ptr<platform::OdbcInstaller> installer = platform::NewOdbcIniInstaller();
  std::unique_ptr<platform::SharedFilesStore> share = platform::NewShareIniStore();
  std::unique_ptr<platform::Clock> clock = platform::NewSystemClock();
  std::unique_ptr<dao::DatabaseEngine> db_engine = dao::NewSqliteEngine();
  std::unique_ptr<platform::UserInterface> ui;
  std::unique_ptr<platform::ProgressDisplay> progress;
  std::unique_ptr<platform::StopSignals> stop = platform::NewStopSignals();
  bool on_console = false;
};

// Windows when a display is there and GTK starts, the console otherwise.
// Unattended, nothing may wait for a person, so the console (whose message
// boxes do not wait) shows the messages; a progress window asks nothing and
// stays.
void ChooseInterface(Machine& machine, bool unattended) {
  machine.ui = platform::NewGtkUserInterface();
  bool gtk = machine.ui != nullptr;
  if (!gtk || unattended) machine.ui = platform::NewConsoleUserInterface();
  machine.on_console = !gtk || unattended;
  if (gtk) {
    machine.progress = platform::NewGtkProgressWindow();
  } else if (isatty(STDERR_FILENO)) {
    machine.progress = platform::NewTerminalProgress(STDERR_FILENO);
  } else {
    machine.progress = platform::NewNoProgress();
  }
}

int Update(Machine& machine, const startup::CommandLine& line) {
  startup::MainPlatform platform{
      {*machine.files, *machine.registrations, *machine.installer, *machine.ui},
      *machine.share,
      *machine.clock,
      startup::EngineUpdateRun(*machine.db_engine, *machine.files, *machine.progress,
                               machine.stop.get()),
      // The summary is for the console; a dry run prints its log anyway.
      machine.on_console || line.dry_run ? &std::cout : nullptr,
      &std::cerr,
      // A killed run loses at most this much of its log (docs/run-log.md).
      std::chrono::milliseconds(100),
      machine.stop.get()};
  startup::RunOptions options;
  options.unattended = line.yes;
  options.dry_run = line.dry_run;
  options.summary = line.summary;
  options.wait_seconds = line.wait_seconds;
  return startup::Main(platform, line.argument_text, options);
}

// An installer that reads --status or the dry run's log must not take a
// cut-off text for the whole, so output that did not reach standard output
// fails the program, with the reason on standard error.
int WithOutputChecked(int status) {
  errno = 0;
  std::cout.flush();
  bool written = std::cout.good() && std::fflush(stdout) == 0 && !std::ferror(stdout);
  if (written) return status;
  std::cerr << "tabsync: cannot write standard output"
            << (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
  return status == startup::kExitSuccess ? startup::kExitErrorsDetected : status;
}

int Act(const startup::CommandLine& line) {
  switch (line.action) {
    case startup::CommandLine::Action::kHelp:
      std::cout << startup::UsageText();
      return startup::kExitSuccess;
    case startup::CommandLine::Action::kVersion:
      std::cout << "tabsync " << startup::ProgramVersion() << "\n";
      return startup::kExitSuccess;
    case startup::CommandLine::Action::kWrong:
      std::cerr << "tabsync: " << line.problem << "\n" << startup::UsageText();
      return startup::kExitStopped;
    default:
      break;
  }
  Machine machine;
  bool quiet = line.yes || line.action == startup::CommandLine::Action::kStatus;
  ChooseInterface(machine, quiet);
  startup::SiteTools tools{{*machine.files, *machine.registrations, *machine.installer, *machine.ui},
                           *machine.share,
                           *machine.clock,
                           *machine.db_engine,
                           std::cout,
                           &std::cerr,
                           machine.stop.get()};
  switch (line.action) {
    case startup::CommandLine::Action::kStatus:
      return startup::ShowStatus(tools, line.json);
    case startup::CommandLine::Action::kRestore:
      return startup::Restore(tools, startup::GetCommandLineFolder(line.argument_text), line.yes,
                              line.wait_seconds);
    default:
      return Update(machine, line);
  }
}

}  // namespace

int main(int argc, char** argv) {
  startup::CommandLine line =
      startup::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  return WithOutputChecked(Act(line));
}
