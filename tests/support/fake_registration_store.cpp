#include "support/fake_registration_store.h"

#include <algorithm>

namespace tabsync::test {
namespace {

// Names compare as the driver manager compares them: ASCII letters without
// regard to case.
std::string AsciiLower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

}  // namespace

void FakeRegistrationStore::Register(const std::string& dataSource,
                                     const std::string& databasePath) {
  SetValue(dataSource, "DBQ", databasePath);
}

void FakeRegistrationStore::SetValue(const std::string& dataSource, const std::string& key,
                                     const std::string& value) {
  sources_[AsciiLower(dataSource)][AsciiLower(key)] = value;
}

bool FakeRegistrationStore::ReadDataSourceValue(const std::string& data_source,
                                                const std::string& key,
                                                std::string* value) const {
  reads_.push_back(data_source + "." + key);
  if (!readable_) return false;
  auto source = sources_.find(AsciiLower(data_source));
  if (source == sources_.end()) return false;
  auto entry = source->second.find(AsciiLower(key));
  if (entry == source->second.end()) return false;
  *value = entry->second;
  return true;
}

}  // namespace tabsync::test
