#include "import/command_line.h"

namespace tabsync::import {

namespace {

CommandLine Wrong(std::string problem) {
  CommandLine line;
  line.problem = std::move(problem);
  return line;
}

CommandLine Only(CommandLine::Action action) {
  CommandLine line;
  line.action = action;
  return line;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  bool folder = false;
  std::vector<std::string> paths;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") return Only(CommandLine::Action::kHelp);
    if (argument == "--version") return Only(CommandLine::Action::kVersion);
  }
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--force") {
      line.force = true;
    } else if (argument == "--skip-unsupported") {
      line.skip_unsupported = true;
    } else if (argument == "--folder") {
      folder = true;
    } else if (argument == "--path-map" || argument.rfind("--path-map=", 0) == 0) {
      std::string value = argument == "--path-map" ? (i + 1 < arguments.size() ? arguments[++i] : "")
                                                   : argument.substr(11);
      PathMapping mapping;
      if (!ParsePathMapping(value, &mapping)) return Wrong("--path-map needs 'FROM=TO', not '" + value + "'");
      line.path_maps.push_back(mapping);
    } else if (argument == "--password" || argument == "--password-file") {
      if (i + 1 >= arguments.size()) return Wrong(argument + " needs a value");
      if (line.password || !line.password_file.empty()) return Wrong("give one --password or --password-file");
      const std::string& value = arguments[++i];
      if (argument == "--password") {
        line.password = value;
      } else if (value.empty()) {
        return Wrong("--password-file needs a file");
      } else {
        line.password_file = value;
      }
    } else if (argument == "--") {
      paths.insert(paths.end(), arguments.begin() + static_cast<long>(i) + 1, arguments.end());
      break;
    } else if (argument.size() > 1 && argument[0] == '-') {
      return Wrong("unknown option " + argument);
    } else {
      paths.push_back(argument);
    }
  }
  if (paths.size() != 2) return Wrong(folder ? "give a source folder and an output folder" : "give a source file and an output file");
  line.action = folder ? CommandLine::Action::kFolder : CommandLine::Action::kFile;
  line.source = paths[0];
  line.output = paths[1];
  return line;
}

std::string UsageText() {
  return "Usage: tabsync-import [OPTIONS] SOURCE.mdb OUTPUT.mdb\n"
         "       tabsync-import [OPTIONS] --folder SOURCE_FOLDER OUTPUT_FOLDER\n"
         "Converts Jet 3, Jet 4 and ACE database files (.mdb, .accdb) into tabsync's\n"
         "database format. With --folder, every .mdb and .accdb file of SOURCE_FOLDER\n"
         "becomes a file of the same name in OUTPUT_FOLDER.\n"
         "\n"
         "Options:\n"
         "  --force                replace an output file that exists (only a regular\n"
         "                         file, never the source itself)\n"
         "  --path-map FROM=TO     a linked table's file path that begins with FROM\n"
         "                         begins with TO instead, with \\ turned into /\n"
         "                         (repeatable; the longest matching FROM wins)\n"
         "  --skip-unsupported     leave out the columns the format cannot hold,\n"
         "                         with a warning each, instead of failing\n"
         "  --password PASSWORD    the database password of a file protected by one\n"
         "  --password-file FILE   the same, read from the first line of FILE\n"
         "  --help                 show this text\n"
         "  --version              show the version\n"
         "\n"
         "Exit status: 0 all converted, 1 a file was not converted (or the output\n"
         "could not be written), 2 wrong arguments.\n";
}

}  // namespace tabsync::import
