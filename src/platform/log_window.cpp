#include "platform/log_window.h"

namespace tabsync::platform {

std::string JoinedLogText(const std::deque<std::string>& lines) {
  std::string text = lines.front();
  for (auto line = lines.begin() + 1; line != lines.end(); ++line) {
    text += "\r\n";
    text += *line;
  }
  return text;
}

}  // namespace tabsync::platform
