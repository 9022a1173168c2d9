#include "install/data_sources.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "install/data_source_lookup.h"
#include "install/shared_files_location.h"
#include "support/fake_install_test.h"
#include "support/fake_shared_files_store.h"

namespace tabsync::install {
namespace {

using Strings = std::vector<std::string>;

constexpr char kTarget[] = "/srv/shared/Infrastructure/DB/";

// The location read, or "false|<untouched path>".
std::string Location(const test::FakeSharedFilesStore& store) {
  std::string path = "untouched";
  return GetSharedFilesLocation(store, &path) ? path : "false|" + path;
}

TEST(SharedFilesLocationTest, TrailingSlashIsAddedOnlyWhenMissing) {
  test::FakeSharedFilesStore store;
  store.Register("/srv/shared");
  EXPECT_EQ("/srv/shared/", Location(store));
  store.Register("/srv/shared/");
  EXPECT_EQ("/srv/shared/", Location(store));
}

TEST(SharedFilesLocationTest, EmptyValueIsTheRoot) {
  test::FakeSharedFilesStore store;
  store.Register("");
  EXPECT_EQ("/", Location(store));
}

TEST(SharedFilesLocationTest, UnregisteredOrTooLongLeavesThePathAlone) {
  test::FakeSharedFilesStore store;
  EXPECT_EQ("false|untouched", Location(store));
  store.Register("/" + std::string(kMaxSharedFilesLocationBytes - 1, 'a'));
  EXPECT_EQ(kMaxSharedFilesLocationBytes + 1, Location(store).size());
  store.Register("/" + std::string(kMaxSharedFilesLocationBytes, 'a'));
  EXPECT_EQ("false|untouched", Location(store));
}

class DataSourcesTest : public test::FakeInstallTest {};

TEST_F(DataSourcesTest, CreatedDataSourceIsReadBack) {
  EXPECT_TRUE(CreateDataSource(platform_, "Users", "/db/users.mdb"));
  std::string value;
  ASSERT_TRUE(registrations_.ReadDataSourceValue("Users", "DBQ", &value));
  EXPECT_EQ("/db/users.mdb", value);
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(DataSourcesTest, RefusedDataSourceShowsTheFailureMessage) {
  installer_.FailFor("Users");
  EXPECT_FALSE(CreateDataSource(platform_, "Users", "/db/users.mdb"));
  EXPECT_EQ(Strings{"critical/ok Korvane Database Update: DSN: Users[/db/users.mdb] creation failed."},
            Messages());
}

TEST_F(DataSourcesTest, PathTheLookupCannotReadBackIsRefused) {
  std::string longest = "/" + std::string(kMaxDataSourceValueBytes - 1, 'd');
  EXPECT_TRUE(CreateDataSource(platform_, "Users", longest));
  EXPECT_FALSE(CreateDataSource(platform_, "Users", longest + "d"));
  EXPECT_EQ(Strings{"Users=" + longest}, installer_.Requests());
  ASSERT_EQ(1u, ui_.Messages().size());
  EXPECT_EQ("DSN: Users[" + longest + "d] creation failed.", ui_.Messages()[0].text);
}

TEST_F(DataSourcesTest, AllMissingAreCreatedInTheirOrderPointingAtTheTarget) {
  EXPECT_FALSE(CheckDataSources(platform_, kTarget));
  EXPECT_EQ((Strings{
                std::string("Accounting=") + kTarget + "accounting.mdb",
                std::string("Orbisdat=") + kTarget + "availability.mdb",
                std::string("OnlineShop=") + kTarget + "onlineshop.mdb",
                std::string("Resource=") + kTarget + "resource.mdb",
                std::string("Config=") + kTarget + "config.mdb",
                std::string("Users=") + kTarget + "users.mdb",
            }),
            installer_.Requests());
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(DataSourcesTest, EachFailedCreationIsReportedAndTheCheckGoesOn) {
  installer_.FailFor("Orbisdat");
  installer_.FailFor("Users");
  EXPECT_FALSE(CheckDataSources(platform_, kTarget));
  EXPECT_EQ(6u, installer_.Requests().size());
  EXPECT_EQ((Strings{
                std::string("critical/ok Korvane Database Update: DSN: Orbisdat[") + kTarget +
                    "availability.mdb] creation failed.",
                std::string("critical/ok Korvane Database Update: DSN: Users[") + kTarget +
                    "users.mdb] creation failed.",
            }),
            Messages());
}

TEST_F(DataSourcesTest, AllInTheTargetNeedNoMove) {
  for (const char* name : {"Accounting", "Orbisdat", "OnlineShop", "Resource", "Config", "Users"})
    registrations_.Register(name, std::string(kTarget) + "x.mdb");
  EXPECT_FALSE(CheckDataSources(platform_, kTarget));
  EXPECT_TRUE(installer_.Requests().empty());
}

TEST_F(DataSourcesTest, LetterCaseCountsForAccountingOnly) {
  for (const char* name : {"Orbisdat", "OnlineShop", "Resource", "Config", "Users"})
    registrations_.Register(name, "/SRV/Shared/Infrastructure/db/x.mdb");
  EXPECT_FALSE(CheckDataSources(platform_, kTarget));
  registrations_.Register("Accounting", "/srv/shared/Infrastructure/db/accounting.mdb");
  EXPECT_TRUE(CheckDataSources(platform_, kTarget));
}

TEST_F(DataSourcesTest, OneDataSourceElsewhereMeansAMove) {
  for (const char* name : {"Accounting", "Orbisdat", "OnlineShop", "Resource", "Config"})
    registrations_.Register(name, std::string(kTarget) + "x.mdb");
  registrations_.Register("Users", "/old/db/users.mdb");
  EXPECT_TRUE(CheckDataSources(platform_, kTarget));
}

TEST_F(DataSourcesTest, MissingOnesAreStillCreatedAfterOneWasFoundElsewhere) {
  registrations_.Register("Accounting", "/old/db/accounting.mdb");
  registrations_.Register("Resource", "/old/db/resource.mdb");
  EXPECT_TRUE(CheckDataSources(platform_, kTarget));
  EXPECT_EQ((Strings{
                std::string("Orbisdat=") + kTarget + "availability.mdb",
                std::string("OnlineShop=") + kTarget + "onlineshop.mdb",
                std::string("Config=") + kTarget + "config.mdb",
                std::string("Users=") + kTarget + "users.mdb",
            }),
            installer_.Requests());
}

}  // namespace
}  // namespace tabsync::install
