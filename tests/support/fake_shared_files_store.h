#ifndef TABSYNC_TESTS_SUPPORT_FAKE_SHARED_FILES_STORE_H_
#define TABSYNC_TESTS_SUPPORT_FAKE_SHARED_FILES_STORE_H_

#include <map>
#include <optional>
#include <string>

#include "platform/shared_files_store.h"

namespace tabsync::test {

// A shared-files location in memory; none until Register.
class FakeSharedFilesStore : public platform::SharedFilesStore {
 public:
  void Register(const std::string& location) { location_ = location; }

  bool ReadSharedFilesLocation(std::string* value) const override {
    if (!location_) return false;
    *value = *location_;
    return true;
  }

  std::string Source() const override { return "/etc/korvane/share.ini"; }

  void SetSetting(const std::string& key, const std::string& value) { settings_[key] = value; }
  bool ReadSetting(const std::string& key, std::string* value) const override {
    auto found = settings_.find(key);
    if (found == settings_.end()) return false;
    *value = found->second;
    return true;
  }

 private:
  std::optional<std::string> location_;
  std::map<std::string, std::string> settings_;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FAKE_SHARED_FILES_STORE_H_
