#ifndef TABSYNC_STARTUP_COMMAND_LINE_H_
#define TABSYNC_STARTUP_COMMAND_LINE_H_

#include <string>

namespace tabsync::startup {

// The command line's argument text: the program's arguments (argv[1] on)
// joined by single blanks, so that `tabsync my folder` and
// `tabsync "my folder"` give the same text. "" without arguments.
std::string JoinArguments(int argc, const char* const* argv);

// The update folder named by the argument text: the text with every double
// quote and every tab removed, wherever they stand, and nothing else changed
// (blanks and letter case are kept; there are no options). "" names the
// current directory.
std::string GetCommandLineFolder(const std::string& argumentText);

}  // namespace tabsync::startup

#endif  // TABSYNC_STARTUP_COMMAND_LINE_H_
