#ifndef TABSYNC_TESTS_SUPPORT_PRIVATE_ODBC_FOLDER_H_
#define TABSYNC_TESTS_SUPPORT_PRIVATE_ODBC_FOLDER_H_

#include <string>

namespace tabsync::test {

// A private folder for unixODBC's system files, so that tests never touch
// /etc/odbc.ini. The first call makes a temporary folder and points
// ODBCSYSINI at it; libodbcinst fixes its folder at its first use in a
// process, so every test of a process shares this folder, and the first call
// must come before anything asks libodbcinst. Ends in "/".
const std::string& PrivateOdbcFolder();

// Writes odbc.ini in that folder with exactly this text.
void WriteOdbcIni(const std::string& text);

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_PRIVATE_ODBC_FOLDER_H_
