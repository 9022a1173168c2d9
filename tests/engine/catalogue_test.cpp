#include "engine/catalogue.h"

#include <gtest/gtest.h>

namespace tabsync::engine {
namespace {

TEST(CatalogueTest, SixDatabasesInUpdateOrderWithTheirDataSources) {
  std::string rows;
  for (const CatalogueEntry& entry : DatabaseCatalogue) {
    rows += std::string(entry.file_name) + "=" + entry.data_source_name + ";";
  }
  EXPECT_EQ(
      "accounting.mdb=Accounting;availability.mdb=Orbisdat;config.mdb=Config;"
      "onlineshop.mdb=OnlineShop;resource.mdb=Resource;users.mdb=Users;",
      rows);
}

TEST(CatalogueTest, BaseNameDropsTheExtensionAndLowersTheCase) {
  EXPECT_EQ("accounting", BaseName("accounting.mdb"));
  EXPECT_EQ("onlineshop", BaseName("OnlineShop.MDB"));
  EXPECT_EQ("users", BaseName("users.xyz"));
  EXPECT_EQ("", BaseName(".mdb"));
  EXPECT_EQ("", BaseName("a"));
}

TEST(CatalogueTest, OnlyConfigAndResourceAreReferenceDatabases) {
  EXPECT_TRUE(IsDataDatabase("accounting.mdb"));
  EXPECT_TRUE(IsDataDatabase("availability.mdb"));
  EXPECT_TRUE(IsDataDatabase("onlineshop.mdb"));
  EXPECT_TRUE(IsDataDatabase("Users.MDB"));
  EXPECT_FALSE(IsDataDatabase("config.mdb"));
  EXPECT_FALSE(IsDataDatabase("resource.mdb"));
  EXPECT_FALSE(IsDataDatabase("orbisdat.mdb"));
}

}  // namespace
}  // namespace tabsync::engine
