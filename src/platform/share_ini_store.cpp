#include "platform/share_ini_store.h"

#include <stdlib.h>

#include "platform/ini_file.h"

namespace tabsync::platform {
namespace {

class ShareIniStore : public SharedFilesStore {
 public:
  bool ReadSharedFilesLocation(std::string* value) const override {
    std::string text;
    if (!ReadTextFile(ShareIniPath(), &text)) return false;
    return ReadIniValue(text, "Share", "SharedFilesLocation", value);
  }

  std::string Source() const override { return ShareIniPath(); }

  bool ReadSetting(const std::string& key, std::string* value) const override {
    std::string text;
    if (!ReadTextFile(ShareIniPath(), &text)) return false;
    return ReadIniValue(text, "tabsync", key, value);
  }
};

}  // namespace

std::unique_ptr<SharedFilesStore> NewShareIniStore() { return std::make_unique<ShareIniStore>(); }

std::string ShareIniPath() {
  const char* folder = getenv("TABSYNC_SYSCONFDIR");
  std::string base = folder != nullptr && *folder != '\0' ? folder : kDefaultSysconfDir;
  if (base.back() != '/') base += '/';
  return base + "share.ini";
}

}  // namespace tabsync::platform
