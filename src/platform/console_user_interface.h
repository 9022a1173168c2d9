#ifndef TABSYNC_PLATFORM_CONSOLE_USER_INTERFACE_H_
#define TABSYNC_PLATFORM_CONSOLE_USER_INTERFACE_H_

#include <iosfwd>
#include <memory>

#include "platform/user_interface.h"

namespace tabsync::platform {

// The user interface without a display, a dialogue on the console
// (docs/installation.md):
// - A message box prints its title line, then its text, each line of the text
//   on a line of its own; to `err` for the critical icon, to `out` otherwise.
// - A Yes/No box then prints "(y/n) " to the same stream and reads one line
//   from `in`: "y" or "yes" is Yes, "n" or "no" is No, letter case ignored;
//   anything else prints "(y/n) " again. The end of the input is kNoAnswer,
//   and a line end follows the prompt. When `in` is not a terminal nobody else
//   echoes the answer, so it is printed after the prompt with a line end,
//   which keeps the output line by line.
// - An OK box does not wait.
// - The log window keeps its text in memory while hidden. Showing it prints
//   its caption and its text to `out`, then "Press Enter to close this
//   window."; the next WaitForEvent reads one line (or the end of input) and
//   closes it.
// The streams must outlive the interface and its windows.
std::unique_ptr<UserInterface> NewConsoleUserInterface(std::istream& in, std::ostream& out,
                                                       std::ostream& err);

// The same on standard input, output and error.
std::unique_ptr<UserInterface> NewConsoleUserInterface();

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_CONSOLE_USER_INTERFACE_H_
