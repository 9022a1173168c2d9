#include "startup/command_line.h"

#include <algorithm>

namespace tabsync::startup {
namespace {

CommandLine Wrong(const std::string& problem) {
  CommandLine line;
  line.action = CommandLine::Action::kWrong;
  line.problem = problem;
  return line;
}

std::string Joined(const std::vector<std::string>& arguments, size_t from) {
  std::string text;
  for (size_t i = from; i < arguments.size(); ++i) {
    if (i > from) text += ' ';
    text += arguments[i];
  }
  return text;
}

// The options as given: the action options in their order (each spelling
// once), and the flags.
struct Options {
  std::vector<std::string> actions;  // "--status", "-h", "--dry-run"...
  bool yes = false;
  bool json = false;
  bool summary = false;
  std::string wait;  // the --wait option as given; "" without one
  long long wait_seconds = 0;
};

// "--wait" waits without limit, "--wait=N" N seconds. False for a value that
// is no number of seconds.
bool TakeWait(const std::string& option, Options* options) {
  options->wait = option;
  if (option == "--wait") {
    options->wait_seconds = kWaitWithoutLimit;
    return true;
  }
  std::string seconds = option.substr(std::string("--wait=").size());
  if (seconds.empty() || seconds.size() > 9 ||
      seconds.find_first_not_of("0123456789") != std::string::npos)
    return false;
  options->wait_seconds = std::stoll(seconds);
  return true;
}

void AddAction(const std::string& option, Options* options) {
  if (std::find(options->actions.begin(), options->actions.end(), option) ==
      options->actions.end())
    options->actions.push_back(option);
}

// Takes one option; false for an option tabsync does not know.
bool TakeOption(const std::string& option, Options* options) {
  if (option == "-y" || option == "--yes") {
    options->yes = true;
  } else if (option == "--json") {
    options->json = true;
  } else if (option == "--summary") {
    options->summary = true;
  } else if (option == "--wait" || option.rfind("--wait=", 0) == 0) {
    return TakeWait(option, options);
  } else if (option == "-h" || option == "--help" || option == "--version" ||
             option == "--status" || option == "--restore" || option == "--dry-run") {
    AddAction(option, options);
  } else {
    return false;
  }
  return true;
}

bool IsHelp(const std::string& option) { return option == "-h" || option == "--help"; }

// One action at most ("-h" and "--help" are one); each takes only the flags
// that go with it.
std::string Conflict(const Options& options, const std::string& argumentText) {
  const std::vector<std::string>& actions = options.actions;
  if (actions.size() > 1 && !(actions.size() == 2 && IsHelp(actions[0]) && IsHelp(actions[1])))
    return actions[0] + " and " + actions[1] + " do not go together";
  std::string action = actions.empty() ? "" : actions[0];
  if (IsHelp(action) || action == "--version") {
    if (options.yes || options.json || options.summary || !options.wait.empty() ||
        !argumentText.empty())
      return action + " takes no other option and no folder";
    return "";
  }
  if (options.json && action != "--status") return "--json goes with --status only";
  if (options.summary && action != "--dry-run") return "--summary goes with --dry-run only";
  if (action == "--status" && (options.yes || !options.wait.empty()))
    return "--status takes no other option than --json";
  if (action == "--status" && !argumentText.empty()) return "--status takes no folder";
  return "";
}

CommandLine::Action ActionOf(const std::string& option) {
  using Action = CommandLine::Action;
  if (IsHelp(option)) return Action::kHelp;
  if (option == "--version") return Action::kVersion;
  if (option == "--status") return Action::kStatus;
  if (option == "--restore") return Action::kRestore;
  return Action::kUpdate;  // none, or --dry-run
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  Options options;
  size_t next = 0;
  for (; next < arguments.size(); ++next) {
    const std::string& argument = arguments[next];
    if (argument == "--") {
      ++next;
      break;
    }
    if (argument.size() < 2 || argument[0] != '-') break;
    if (!TakeOption(argument, &options)) {
      if (argument.rfind("--wait=", 0) == 0) return Wrong("--wait takes a number of seconds: " + argument);
      return Wrong("unknown option " + argument);
    }
  }
  CommandLine line;
  line.argument_text = Joined(arguments, next);
  std::string conflict = Conflict(options, line.argument_text);
  if (!conflict.empty()) return Wrong(conflict);
  line.action = ActionOf(options.actions.empty() ? "" : options.actions[0]);
  line.yes = options.yes;
  line.json = options.json;
  line.summary = options.summary;
  line.wait_seconds = options.wait_seconds;
  line.dry_run = !options.actions.empty() && options.actions[0] == "--dry-run";
  return line;
}

std::string UsageText() {
  return "usage: tabsync [-y|--yes] [--wait[=SECONDS]] [--dry-run [--summary]] [--]\n"
         "               [UPDATE_FOLDER]\n"
         "       tabsync --status [--json]\n"
         "       tabsync [-y|--yes] [--wait[=SECONDS]] --restore [RUN]\n"
         "       tabsync -h|--help | --version\n"
         "\n"
         "Merges a release's update information (UPDATE_FOLDER, the current directory\n"
         "when none is given) into the six databases registered as ODBC data sources.\n"
         "\n"
         "  -y, --yes     answer Yes to every question; show nothing that waits\n"
         "  --dry-run     update copies of the databases in a temporary folder and\n"
         "                print the log; nothing else changes\n"
         "  --summary     with --dry-run: print per database what the run would do,\n"
         "                in counts, instead of the log\n"
         "  --status      show each database, its release, its backups and whether an\n"
         "                update is running (--json: the same as JSON)\n"
         "  --restore     undo the last update run, or return every database to its\n"
         "                state just before the backup history's run RUN\n"
         "                (YYYYMMDD-HHMMSS, an update or a restore)\n"
         "  --wait[=SECONDS]\n"
         "                while another run holds the run lock, wait until it is free\n"
         "                (at most SECONDS) instead of stopping\n"
         "  --            end of the options: the rest is the folder\n"
         "\n"
         "--help, --version, --status, --restore and --dry-run exclude each other;\n"
         "-y and --wait go with a run or --restore, --json with --status, --summary\n"
         "with --dry-run.\n"
         "\n"
         "Exit status: 0 done (or declined), 1 done with errors (or the output\n"
         "could not be written), 2 stopped before anything was done (wrong command\n"
         "line, no location, another run), 3 a question got no answer (the input\n"
         "ended; --yes runs unattended), 130/143 stopped by SIGINT/SIGTERM.\n"
         "See tabsync(1).\n";
}

std::string JoinArguments(int argc, const char* const* argv) {
  return Joined(std::vector<std::string>(argv + std::min(argc, 1), argv + argc), 0);
}

std::string GetCommandLineFolder(const std::string& argumentText) {
  std::string folder = argumentText;
  std::erase_if(folder, [](char c) { return c == '"' || c == '\t'; });
  return folder;
}

}  // namespace tabsync::startup
