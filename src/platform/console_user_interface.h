#ifndef TABSYNC_PLATFORM_CONSOLE_USER_INTERFACE_H_
#define TABSYNC_PLATFORM_CONSOLE_USER_INTERFACE_H_

#include <memory>

#include "platform/user_interface.h"

namespace tabsync::platform {

// The user interface without a display. Its log window keeps the window's text
// in memory and shows nothing on the screen.
std::unique_ptr<UserInterface> NewConsoleUserInterface();

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_CONSOLE_USER_INTERFACE_H_
