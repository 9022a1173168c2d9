#ifndef TABSYNC_DBENGINE_NAMES_H_
#define TABSYNC_DBENGINE_NAMES_H_

#include <string>
#include <string_view>

namespace tabsync::dao {

// Names of tables, columns and indexes compare ignoring the letter case of
// ASCII letters, as SQLite compares identifiers.
std::string LowerName(std::string_view name);
bool SameName(std::string_view a, std::string_view b);

// The name as an SQLite identifier: in double quotes, inner quotes doubled.
std::string QuoteName(std::string_view name);

// Raises 3125 for a name the engine will not create: empty, beginning with a
// blank, or holding a control character, ".", "!", "[", "]" or "`".
void CheckNewName(std::string_view name);

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_NAMES_H_
