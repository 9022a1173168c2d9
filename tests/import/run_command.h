#ifndef TABSYNC_TESTS_IMPORT_RUN_COMMAND_H_
#define TABSYNC_TESTS_IMPORT_RUN_COMMAND_H_

#include <string>
#include <vector>

namespace tabsync::test {

struct CommandResult {
  int status = -1;  // exit status; -1 when killed by a signal
  std::string out;
  std::string err;
};

// Where and how a command runs: the current directory's folder (empty: this
// process's), the environment (empty: this process's) and standard input.
struct CommandSetting {
  std::string folder;
  std::vector<std::string> environment;  // "NAME=value"
  std::string input;
};

// Runs argv[0] (a path) with the arguments and collects its output.
CommandResult RunCommand(const std::vector<std::string>& argv, const CommandSetting& setting = {});

// Runs the built tabsync-import with the arguments.
CommandResult RunImport(const std::vector<std::string>& arguments);

// The real files of the import tests: TABSYNC_IMPORT_DATA + name.
std::string ImportData(const std::string& name);

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_IMPORT_RUN_COMMAND_H_
