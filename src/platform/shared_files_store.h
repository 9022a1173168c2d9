#ifndef TABSYNC_PLATFORM_SHARED_FILES_STORE_H_
#define TABSYNC_PLATFORM_SHARED_FILES_STORE_H_

#include <string>

namespace tabsync::platform {

// Where an earlier installation registered the shared-files location. Every
// call reads the store afresh.
//
// Abstract so that the logic can be tested against an in-memory fake; the real
// one is NewShareIniStore() in share_ini_store.h.
class SharedFilesStore {
 public:
  virtual ~SharedFilesStore() = default;

  // The registered shared-files location, blanks around it trimmed, whatever
  // its length. False, with *value untouched, when the store cannot be read
  // or holds no location.
  virtual bool ReadSharedFilesLocation(std::string* value) const = 0;

  // Where the store is kept, for messages to the operator (the path of
  // share.ini).
  virtual std::string Source() const = 0;

  // One of tabsync's own settings (share.ini's section [tabsync]), blanks
  // around it trimmed. False, with *value untouched, when the store cannot
  // be read or does not hold it.
  virtual bool ReadSetting(const std::string& key, std::string* value) const = 0;
};

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_SHARED_FILES_STORE_H_
