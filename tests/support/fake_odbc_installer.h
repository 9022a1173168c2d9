#ifndef TABSYNC_TESTS_SUPPORT_FAKE_ODBC_INSTALLER_H_
#define TABSYNC_TESTS_SUPPORT_FAKE_ODBC_INSTALLER_H_

#include <set>
#include <string>
#include <vector>

#include "platform/odbc_installer.h"
#include "support/fake_registration_store.h"

namespace tabsync::test {

// An installer that registers data sources in a FakeRegistrationStore, as
// the real one writes the file the real store reads. Records every request.
class FakeOdbcInstaller : public platform::OdbcInstaller {
 public:
  explicit FakeOdbcInstaller(FakeRegistrationStore& store) : store_(store) {}

  // Requests for this data source return false and register nothing.
  void FailFor(const std::string& dataSourceName) { failing_.insert(dataSourceName); }

  // One entry per request, "<name>=<file>", failed ones with " FAILED".
  const std::vector<std::string>& Requests() const { return requests_; }

  bool AddSystemDataSource(const std::string& name, const std::string& databaseFile) override;
  // What AddSystemDataSource would return; records nothing.
  bool CanAddSystemDataSource(const std::string& name,
                              const std::string&) const override {
    return failing_.count(name) == 0;
  }

 private:
  FakeRegistrationStore& store_;
  std::set<std::string> failing_;
  std::vector<std::string> requests_;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FAKE_ODBC_INSTALLER_H_
