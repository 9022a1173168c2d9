#include "support/private_odbc_folder.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>

#include "support/temp_dir.h"

namespace tabsync::test {

const std::string& PrivateOdbcFolder() {
  // Lives as long as the process, and is removed at its end.
  static TempDir folder;
  static bool pointed = [] {
    std::string path = folder.Path();
    path.pop_back();
    return setenv("ODBCSYSINI", path.c_str(), 1) == 0;
  }();
  if (!pointed) throw std::runtime_error("cannot set ODBCSYSINI");
  return folder.Path();
}

void WriteOdbcIni(const std::string& text) {
  std::ofstream file(PrivateOdbcFolder() + "odbc.ini", std::ios::binary | std::ios::trunc);
  file << text;
  if (!file.flush()) throw std::runtime_error("cannot write odbc.ini");
}

}  // namespace tabsync::test
