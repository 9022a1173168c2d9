#include "support/fake_odbc_installer.h"

namespace tabsync::test {

bool FakeOdbcInstaller::AddSystemDataSource(const std::string& name,
                                            const std::string& databaseFile) {
  std::string request = name + "=" + databaseFile;
  if (failing_.count(name) != 0) {
    requests_.push_back(request + " FAILED");
    return false;
  }
  requests_.push_back(request);
  store_.Register(name, databaseFile);
  store_.SetValue(name, "Driver", platform::kDataSourceDriver);
  return true;
}

}  // namespace tabsync::test
