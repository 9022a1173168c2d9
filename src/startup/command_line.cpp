#include "startup/command_line.h"

#include <algorithm>

namespace tabsync::startup {

std::string JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

std::string GetCommandLineFolder(const std::string& argumentText) {
  std::string folder = argumentText;
  std::erase_if(folder, [](char c) { return c == '"' || c == '\t'; });
  return folder;
}

}  // namespace tabsync::startup
