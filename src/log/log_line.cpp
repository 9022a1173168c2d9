#include "log/log_line.h"

namespace tabsync::log {
namespace {

// Writes value as exactly `digits` decimal digits, then the separator. A run
// writes a line per action, so the prefix is built by hand rather than
// through a formatting library.
char* PutField(char* out, int value, int digits, char separator) {
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out[digits] = separator;
  return out + digits + 1;
}

void AppendDateTime(std::string* out, const platform::LocalTime& now) {
  char text[20];
  char* end = PutField(text, now.month, 2, '-');
  end = PutField(end, now.day, 2, '-');
  end = PutField(end, now.year, 4, ' ');
  end = PutField(end, now.hour, 2, ':');
  end = PutField(end, now.minute, 2, ':');
  end = PutField(end, now.second, 2, ' ');
  out->append(text, end - text);
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
