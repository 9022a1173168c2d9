#include "log/log_line.h"

namespace tabsync::log {
namespace {

// Appends value as exactly `digits` decimal digits, then the separator. A run
// writes a line per action, so the prefix is built by hand rather than
// through a formatting library.
void AppendField(std::string* out, int value, int digits, char separator) {
  char text[4];
  for (int i = digits - 1; i >= 0; --i) {
    text[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out->append(text, digits);
  out->push_back(separator);
}

void AppendDateTime(std::string* out, const platform::LocalTime& now) {
  AppendField(out, now.month, 2, '-');
  AppendField(out, now.day, 2, '-');
  AppendField(out, now.year, 4, ' ');
  AppendField(out, now.hour, 2, ':');
  AppendField(out, now.minute, 2, ':');
  AppendField(out, now.second, 2, ' ');
}

}  // namespace

std::string FormatLogLine(std::string_view sText, bool bDateTime, const platform::LocalTime& now) {
  std::string line;
  line.reserve(sText.size() + 22);
  if (bDateTime) AppendDateTime(&line, now);
  line.append(sText);
  line.append("\r\n");
  return line;
}

}  // namespace tabsync::log
