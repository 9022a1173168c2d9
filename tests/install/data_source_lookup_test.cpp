#include "install/data_source_lookup.h"

#include <string>

#include <gtest/gtest.h>

#include "support/fake_registration_store.h"

namespace tabsync::install {
namespace {

class DataSourceLookupTest : public ::testing::Test {
 protected:
  // The lookup's result, with the folder it gave after "|".
  std::string Lookup(const std::string& name) {
    std::string folder = "untouched";
    bool found = GetDataSourceFolder(store_, name, &folder);
    return (found ? "true|" : "false|") + folder;
  }

  test::FakeRegistrationStore store_;
};

TEST_F(DataSourceLookupTest, FolderOfTheDatabaseFileWithOneSlash) {
  store_.Register("Users", "/srv/korvane/Infrastructure/DB/users.mdb");
  EXPECT_EQ("true|/srv/korvane/Infrastructure/DB/", Lookup("Users"));
}

TEST_F(DataSourceLookupTest, FileInTheRootFolderKeepsTheRootsSlash) {
  store_.Register("Users", "/users.mdb");
  EXPECT_EQ("true|//", Lookup("Users"));
}

TEST_F(DataSourceLookupTest, UnregisteredDataSourceGivesFalseAndTheRoot) {
  EXPECT_EQ("false|/", Lookup("Users"));
}

TEST_F(DataSourceLookupTest, DataSourceWithoutDbqIsNotRegistered) {
  store_.SetValue("Users", "Driver", "SQLite3");
  EXPECT_EQ("false|/", Lookup("Users"));
}

TEST_F(DataSourceLookupTest, NameIsLookedUpIgnoringCase) {
  store_.Register("Orbisdat", "/db/availability.mdb");
  EXPECT_EQ("true|/db/", Lookup("ORBISDAT"));
  EXPECT_EQ("ORBISDAT.DBQ", store_.Reads().back());
}

TEST_F(DataSourceLookupTest, ValueOf511BytesIsReadAndLongerIsNot) {
  std::string folder = "/" + std::string(499, 'd') + "/";  // 501 bytes
  store_.Register("Users", folder + "users.mdb.");         // 511 bytes
  EXPECT_EQ("true|" + folder, Lookup("Users"));
  store_.Register("Users", folder + "users.mdb.x");  // 512 bytes
  EXPECT_EQ("false|/", Lookup("Users"));
}

TEST_F(DataSourceLookupTest, RelativePathWithoutFolderGivesTheRoot) {
  store_.Register("Users", "users.mdb");
  EXPECT_EQ("true|/", Lookup("Users"));
}

TEST_F(DataSourceLookupTest, EveryCallReadsTheStoreAfresh) {
  EXPECT_EQ("false|/", Lookup("Config"));
  store_.Register("Config", "/db/config.mdb");
  EXPECT_EQ("true|/db/", Lookup("Config"));
  store_.Register("Config", "/moved/config.mdb");
  EXPECT_EQ("true|/moved/", Lookup("Config"));
  EXPECT_EQ(3u, store_.Reads().size());
}

}  // namespace
}  // namespace tabsync::install
