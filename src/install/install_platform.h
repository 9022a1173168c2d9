#ifndef TABSYNC_INSTALL_INSTALL_PLATFORM_H_
#define TABSYNC_INSTALL_INSTALL_PLATFORM_H_

#include <string>

#include "base/error.h"
#include "platform/file_system.h"
#include "platform/odbc_installer.h"
#include "platform/registration_store.h"
#include "platform/user_interface.h"

namespace tabsync::install {

// The platform the installation flow works on. The objects must outlive every
// call that is given them.
struct InstallPlatform {
  platform::FileSystem& files;
  const platform::RegistrationStore& registrations;
  platform::OdbcInstaller& installer;
  platform::UserInterface& ui;
};

// Shows a message box with the critical icon, an OK button and the program's
// title.
void ShowCritical(platform::UserInterface& ui, const std::string& text);

// "Error " + number + ": " + description, as the installation flow reports a
// failure to the operator.
std::string ErrorLine(const Error& error);

// True when the text holds a control character (below 0x20, or 0x7f), which
// no path the installation writes to may hold.
bool HasControlCharacter(const std::string& text);

}  // namespace tabsync::install

#endif  // TABSYNC_INSTALL_INSTALL_PLATFORM_H_
