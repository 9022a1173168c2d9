#include "import/catalogue_rows.h"

#include <tuple>

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

  // Jet's own links for the complex columns of a linked table keep their
  // system flag.
  SourceLink system{"MSysComplexType_Text", 6, 0x80000000u, "Z:\\x.accdb", "", "MSysComplexType_Text"};
  EXPECT_EQ(dao::kTableAttached | dao::kTableSystemObject, LinkRow(system, "/srv/x.accdb").attributes);

  EXPECT_EQ(0, TableAttributes(0));
  EXPECT_EQ(dao::kTableHidden, TableAttributes(8));
  EXPECT_EQ(dao::kTableSystemObject | dao::kTableHidden, TableAttributes(0x8000000Au));
}

TEST(CatalogueRowsTest, LinksToOtherFilesThanJetKeepTheirConnectTextWithTheMappedPath) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"Excel 12.0 Xml;HDR=YES;IMEX=2;ACCDB=YES;DATABASE=Z:\\in\\rates.xlsx", "Z:\\in\\rates.xlsx",
       "Excel 12.0 Xml;HDR=YES;IMEX=2;ACCDB=YES;DATABASE=/srv/in/rates.xlsx"},
      {"Text;DSN=Rates Link Specification;FMT=Delimited;HDR=NO;IMEX=2;CharacterSet=850;DATABASE=Z:\\in;TABLE=rates#txt",
       "Z:\\in", "Text;DSN=Rates Link Specification;FMT=Delimited;HDR=NO;IMEX=2;CharacterSet=850;DATABASE=/srv/in;TABLE=rates#txt"},
      {"dBASE IV;database=Z:\\in", "Z:\\in", "dBASE IV;database=/srv/in"},
  };
  for (const auto& [connect, path, mapped] : cases) {
    SourceLink link{"Rates", 6, 0, "Z:\\other\\ignored", connect, "rates"};
    EXPECT_TRUE(IsForeignFileLink(link));
    EXPECT_EQ(path, LinkedPath(link));
    bool found = false;
    dao::CatalogRow row = LinkRow(link, MapPath(LinkedPath(link), {{"Z:\\in", "/srv/in"}}, &found));
    EXPECT_EQ(mapped, row.connect);
    EXPECT_EQ(dao::kTableAttached, row.attributes);
  }
  EXPECT_FALSE(IsForeignFileLink({"T", 6, 0, "Z:\\x.mdb", "", "T"}));
  EXPECT_FALSE(IsForeignFileLink({"T", 6, 0, "Z:\\x.mdb", ";DATABASE=Z:\\x.mdb", "T"}));
}

}  // namespace
}  // namespace tabsync::import
