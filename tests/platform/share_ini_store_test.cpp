#include "platform/share_ini_store.h"

#include <stdlib.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace tabsync::platform {
namespace {

class ShareIniStoreTest : public ::testing::Test {
 protected:
  ShareIniStoreTest() { setenv("TABSYNC_SYSCONFDIR", dir_.Path().c_str(), 1); }
  ~ShareIniStoreTest() override { unsetenv("TABSYNC_SYSCONFDIR"); }

  void WriteShareIni(const std::string& text) {
    std::ofstream(dir_.File("share.ini"), std::ios::binary) << text;
  }
  std::string Read() {
    std::string value = "untouched";
    return NewShareIniStore()->ReadSharedFilesLocation(&value) ? value : "false|" + value;
  }

  test::TempDir dir_;
};

TEST_F(ShareIniStoreTest, LocationIsReadTrimmed) {
  WriteShareIni("; installed 2026\r\n[share]\r\nsharedfileslocation =  /srv/my shared \r\n");
  EXPECT_EQ("/srv/my shared", Read());
}

TEST_F(ShareIniStoreTest, MissingFileSectionOrKeyIsNotRegistered) {
  EXPECT_EQ("false|untouched", Read());
  WriteShareIni("[Other]\nSharedFilesLocation=/srv\n");
  EXPECT_EQ("false|untouched", Read());
  WriteShareIni("[Share]\nLocation=/srv\n");
  EXPECT_EQ("false|untouched", Read());
}

TEST_F(ShareIniStoreTest, EmptyValueIsRegistered) {
  WriteShareIni("[Share]\nSharedFilesLocation=\n");
  EXPECT_EQ("", Read());
}

TEST_F(ShareIniStoreTest, FileIsLookedForWhereTheVariableSays) {
  // Path() ends in "/"; without it the "/" is added.
  EXPECT_EQ(dir_.File("share.ini"), ShareIniPath());
  std::string without_slash = dir_.Path().substr(0, dir_.Path().size() - 1);
  setenv("TABSYNC_SYSCONFDIR", without_slash.c_str(), 1);
  EXPECT_EQ(dir_.File("share.ini"), ShareIniPath());
  setenv("TABSYNC_SYSCONFDIR", "", 1);
  EXPECT_EQ("/etc/korvane/share.ini", ShareIniPath());
  unsetenv("TABSYNC_SYSCONFDIR");
  EXPECT_EQ("/etc/korvane/share.ini", ShareIniPath());
}

}  // namespace
}  // namespace tabsync::platform
