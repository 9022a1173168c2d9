#ifndef TABSYNC_LOG_LOG_LINE_H_
#define TABSYNC_LOG_LOG_LINE_H_

#include <string>
#include <string_view>

#include "platform/clock.h"

namespace tabsync::log {

// The bytes of one log-file line: with bDateTime, the date "MM-DD-YYYY", a
// blank, the time "HH:MM:SS" (24-hour) and a blank; then sText exactly as
// given; then carriage return + line feed. Without bDateTime the text starts
// the line.
std::string FormatLogLine(std::string_view sText, bool bDateTime, const platform::LocalTime& now);

}  // namespace tabsync::log

#endif  // TABSYNC_LOG_LOG_LINE_H_
