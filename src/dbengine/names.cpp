#include "dbengine/names.h"

#include "dbengine/error.h"

namespace tabsync::dao {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string LowerName(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string QuoteName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void CheckNewName(std::string_view name) {
  // Brackets and the other characters would make the name unreachable from
  // the engine's SQL, where names stand bare or in square brackets.
  if (name.empty() || name.front() == ' ') throw InvalidName(std::string(name));
  for (unsigned char c : name)
    if (c < 0x20 || c == '.' || c == '!' || c == '[' || c == ']' || c == '`')
      throw InvalidName(std::string(name));
}

}  // namespace tabsync::dao
