#include "startup/space_estimate.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fake_file_system.h"
#include "support/fake_registration_store.h"

namespace tabsync::startup {
namespace {

std::vector<uint64_t> Parts(const SpaceNeed& need) {
  return {need.device, need.available, need.backups, need.copies, need.growth,
          need.journal, need.log,      need.history};
}

// Each kind of database adds its own parts, on the file system it lies on;
// the log and the history count where the shared folder lies, and a database
// the run skips counts nothing.
TEST(SpaceEstimateTest, EachDatabaseCountsOnItsFileSystem) {
  test::FakeFileSystem files;
  test::FakeRegistrationStore sources;
  files.SetDiskSpace("/vol", 5000, 7);
  auto install = [&](const char* source, const char* file, const std::string& folder,
                     size_t inUse, size_t update) {
    sources.Register(source, folder + file);
    files.AddFolder(folder);
    if (inUse) files.AddFile(folder + file, std::string(inUse, 'd'));
    files.AddFile(std::string("/inst/DB/") + file, std::string(update, 'u'));
  };
  install("Accounting", "accounting.mdb", "/srv/DB/", 1000, 100);  // data
  install("Config", "config.mdb", "/srv/DB/", 2000, 300);          // reference
  install("OnlineShop", "onlineshop.mdb", "/srv/DB/", 0, 40);      // missing: copied whole
  install("Users", "users.mdb", "/vol/", 500, 50);                 // data, elsewhere
  install("Resource", "resource.mdb", "/inst/DB/", 1, 1);          // in the update folder
  files.AddFile("/srv/DB/availability.mdb", "not registered");

  std::vector<SpaceNeed> needs = EstimateSpace(files, sources, "/inst/DB/", "/srv/DB/");
  ASSERT_EQ(2u, needs.size());
  EXPECT_EQ("/srv/DB/", needs[0].folder);
  EXPECT_EQ((std::vector<uint64_t>{0, uint64_t{1} << 40, 3000, 2300 + 40, 100, 1000,
                                   8 * 100 + 8 * 2000 + 8 * 50, 64 * 1024}),
            Parts(needs[0]));
  EXPECT_EQ("/vol/", needs[1].folder);
  EXPECT_EQ((std::vector<uint64_t>{7, 5000, 500, 0, 50, 500, 0, 0}), Parts(needs[1]));
  EXPECT_EQ(1050u, needs[1].Total());
}

}  // namespace
}  // namespace tabsync::startup
