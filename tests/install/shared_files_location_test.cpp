#include "install/shared_files_location.h"

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix_file_system.h"
#include "support/temp_dir.h"

namespace tabsync::install {
namespace {

// Real folders and links: the update folder up/, a link release -> up, a
// folder other/ beside it.
TEST(LiesInFolderTest, ComparesWhereFoldersAndLinksLeadNotTheirNames) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.File("up/sub"));
  std::filesystem::create_directories(dir.File("other"));
  std::filesystem::create_directory_symlink("up", dir.File("release"));
  std::filesystem::create_directory_symlink("../up/sub", dir.File("other/into"));
  std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  struct Case {
    std::string inner, outer;
    bool in;
  };
  const Case cases[] = {
      {"up/", "up", true},
      {"release/", "up", true},
      {"other/../up//", "release", true},
      {"up/Infrastructure/DB/", "up", true},         // not made yet, would be made there
      {"other/into/Infrastructure/DB/", "up", true},  // through a link inside
      {"other/Infrastructure/DB/", "up", false},
      {"up/", "up/sub", false},                       // the update folder inside
      {"other/", "missing", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.in, LiesInFolder(*files, dir.File(c.inner), dir.File(c.outer)))
        << c.inner << " in " << c.outer;
  }
}

}  // namespace
}  // namespace tabsync::install
