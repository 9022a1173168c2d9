#include "platform/odbc_ini_store.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "platform/ini_file.h"

// Exported by libodbcinst, but <odbcinstext.h> declares it only while
// unixODBC itself is being built.
extern "C" char* odbcinst_system_file_path(char* buffer);

namespace tabsync::platform {
namespace {

class OdbcIniStore : public RegistrationStore {
 public:
  // Reads the file on every call: another program may register a data source
  // at any time, and the driver manager's own profile reader keeps a copy for
  // some seconds, which would hide that.
  bool ReadDataSourceValue(const std::string& data_source, const std::string& key,
                           std::string* value) const override {
    std::string text;
    if (!ReadTextFile(SystemOdbcIniPath(), &text)) return false;
    return ReadIniValue(text, data_source, key, value);
  }

  bool CanBeRead() const override {
    std::string text;
    return ReadTextFile(SystemOdbcIniPath(), &text);
  }

  std::string UnreadableCause() const override { return TextFileProblem(SystemOdbcIniPath()); }

  std::string Source() const override { return SystemOdbcIniPath(); }
};

}  // namespace

std::unique_ptr<RegistrationStore> NewOdbcIniStore() { return std::make_unique<OdbcIniStore>(); }

std::string SystemOdbcIniPath() {
  // libodbcinst copies ODBCSYSINI into buffers of this size without checking
  // its length; a longer value is taken as it stands instead of overrunning
  // them. It names no folder that can be opened anyway.
  constexpr size_t kLibraryBuffer = 4096;
  const char* variable = getenv("ODBCSYSINI");
  if (variable != nullptr && strlen(variable) >= kLibraryBuffer) {
    return std::string(variable) + "/odbc.ini";
  }
  // The result, not the buffer, names the folder: once libodbcinst has fixed
  // the folder, and whenever ODBCSYSINI is unset, it returns its own string
  // and leaves the buffer as it was.
  char buffer[PATH_MAX + 1] = {};
  return std::string(odbcinst_system_file_path(buffer)) + "/odbc.ini";
}

}  // namespace tabsync::platform
