#ifndef TABSYNC_IMPORT_COMMAND_LINE_H_
#define TABSYNC_IMPORT_COMMAND_LINE_H_

// tabsync-import's command line:
//   tabsync-import [OPTIONS] SOURCE OUTPUT
//   tabsync-import [OPTIONS] --folder SOURCE_FOLDER OUTPUT_FOLDER
//   tabsync-import --help | --version

#include <optional>
#include <string>
#include <vector>

#include "import/catalogue_rows.h"

namespace tabsync::import {

struct CommandLine {
  enum class Action { kHelp, kVersion, kFile, kFolder, kWrong };
  Action action = Action::kWrong;
  bool force = false;
  bool skip_unsupported = false;
  std::vector<PathMapping> path_maps;
  std::optional<std::string> password;  // --password
  std::string password_file;            // --password-file: the file that holds it
  std::string source;
  std::string output;
  std::string problem;  // kWrong: what is wrong, for stderr
};

// Reads the arguments after the program name. --help or --version anywhere
// wins; an unknown option, a --path-map without "FROM=TO", an option without
// its value, both --password and --password-file, or a count of paths other
// than two gives kWrong.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The text of --help.
std::string UsageText();

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_COMMAND_LINE_H_
