#include "import/catalogue_rows.h"

#include <gtest/gtest.h>

#include "dbengine/dao.h"

namespace tabsync::import {
namespace {

TEST(CatalogueRowsTest, TheLongestMatchingPathMapWinsIgnoringCase) {
  std::vector<PathMapping> maps = {{"C:\\Korvane\\", "/srv/korvane/"},
                                   {"c:\\korvane\\Shared\\", "/mnt/shared/"}};
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Korvane\\DB\\config.mdb", "/srv/korvane/DB/config.mdb"},
      {"c:\\KORVANE\\shared\\x.accdb", "/mnt/shared/x.accdb"},
  };
  for (const auto& [path, mapped_path] : cases) {
    bool mapped = false;
    EXPECT_EQ(mapped_path, MapPath(path, maps, &mapped));
    EXPECT_TRUE(mapped);
  }
  bool mapped = true;
  EXPECT_EQ("D:\\Other\\x.mdb", MapPath("D:\\Other\\x.mdb", maps, &mapped));
  EXPECT_FALSE(mapped);
}

TEST(CatalogueRowsTest, PathMapNeedsBothSides) {
  PathMapping mapping;
  EXPECT_TRUE(ParsePathMapping("Z:\\a=b=c", &mapping));
  EXPECT_EQ("Z:\\a", mapping.from);
  EXPECT_EQ("b=c", mapping.to);
  for (const char* wrong : {"", "=/srv/", "Z:\\a=", "no-equals"}) EXPECT_FALSE(ParsePathMapping(wrong, &mapping)) << wrong;
}

TEST(CatalogueRowsTest, LinksAndTablesGetTheFormatsAttributeBits) {
  SourceLink desktop{"Rates", 6, 0x200008u, "Z:\\x.mdb", "", "Currencies"};
  dao::CatalogRow row = LinkRow(desktop, "/srv/x.mdb");
  EXPECT_EQ(";DATABASE=/srv/x.mdb", row.connect);
  EXPECT_EQ(dao::kTableAttached | dao::kTableHidden, row.attributes);
  EXPECT_EQ("Currencies", row.foreign_name);

  SourceLink odbc{"Orders", 4, 0x20100000u, "", "DSN=Shop;UID=u;PWD=secret", "dbo.Orders"};
  row = LinkRow(odbc, "");
  EXPECT_EQ("ODBC;DSN=Shop;UID=u;PWD=secret", row.connect);
  EXPECT_EQ(dao::kTableAttachedOdbc | dao::kTableAttachSavePassword, row.attributes);
  odbc.connect = "ODBC;DSN=Shop;Trusted_Connection=Yes";
  row = LinkRow(odbc, "");
  EXPECT_EQ("ODBC;DSN=Shop;Trusted_Connection=Yes", row.connect);
  EXPECT_EQ(dao::kTableAttachedOdbc, row.attributes);

  EXPECT_EQ(0, TableAttributes(0));
  EXPECT_EQ(dao::kTableHidden, TableAttributes(8));
  EXPECT_EQ(dao::kTableSystemObject | dao::kTableHidden, TableAttributes(0x8000000Au));
}

}  // namespace
}  // namespace tabsync::import
