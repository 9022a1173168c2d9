#ifndef TABSYNC_PLATFORM_INI_FILE_H_
#define TABSYNC_PLATFORM_INI_FILE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tabsync::platform {

// Reads one value from the text of an ini file by the rules of unixODBC's own
// reader, so that this program sees a data source exactly as the driver
// manager does (docs/data-sources.md):
// - lines end in "\n"; white space (blank, tab, "\r", "\v", "\f") around a
//   line's parts is trimmed;
// - a line that is empty or blank is skipped anywhere; a line starting with
//   "#" or ";" is a comment;
// - a line starting with "[" begins a section named by the text up to "]" (or
//   the line's end), trimmed;
// - inside a section, a line is key "=" value only when its first character is
//   an ASCII letter or digit (an indented line is ignored); it is split at the
//   first "=" (a line without "=" is a key with an empty value);
// - a line other than a comment or blank before the first section makes the
//   whole file unreadable;
// - section and key names compare ignoring letter case; only the first section
//   of a name is consulted, and in it the first line of the key.
// False, with *value untouched, when the section or key is not found.
bool ReadIniValue(std::string_view text, std::string_view section, std::string_view key,
                  std::string* value);

// The line rules of that reader, for a writer that changes a file and must
// know how its lines will be read. Each line is given without its "\n".
// - A line that starts with "[" (before any blank) begins a section.
bool IsIniSectionLine(std::string_view line);
// - The name of such a section line, trimmed.
std::string_view IniSectionName(std::string_view line);
// - Inside a section, a line is a key only when it starts with an ASCII
//   letter or digit.
bool IsIniKeyLine(std::string_view line);
// - Section and key names are equal ignoring ASCII letter case only.
bool IniNamesEqual(std::string_view a, std::string_view b);

// The most bytes an ini file (share.ini, odbc.ini) may hold: 1 MiB, some
// thousand times what six data sources need. A larger file is refused
// rather than read without end (a link to /dev/zero).
constexpr size_t kMaxIniFileSize = 1024 * 1024;

// Reads the whole file at `path` into *text. False when it cannot be opened
// or read (a folder among them), is no regular file or link to one (a FIFO
// is never waited on, a device never read), or holds more than
// kMaxIniFileSize bytes; *text may then hold part of the file.
bool ReadTextFile(const std::string& path, std::string* text);

// Why ReadTextFile refuses the file at `path` although it is there, for a
// message after the path: "a folder", "no regular file (a FIFO, a device or
// a socket)", "larger than 1 MiB (1,048,576 bytes)" or "not readable: " and
// the system's reason. "" when it can be read, or when there is no such file
// (nor one that a symbolic link there leads to). Reads at most
// kMaxIniFileSize bytes, and never waits.
std::string TextFileProblem(const std::string& path);

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_INI_FILE_H_
