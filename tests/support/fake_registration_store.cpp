#include "support/fake_registration_store.h"

#include "dbengine/names.h"

namespace tabsync::test {

void FakeRegistrationStore::Register(const std::string& dataSource,
                                     const std::string& databasePath) {
  SetValue(dataSource, "DBQ", databasePath);
}

void FakeRegistrationStore::SetValue(const std::string& dataSource, const std::string& key,
                                     const std::string& value) {
  sources_[dao::LowerName(dataSource)][dao::LowerName(key)] = value;
}

bool FakeRegistrationStore::ReadDataSourceValue(const std::string& data_source,
                                                const std::string& key,
                                                std::string* value) const {
  reads_.push_back(data_source + "." + key);
  if (!readable_) return false;
  auto source = sources_.find(dao::LowerName(data_source));
  if (source == sources_.end()) return false;
  auto entry = source->second.find(dao::LowerName(key));
  if (entry == source->second.end()) return false;
  *value = entry->second;
  return true;
}

}  // namespace tabsync::test
