#include "platform/ini_file.h"

#include <errno.h>

#include <cstring>

#include "platform/posix_io.h"

namespace tabsync::platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view text) {
  size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(kBlanks);
  return text.substr(begin, end - begin + 1);
}

// 0, or the errno of the open or the read (posix_io.h: EISDIR, EINVAL, EFBIG).
int ReadTextFileError(const std::string& path, std::string* text) {
  int fd = posix::OpenRegularFile(path);
  if (fd < 0) return errno;
  posix::FileDescriptor file(fd);
  return posix::ReadAllUpTo(file.get(), kMaxIniFileSize, text);
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The lines of the text, without their "\n"; the last one may lack it.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : rest_(text) {}

  bool Next(std::string_view* line) {
    if (rest_.empty()) return false;
    size_t end = rest_.find('\n');
    *line = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    return true;
  }

 private:
  std::string_view rest_;
};

bool IsBlankOrComment(std::string_view line) {
  std::string_view trimmed = Trim(line);
  return trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';';
}

struct Property {
  std::string_view key;
  std::string_view value;
};

Property SplitProperty(std::string_view line) {
  size_t equals = line.find('=');
  if (equals == std::string_view::npos) return {Trim(line), {}};
  return {Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

// Skips what may stand before the first section. The driver manager refuses
// the whole file when anything else stands there, so false means the file
// holds nothing, as it does when it has no section at all.
bool ReachFirstSection(LineReader& lines, std::string_view* section_line) {
  std::string_view line;
  while (lines.Next(&line)) {
    if (IsIniSectionLine(line)) {
      *section_line = line;
      return true;
    }
    if (!IsBlankOrComment(line)) return false;
  }
  return false;
}

bool ReachSection(LineReader& lines, std::string_view line, std::string_view section) {
  do {
    if (IsIniSectionLine(line) && IniNamesEqual(IniSectionName(line), section)) return true;
  } while (lines.Next(&line));
  return false;
}

// Stops at the next section: a later section of the same name is not
// consulted, because the driver manager looks only at the first one.
bool ReadKeyOfSection(LineReader& lines, std::string_view key, std::string* value) {
  std::string_view line;
  while (lines.Next(&line)) {
    if (IsIniSectionLine(line)) return false;
    if (!IsIniKeyLine(line)) continue;
    Property property = SplitProperty(line);
    if (IniNamesEqual(property.key, key)) {
      value->assign(property.value);
      return true;
    }
  }
  return false;
}

}  // namespace

// ASCII only: the driver manager compares names with strcasecmp in the C
// locale, so letters outside ASCII must match exactly.
bool IniNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Tested before any trimming: a "[" after leading blanks does not open a
// section, neither before the first section nor inside one.
bool IsIniSectionLine(std::string_view line) { return !line.empty() && line[0] == '['; }

std::string_view IniSectionName(std::string_view line) {
  std::string_view inside = line.substr(1);
  return Trim(inside.substr(0, inside.find(']')));
}

// The driver manager reads a line as a key only when it starts with an ASCII
// letter or digit; an indented line or one starting with "_" or "=" is passed
// over.
bool IsIniKeyLine(std::string_view line) {
  if (line.empty()) return false;
  char c = line[0];
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool ReadIniValue(std::string_view text, std::string_view section, std::string_view key,
                  std::string* value) {
  LineReader lines(text);
  std::string_view line;
  if (!ReachFirstSection(lines, &line)) return false;
  if (!ReachSection(lines, line, section)) return false;
  return ReadKeyOfSection(lines, key, value);
}

bool ReadTextFile(const std::string& path, std::string* text) {
  return ReadTextFileError(path, text) == 0;
}

std::string TextFileProblem(const std::string& path) {
  std::string text;
  switch (int error = ReadTextFileError(path, &text)) {
    case 0:
    case ENOENT:
      return "";
    case EISDIR:
      return "a folder";
    case EINVAL:
      return "no regular file (a FIFO, a device or a socket)";
    case EFBIG:
      return "larger than 1 MiB (1,048,576 bytes)";
    default:
      return std::string("not readable: ") + std::strerror(error);
  }
}

}  // namespace tabsync::platform
