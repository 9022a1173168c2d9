#ifndef TABSYNC_STARTUP_COMMAND_LINE_H_
#define TABSYNC_STARTUP_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace tabsync::startup {

// --wait without a number of seconds: wait for the run lock until it is free.
constexpr long long kWaitWithoutLimit = -1;

// tabsync's command line (docs/installation.md):
//   tabsync [-y|--yes] [--wait[=SECONDS]] [--dry-run [--summary]] [--] [UPDATE_FOLDER]
//   tabsync --status [--json]
//   tabsync [-y|--yes] [--wait[=SECONDS]] --restore [RUN]
//   tabsync -h|--help | --version
// Options come before the folder. A lone "--" ends them, and so does the
// first argument that does not begin with "-"; every argument after the
// options is part of the folder (so "--" reaches a folder that begins with
// "-").
struct CommandLine {
  enum class Action { kUpdate, kHelp, kVersion, kStatus, kRestore, kWrong };
  Action action = Action::kUpdate;
  bool yes = false;      // answer Yes to every question, show nothing that waits
  bool dry_run = false;  // update copies of the databases, print the log
  bool summary = false;  // with dry_run: print counts instead of the log
  bool json = false;     // --status as JSON
  // --wait: how long to wait for the run lock, in seconds (kWaitWithoutLimit
  // without a number); 0 without --wait.
  long long wait_seconds = 0;
  // The arguments after the options, joined as JoinArguments joins them: the
  // update folder's text, or with kRestore the run folder ("" for the .bak
  // files).
  std::string argument_text;
  std::string problem;  // kWrong: what is wrong, for standard error
};

// Reads the arguments after the program name. The action options (--help,
// --version, --status, --restore, --dry-run) exclude each other; --help and
// --version take nothing else, -y and --wait go with a run (--dry-run
// included) or --restore, --json with --status only, --summary with
// --dry-run only, and --status takes no
// folder. An unknown option, options that do not go together, or a --wait=
// that is no number of seconds (0 to 999999999) give kWrong.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The usage text that --help prints.
std::string UsageText();

// The command line's argument text: the program's arguments (argv[1] on)
// joined by single blanks, so that `tabsync my folder` and
// `tabsync "my folder"` give the same text. "" without arguments.
std::string JoinArguments(int argc, const char* const* argv);

// The update folder named by the argument text: the text with every double
// quote and every tab removed, wherever they stand, and nothing else changed
// (blanks and letter case are kept). "" names the current directory.
std::string GetCommandLineFolder(const std::string& argumentText);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_COMMAND_LINE_H_
