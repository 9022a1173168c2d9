#ifndef TABSYNC_PLATFORM_USER_INTERFACE_H_
#define TABSYNC_PLATFORM_USER_INTERFACE_H_

#include <memory>

#include "platform/log_window.h"

namespace tabsync::platform {

// What the program shows the operator. Abstract so that the logic can be tested
// against a fake; the console one is NewConsoleUserInterface() in
// console_user_interface.h.
class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A new log window, loaded and hidden, with its text at kLogWindowFirstLine.
  virtual std::unique_ptr<LogWindow> LoadLogWindow() = 0;
};

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_USER_INTERFACE_H_
