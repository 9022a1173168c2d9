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

// Sets the flag of one option; false for an option tabsync does not know.
bool TakeOption(const std::string& option, CommandLine* line, bool* help, bool* version) {
  if (option == "-h" || option == "--help") {
    *help = true;
  } else if (option == "--version") {
    *version = true;
  } else if (option == "-y" || option == "--yes") {
    line->yes = true;
  } else if (option == "--dry-run") {
    line->dry_run = true;
  } else if (option == "--status") {
    line->action = CommandLine::Action::kStatus;
  } else if (option == "--json") {
    line->json = true;
  } else if (option == "--restore") {
    line->action = CommandLine::Action::kRestore;
  } else {
    return false;
  }
  return true;
}

// What does not go together, once the options are read.
std::string Conflict(const CommandLine& line) {
  using Action = CommandLine::Action;
  if (line.json && line.action != Action::kStatus) return "--json goes with --status only";
  if (line.action == Action::kStatus && (line.yes || line.dry_run))
    return "--status takes no other option than --json";
  if (line.action == Action::kStatus && !line.argument_text.empty())
    return "--status takes no folder";
  if (line.action == Action::kRestore && line.dry_run) return "--restore has no --dry-run";
  return "";
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  bool help = false, version = false;
  size_t next = 0;
  for (; next < arguments.size(); ++next) {
    const std::string& argument = arguments[next];
    if (argument == "--") {
      ++next;
      break;
    }
    if (argument.size() < 2 || argument[0] != '-') break;
    if (!TakeOption(argument, &line, &help, &version)) return Wrong("unknown option " + argument);
  }
  if (help) line.action = CommandLine::Action::kHelp;
  else if (version) line.action = CommandLine::Action::kVersion;
  line.argument_text = Joined(arguments, next);
  if (help || version) return line;
  std::string conflict = Conflict(line);
  return conflict.empty() ? line : Wrong(conflict);
}

std::string UsageText() {
  return "usage: tabsync [-y|--yes] [--dry-run] [--] [UPDATE_FOLDER]\n"
         "       tabsync --status [--json]\n"
         "       tabsync [-y|--yes] --restore [RUN]\n"
         "       tabsync -h|--help | --version\n"
         "\n"
         "Merges a release's update information (UPDATE_FOLDER, the current directory\n"
         "when none is given) into the six databases registered as ODBC data sources.\n"
         "\n"
         "  -y, --yes     answer Yes to every question; show nothing that waits\n"
         "  --dry-run     update copies of the databases in a temporary folder and\n"
         "                print the log; nothing else changes\n"
         "  --status      show each database, its release, its backups and whether an\n"
         "                update is running (--json: the same as JSON)\n"
         "  --restore     put the databases back from their .bak files, or from the\n"
         "                backup history's run folder RUN (YYYYMMDD-HHMMSS)\n"
         "  --            end of the options: the rest is the folder\n"
         "\n"
         "Exit status: 0 done (or declined), 1 done with errors, 2 stopped before\n"
         "anything was done (wrong command line, no location, another run).\n"
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
