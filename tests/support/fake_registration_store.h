#ifndef TABSYNC_TESTS_SUPPORT_FAKE_REGISTRATION_STORE_H_
#define TABSYNC_TESTS_SUPPORT_FAKE_REGISTRATION_STORE_H_

#include <map>
#include <string>
#include <vector>

#include "platform/registration_store.h"

namespace tabsync::test {

// Data sources in memory, names compared ignoring letter case. Records every
// read as "<data source>.<key>".
class FakeRegistrationStore : public platform::RegistrationStore {
 public:
  // Registers (or replaces) the data source with "DBQ" = databasePath.
  void Register(const std::string& dataSource, const std::string& databasePath);
  void SetValue(const std::string& dataSource, const std::string& key, const std::string& value);

  bool ReadDataSourceValue(const std::string& data_source, const std::string& key,
                           std::string* value) const override;

  const std::vector<std::string>& Reads() const { return reads_; }

  // Makes the store unreadable: CanBeRead is false, UnreadableCause gives
  // `cause` (none: as a missing store) and nothing is read.
  void MakeUnreadable(const std::string& cause = "") {
    readable_ = false;
    cause_ = cause;
  }
  bool CanBeRead() const override { return readable_; }
  std::string UnreadableCause() const override { return cause_; }
  std::string Source() const override { return "/etc/odbc.ini"; }

 private:
  std::map<std::string, std::map<std::string, std::string>> sources_;
  mutable std::vector<std::string> reads_;
  bool readable_ = true;
  std::string cause_;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FAKE_REGISTRATION_STORE_H_
