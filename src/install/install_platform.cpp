#include "install/install_platform.h"

namespace tabsync::install {

void ShowCritical(platform::UserInterface& ui, const std::string& text) {
  ui.ShowMessage({text, platform::kProgramTitle, platform::MessageIcon::kCritical,
                  platform::MessageButtons::kOk});
}

std::string ErrorLine(const Error& error) {
  return "Error " + std::to_string(error.Number()) + ": " + error.Description();
}

bool HasControlCharacter(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  }
  return false;
}

}  // namespace tabsync::install
